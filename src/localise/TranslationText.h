#pragma once

// The text inside the interface file: its line splitting, field grammar and
// language numbers. Shared by the loader and by the tool that packs the file.

#include "localise/TranslateInterface.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace velantro::localise {

/// Splits text into lines at CR LF, a lone CR and a lone LF. A zero byte ends
/// the text; a line break at its very end opens no further line. Stops after
/// maxLines lines.
std::vector<std::string_view> SplitLines(std::string_view text, std::size_t maxLines = SIZE_MAX);

/// Fills entry from one line: Key from field 1, Lang from field 2 (read by
/// common::ReadInteger), Text from
/// field 3, each as soon as its field is taken. Throws std::runtime_error with
/// "List index out of bounds (N)", N the first missing field counted from 0,
/// or "'FIELD' is not a valid integer value".
void ReadTranslationLine(std::string_view line, TTranslation& entry);

} // namespace velantro::localise
