#pragma once

#include <string>
#include <string_view>

namespace velantro::tools {

/// Writes bytes so that a line of them stays one printable line: backslash,
/// TAB, LF and CR as \\, \t, \n and \r, every other byte below 0x20 as \xHH
/// (lower-case hex), all other bytes as they are.
std::string EscapeBytes(std::string_view bytes);

} // namespace velantro::tools
