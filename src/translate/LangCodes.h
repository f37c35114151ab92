#pragma once

// The numeric language codes shared by the translation service and the
// interface texts.

#include <cstdint>

namespace velantro::translate {

/// The code of the language at a position of the language lists, which hold
/// "English", "Espanol", "Francais", "Български" in that order: 1, 5, 6, 2.
/// Any other position, -1 (nothing selected) included, gives 1 (English).
std::int32_t LangCodeFromComboIndex(std::int32_t position);

} // namespace velantro::translate
