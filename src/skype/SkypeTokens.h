#pragma once

// Word cutting and integer reading for the chat client's text lines.

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace velantro::skype {

/// A set of one or two delimiter bytes; the chat client's lines need no more.
class TDelimiters {
public:
    constexpr explicit TDelimiters(char only)
        : First(only)
        , Second(only) {}
    constexpr TDelimiters(char first, char second)
        : First(first)
        , Second(second) {}

    constexpr bool Contains(char c) const { return c == First || c == Second; }
    constexpr bool IsSingle() const { return First == Second; }

    char First;
    char Second;
};

inline constexpr TDelimiters Blank{' '};
inline constexpr TDelimiters BlankAndComma{' ', ','};

/// Cuts the first word off text: skips leading delimiters, takes the bytes up
/// to the next delimiter, then skips the delimiters after the word. text
/// becomes what is left, which never begins with a delimiter.
inline std::string_view NextToken(std::string_view& text, TDelimiters delimiters) {
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p != end && delimiters.Contains(*p)) {
        ++p;
    }
    const char* const wordStart = p;
    if (delimiters.IsSingle()) {
        // One delimiter: the library's vectorised search finds the word's end.
        const void* found = std::memchr(p, delimiters.First, static_cast<std::size_t>(end - p));
        p = found != nullptr ? static_cast<const char*>(found) : end;
    } else {
        while (p != end && !delimiters.Contains(*p)) {
            ++p;
        }
    }
    const std::string_view word(wordStart, static_cast<std::size_t>(p - wordStart));
    while (p != end && delimiters.Contains(*p)) {
        ++p;
    }
    text = std::string_view(p, static_cast<std::size_t>(end - p));
    return word;
}

/// The same, on a byte string held by the caller and shortened in place.
std::string NextToken(std::string& text, TDelimiters delimiters);

/// Reads an optional sign followed by decimal digits, or by hexadecimal digits
/// after "$", "x", "X", "0x" or "0X". Empty when the word has any other form or
/// the value does not fit a signed 32-bit integer.
std::optional<std::int32_t> ReadInteger(std::string_view word);

} // namespace velantro::skype
