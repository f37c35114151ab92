#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

namespace velantro::tools {

/// The whole of text read as a signed decimal 32-bit integer; empty when text
/// is anything else.
inline std::optional<std::int32_t> ReadDecimal(std::string_view text) {
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace velantro::tools
