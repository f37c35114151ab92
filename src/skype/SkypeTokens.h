#pragma once

// Word cutting and integer reading for the chat client's text lines.

#include "common/IntegerText.h"

#include <bit>
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

    char First;
    char Second;
};

inline constexpr TDelimiters Blank{' '};
inline constexpr TDelimiters BlankAndComma{' ', ','};

/// The first byte in [p, end) that is in delimiters, or end. Words are
/// short, so eight bytes are tested at a time inline rather than calling a
/// library search.
inline const char* FindDelimiter(const char* p, const char* const end, TDelimiters delimiters) {
    constexpr std::uint64_t Ones = 0x0101010101010101;
    constexpr std::uint64_t Highs = 0x8080808080808080;
    const std::uint64_t first = Ones * static_cast<unsigned char>(delimiters.First);
    const std::uint64_t second = Ones * static_cast<unsigned char>(delimiters.Second);
    for (; end - p >= 8; p += 8) {
        std::uint64_t bytes;
        std::memcpy(&bytes, p, 8);
        // A zero byte in bytes ^ pattern marks a match; this classic test
        // flags it in the byte's high bit and never misses the first one.
        const std::uint64_t x = bytes ^ first;
        const std::uint64_t y = bytes ^ second;
        const std::uint64_t hits = ((x - Ones) & ~x & Highs) | ((y - Ones) & ~y & Highs);
        if (hits != 0) {
            return p + std::countr_zero(hits) / 8;
        }
    }
    while (p != end && !delimiters.Contains(*p)) {
        ++p;
    }
    return p;
}

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
    p = FindDelimiter(p, end, delimiters);
    const std::string_view word(wordStart, static_cast<std::size_t>(p - wordStart));
    while (p != end && delimiters.Contains(*p)) {
        ++p;
    }
    text = std::string_view(p, static_cast<std::size_t>(end - p));
    return word;
}

/// The protocol's integers: see common::ReadInteger.
using common::ReadInteger;

} // namespace velantro::skype
