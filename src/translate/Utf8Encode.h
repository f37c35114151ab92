#pragma once

// UTF-16 to UTF-8, the way the system writes text for the chat client and
// its tools print it.

#include <string>
#include <string_view>

namespace velantro::translate {

/// Encodes text as UTF-8. A surrogate pair becomes one four-byte sequence; a
/// surrogate without its partner becomes U+FFFD.
std::string Utf8Encode(std::u16string_view text);

} // namespace velantro::translate
