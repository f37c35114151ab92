#pragma once

// Strict UTF-8 reading for what the tools take from files and command lines.

#include <cstddef>
#include <optional>
#include <string_view>

namespace velantro::tools {

/// Decodes the character at text[pos] and moves pos past it; empty, pos
/// unchanged, when the bytes there are not well-formed UTF-8 (overlong forms,
/// surrogate halves and values above U+10FFFF included).
std::optional<char32_t> DecodeUtf8(std::string_view text, std::size_t& pos);

/// Whether the whole of text is well-formed UTF-8.
bool IsUtf8(std::string_view text);

} // namespace velantro::tools
