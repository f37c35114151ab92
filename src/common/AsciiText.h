#pragma once

// ASCII-only text helpers: hexadecimal digits, case and blanks. Bytes and
// code units outside ASCII pass through unchanged, so UTF-8 and UTF-16 text
// is never cut or altered.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace velantro::common {

/// The value of a hexadecimal digit (either case) as a byte or a code unit;
/// -1 for anything else.
template <typename Char>
constexpr int HexDigitValue(Char c) {
    // A signed byte above 0x7F must not become a digit by wrapping around.
    const auto code = static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<Char>>(c));
    if (code >= '0' && code <= '9') {
        return static_cast<int>(code - '0');
    }
    if (code >= 'a' && code <= 'f') {
        return static_cast<int>(code - 'a' + 10);
    }
    if (code >= 'A' && code <= 'F') {
        return static_cast<int>(code - 'A' + 10);
    }
    return -1;
}

template <typename Char>
constexpr Char ToLowerAscii(Char c) {
    return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

template <typename Char>
constexpr Char ToUpperAscii(Char c) {
    return c >= Char('a') && c <= Char('z') ? static_cast<Char>(c - Char('a') + Char('A')) : c;
}

template <typename Char>
std::basic_string<Char> LowerAscii(std::basic_string_view<Char> text) {
    std::basic_string<Char> lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), ToLowerAscii<Char>);
    return lower;
}

template <typename Char>
std::basic_string<Char> UpperAscii(std::basic_string_view<Char> text) {
    std::basic_string<Char> upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(), ToUpperAscii<Char>);
    return upper;
}

inline std::string LowerAscii(std::string_view text) {
    return LowerAscii<char>(text);
}

inline std::string UpperAscii(std::string_view text) {
    return UpperAscii<char>(text);
}

inline std::u16string UpperAscii(std::u16string_view text) {
    return UpperAscii<char16_t>(text);
}

constexpr bool EqualsNoCaseAscii(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return ToLowerAscii(x) == ToLowerAscii(y); });
}

constexpr bool StartsWithNoCaseAscii(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCaseAscii(text.substr(0, prefix.size()), prefix);
}

/// Blanks as header and setting values have them around: space and tab.
constexpr bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

constexpr std::string_view TrimLeadingBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    return text;
}

constexpr std::string_view TrimBlanks(std::string_view text) {
    text = TrimLeadingBlanks(text);
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

} // namespace velantro::common
