#pragma once

// Plain text in and out of Apertium's stream format, as apertium-destxt and
// apertium-retxt make and read it, without a process for either.

#include <string>
#include <string_view>

namespace velantro::standins {

/// The stream for a UTF-8 text: the format's reserved characters escaped,
/// every blank other than one space kept in a superblank, and a sentence end
/// (".[]") before each paragraph break and at the end, so that the tagger
/// sees sentences end. NUL characters, which end a text in the pipeline's
/// null-flush mode, are left out.
std::string ToApertiumStream(std::string_view text);

/// The text of a translated stream: the inserted sentence ends dropped,
/// superblanks opened, escapes undone.
std::string FromApertiumStream(std::string_view stream);

} // namespace velantro::standins
