#include "core/PartnerMemory.h"

#include "translate/Utf8Encode.h"
#include "translate/WebEncoding.h"

#include <algorithm>

namespace velantro::core {

bool FitsProfileKey(std::string_view handle) {
    if (handle.empty() || handle.front() == ' ' || handle.back() == ' ') {
        return false;
    }
    return std::none_of(handle.begin(), handle.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F ||
               std::string_view("=[];").find(c) != std::string_view::npos;
    });
}

std::string DraftValue(std::u16string_view draft, std::size_t maxBytes) {
    std::string value = "\"";
    std::size_t at = 0;
    while (at < draft.size()) {
        std::string piece;
        std::size_t used = 1;
        if (draft[at] == u'\r' || draft[at] == u'\n') {
            piece = "\\n";
            used = draft.substr(at, 2) == u"\r\n" ? 2 : 1;
        } else if (draft[at] == u'\\') {
            piece = "\\\\";
        } else {
            // A surrogate pair is one character, never cut in two.
            used = draft[at] >= 0xD800 && draft[at] <= 0xDBFF && at + 1 < draft.size() ? 2 : 1;
            piece = translate::Utf8Encode(draft.substr(at, used));
        }
        if (value.size() + piece.size() + 1 > maxBytes) {
            break;
        }
        value += piece;
        at += used;
    }
    return value + "\"";
}

std::u16string DraftFromValue(std::string_view value) {
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') {
        return translate::Utf8DecodeReplacing(value);
    }
    value = value.substr(1, value.size() - 2);
    std::string bytes;
    for (std::size_t at = 0; at < value.size(); ++at) {
        if (value[at] == '\\' && at + 1 < value.size() && value[at + 1] == 'n') {
            bytes += "\r\n";
            ++at;
        } else if (value[at] == '\\' && at + 1 < value.size() && value[at + 1] == '\\') {
            bytes += '\\';
            ++at;
        } else {
            bytes += value[at];
        }
    }
    return translate::Utf8DecodeReplacing(bytes);
}

} // namespace velantro::core
