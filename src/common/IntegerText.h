#pragma once

// Reading whole words as 32-bit integers. Other readers in the program accept
// other forms on purpose and say so where they are defined.

#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

namespace velantro::common {

/// Reads an optional sign followed by decimal digits, or by hexadecimal digits
/// after "$", "x", "X", "0x" or "0X": the integers of the chat client's
/// protocol and of the interface file. Empty when the word has any other form
/// or the value does not fit a signed 32-bit integer.
std::optional<std::int32_t> ReadInteger(std::string_view word);

/// The whole of text read as a signed decimal 32-bit integer (an optional
/// "-", no "+", no hexadecimal form); empty when text is anything else.
inline std::optional<std::int32_t> ReadDecimal(std::string_view text) {
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

/// A TCP port: the whole of text decimal, 1 to 65535; empty for anything else.
inline std::optional<std::uint16_t> ReadPort(std::string_view text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

} // namespace velantro::common
