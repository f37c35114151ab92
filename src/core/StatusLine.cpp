#include "core/StatusLine.h"

#include "core/DisplayText.h"
#include "translate/WebEncoding.h"

#include <string>

namespace velantro::core {

namespace {

/// text with "%1" and "%2" replaced by their values; any other '%' stays.
std::u16string Filled(std::u16string_view text, std::u16string_view first,
                      std::u16string_view second = {}) {
    std::u16string filled;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char16_t next = at + 1 < text.size() ? text[at + 1] : u'\0';
        if (text[at] == u'%' && (next == u'1' || next == u'2')) {
            filled += next == u'1' ? first : second;
            ++at;
        } else {
            filled += text[at];
        }
    }
    return filled;
}

std::u16string Ascii(std::string_view text) {
    return {text.begin(), text.end()};
}

} // namespace

std::u16string StatusText(const StatusLine& status, const StatusTexts& texts) {
    std::u16string client;
    switch (status.ChatClient) {
    case StatusLine::Client::Waiting:
        client = texts.Waiting;
        break;
    case StatusLine::Client::Attached:
        client = status.Own.empty() ? texts.AttachedNoHandle
                                    : Filled(texts.Attached, HandleText(status.Own));
        break;
    case StatusLine::Client::NotAvailable:
        client = texts.NotAvailable;
        break;
    }
    std::u16string translation;
    if (!status.Answering) {
        translation = Filled(texts.Down, status.Since, Ascii(std::to_string(status.Waiting)));
    } else if (status.Route.Local) {
        translation = texts.Local;
    } else {
        translation = Filled(texts.Web, HandleText(status.Route.HostPort));
    }
    std::u16string line = client + texts.Separator + translation;
    switch (status.Kept) {
    case StatusLine::History::Kept:
        break;
    case StatusLine::History::Off:
        line += texts.Separator + texts.HistoryOff;
        break;
    case StatusLine::History::NotKept:
    case StatusLine::History::NotWritten:
        line += texts.Separator + Filled(status.Kept == StatusLine::History::NotKept
                                             ? texts.HistoryNotKept
                                             : texts.HistoryNotWritten,
                                         translate::Utf8DecodeReplacing(status.HistoryProblem));
        break;
    }
    return line;
}

std::string HostPortOf(std::string_view url) {
    const std::size_t scheme = url.find("//");
    if (scheme == std::string_view::npos) {
        return std::string(url);
    }
    const std::string_view rest = url.substr(scheme + 2);
    const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    // Credentials before '@' are never shown.
    const std::size_t at = authority.rfind('@');
    return std::string(at == std::string_view::npos ? authority : authority.substr(at + 1));
}

} // namespace velantro::core
