#include "Jid.h"

#include <algorithm>

namespace velantro::standins {

namespace {

constexpr std::size_t LongestJidPart = 1023;
constexpr std::string_view Replacement = "\xEF\xBF\xBD"; // U+FFFD

/// The length of the UTF-8 character at text[i] and its code point, or 0
/// when no valid character starts there (overlong forms and surrogates
/// included).
std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t& point) {
    const auto byte = [&](std::size_t k) {
        return static_cast<unsigned char>(text[i + k]);
    };
    const unsigned char first = byte(0);
    std::size_t length = 0;
    if (first < 0x80) {
        point = first;
        return 1;
    }
    if (first >= 0xC2 && first <= 0xDF) {
        length = 2;
        point = first & 0x1Fu;
    } else if (first >= 0xE0 && first <= 0xEF) {
        length = 3;
        point = first & 0x0Fu;
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4;
        point = first & 0x07u;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(k) & 0xC0u) != 0x80u) {
            return 0;
        }
        point = (point << 6) | (byte(k) & 0x3Fu);
    }
    const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < smallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
        return 0;
    }
    return length;
}

bool XmlCharacter(char32_t point) {
    if (point < 0x20) {
        return point == '\t' || point == '\n' || point == '\r';
    }
    return point != 0xFFFE && point != 0xFFFF;
}

bool ValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        char32_t point = 0;
        const std::size_t length = DecodeUtf8(text, i, point);
        if (length == 0) {
            return false;
        }
        i += length;
    }
    return true;
}

bool ValidLocalpart(std::string_view local) {
    return !local.empty() && local.size() <= LongestJidPart &&
           local.find_first_of("\"&'/:<>@") == std::string_view::npos;
}

bool ValidDomain(std::string_view domain) {
    return !domain.empty() && domain.size() <= LongestJidPart && domain.front() != '.' &&
           domain.back() != '.' && domain.find_first_of("@/") == std::string_view::npos &&
           domain.find("..") == std::string_view::npos;
}

} // namespace

bool IsBareJid(std::string_view handle) {
    if (handle.empty() || !ValidUtf8(handle) ||
        std::any_of(handle.begin(), handle.end(),
                    [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == 0x7F; })) {
        return false;
    }
    const auto at = handle.find('@');
    if (at == std::string_view::npos) {
        return ValidDomain(handle);
    }
    return ValidLocalpart(handle.substr(0, at)) && ValidDomain(handle.substr(at + 1));
}

bool IsFriendHandle(std::string_view handle) {
    return IsBareJid(handle) && handle.find(',') == std::string_view::npos;
}

std::string BareJid(std::string_view jid) {
    return std::string(jid.substr(0, jid.find('/')));
}

std::string XmlSafeText(std::string_view text) {
    std::string safe;
    safe.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t point = 0;
        const std::size_t length = DecodeUtf8(text, i, point);
        if (length == 0) {
            safe += Replacement;
            ++i;
            continue;
        }
        if (XmlCharacter(point)) {
            safe.append(text.substr(i, length));
        } else {
            safe += Replacement;
        }
        i += length;
    }
    return safe;
}

std::string JidDomain(std::string_view jid) {
    const std::string bare = BareJid(jid);
    const auto at = bare.find('@');
    return at == std::string::npos ? bare : bare.substr(at + 1);
}

} // namespace velantro::standins
