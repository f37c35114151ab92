#include "common/EscapedText.h"

namespace velantro::tools {

std::string EscapeBytes(std::string_view bytes) {
    static constexpr char Hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (byte < 0x20) {
                out += "\\x";
                out += Hex[byte >> 4];
                out += Hex[byte & 0xF];
            } else {
                out += c;
            }
        }
    }
    return out;
}

} // namespace velantro::tools
