#pragma once

// Word cutting and integer reading for the chat client's text lines.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velantro::skype {

inline constexpr std::string_view Blank = " ";
inline constexpr std::string_view BlankAndComma = " ,";

/// Cuts the first word off text: skips leading delimiters, takes the bytes up
/// to the next delimiter, then skips the delimiters after the word. text
/// becomes what is left, which never begins with a delimiter.
std::string_view NextToken(std::string_view& text, std::string_view delimiters);

/// The same, on a byte string held by the caller and shortened in place.
std::string NextToken(std::string& text, std::string_view delimiters);

/// Reads an optional sign followed by decimal digits, or by hexadecimal digits
/// after "$", "x", "X", "0x" or "0X". Empty when the word has any other form or
/// the value does not fit a signed 32-bit integer.
std::optional<std::int32_t> ReadInteger(std::string_view word);

} // namespace velantro::skype
