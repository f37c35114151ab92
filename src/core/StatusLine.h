#pragma once

// The line at the bottom of the window: whether the chat client is attached
// and where translations go, or since when the translator has not answered.
// What it says is decided here; the words come from the interface file.

#include <cstddef>
#include <string>
#include <string_view>

namespace velantro::core {

/// Where translations go.
struct TranslationRoute {
    bool Local = true;    ///< the local translator program
    std::string HostPort; ///< the endpoint's host, and port when it names one
    bool operator==(const TranslationRoute&) const = default;
};

struct StatusLine {
    enum class Client { Waiting, Attached, NotAvailable };
    Client ChatClient = Client::Waiting;
    std::string Own; ///< the handle attached as, once known
    TranslationRoute Route;
    bool Answering = true;
    std::u16string Since;    ///< hh:mm of the first failure, while not answering
    std::size_t Waiting = 0; ///< incoming messages waiting for a translation
    /// Whether the conversations are kept in the history file, and if not why.
    enum class History { Kept, Off, NotKept, NotWritten };
    History Kept = History::Kept;
    std::string HistoryProblem; ///< what went wrong, naming the file
    bool operator==(const StatusLine&) const = default;
};

/// The status line's words in the language shown; "%1" and "%2" stand for
/// the values.
struct StatusTexts {
    std::u16string Attached = u"Chat client: attached as %1";
    std::u16string AttachedNoHandle = u"Chat client: attached";
    std::u16string Waiting = u"Waiting for the chat client: start skype-peer, or your chat "
                             u"client, and Velantro attaches by itself";
    std::u16string NotAvailable = u"Chat client: its API is not available";
    std::u16string Local = u"Translation: the local program";
    std::u16string Web = u"Translation: %1";
    std::u16string Down = u"Translation: not answering since %1, messages waiting: %2";
    std::u16string Separator = u" \u00B7 ";
    std::u16string HistoryOff = u"History: off";
    std::u16string HistoryNotKept = u"History: not kept, %1";
    std::u16string HistoryNotWritten = u"History: not written, %1";
};

/// The whole line: the chat client's part, the separator, translation's
/// part, and the history's when it is not kept.
std::u16string StatusText(const StatusLine& status, const StatusTexts& texts);

/// The host and port of an endpoint URL ("http://127.0.0.1:4357/" gives
/// "127.0.0.1:4357"); the URL itself when it has no "//".
std::string HostPortOf(std::string_view url);

} // namespace velantro::core
