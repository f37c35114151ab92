#pragma once

// What the conversation core needs of the main window, so that it runs and is
// tested without widgets.

#include "core/StatusLine.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velantro::core {

/// One entry of a page's log. The page shows the time and the sender in a
/// style no text can take, so that no message can pass for another entry.
struct LogEntry {
    std::u16string Time; ///< hh:mm, when it was written on the page
    std::string Sender;  ///< the handle
    std::u16string Text; ///< lines joined by CR LF
};

/// The entry as one text: "handle: text", the sender shown as HandleText does.
std::u16string PlainEntry(const LogEntry& entry);

/// The lines of an entry's text: CR LF, CR and LF each end one.
std::vector<std::u16string> EntryLines(std::u16string_view text);

/// The read-only log on a conversation page.
class ConversationLog {
public:
    virtual ~ConversationLog() = default;
    /// Appends the log's new last entry and gives its number on this log,
    /// counted from 0.
    virtual std::size_t AppendEntry(const LogEntry& entry) = 0;
    /// Writes entry in place of the one with that number, which keeps its place.
    virtual void ReplaceEntry(std::size_t number, const LogEntry& entry) = 0;
    /// Writes entries (oldest first) above the first one shown, from the
    /// history; earlier says that the history holds more before them, which
    /// the top of the log then says. The appended entries keep their numbers.
    virtual void PrependEntries(const std::vector<LogEntry>& entries, bool earlier) = 0;
    /// Brings the entry at position (counted from the top, 0 for the first)
    /// into view, with found marked in it.
    virtual void RevealEntry(std::size_t position, std::u16string_view found) = 0;
    /// Removes every entry.
    virtual void Clear() = 0;
};

class MainView {
public:
    virtual ~MainView() = default;

    /// The selected positions of the "Receive in" and "in" lists; -1 for none.
    virtual std::int32_t ReceiveLanguageIndex() const = 0;
    virtual std::int32_t SendLanguageIndex() const = 0;

    /// Selects the position in the "in" list; the user's choice is not raised.
    virtual void SelectSendLanguage(std::int32_t index) = 0;

    /// The text of the contact list: the selected handle, empty with none.
    virtual std::string ContactText() const = 0;
    /// Selects the contact equal to handle without regard to case; with no
    /// such contact the list is left without a selection.
    virtual void SelectContact(std::string_view handle) = 0;
    /// Empties the contact list, adds the friends (the list keeps them sorted
    /// without regard to case, duplicates stay), then the others (partners
    /// with a page who are no friends, marked as no contact) and selects the
    /// first.
    virtual void SetContacts(const std::vector<std::string>& friends,
                             const std::vector<std::string>& others) = 0;

    /// The message being written, lines joined by CR LF.
    virtual std::u16string MessageText() const = 0;
    /// Puts text (lines joined by CR LF) in the message field.
    virtual void SetMessageText(std::u16string_view text) = 0;
    virtual void ClearMessage() = 0;
    virtual void EnableSend(bool enabled) = 0;
    /// While a send is under way the message can't be changed and Send is
    /// disabled; afterwards both are as the text allows.
    virtual void SetSendPending(bool pending) = 0;

    /// The log on the page whose caption is handle (byte for byte), the page
    /// appended when there is none; null when the page has no log.
    virtual ConversationLog* FindOrCreatePage(const std::string& handle) = 0;
    /// Makes the page control visible.
    virtual void ShowPages() = 0;
    /// Brings the existing page whose caption is handle to the front.
    virtual void ShowPage(const std::string& handle) = 0;
    /// Shows how many messages on the partner's page the user has not seen.
    virtual void SetUnread(const std::string& handle, std::size_t count) = 0;
    /// Whether the window is the one the user works in.
    virtual bool WindowActive() const { return true; }

    /// What the previous runs left of a partner: the "in" language last used
    /// and the draft; nothing when none is kept.
    virtual std::optional<std::int32_t> RememberedLanguage(const std::string& /*partner*/) const {
        return std::nullopt;
    }
    virtual std::u16string RememberedDraft(const std::string& /*partner*/) const { return {}; }

    /// The time of day as entries show it: hh:mm, local.
    virtual std::u16string ClockTime() const = 0;
    /// The time an entry of the history shows: hh:mm for today, with the
    /// date before it for an earlier day.
    virtual std::u16string EntryTime(std::int64_t /*secondsSinceEpoch*/) const {
        return ClockTime();
    }

    /// Whether received entries carry the original text after the translation.
    virtual bool ShowOriginalText() const { return false; }
    /// A received message from handle was written to its page.
    virtual void MessageShown(const std::string& /*handle*/, std::u16string_view /*translation*/) {}

    /// The user's own handle (8-bit) in the window's caption, in place of
    /// the one shown before.
    virtual void ShowOwnHandle(std::string_view handle) = 0;

    /// Where a translation asked now would go.
    virtual TranslationRoute CurrentRoute() const { return {}; }
    /// Shows the status line; called only when it changed.
    virtual void ShowStatus(const StatusLine& status) = 0;

    /// Runs work from the event loop, after what is waiting there; at once
    /// where there is no loop.
    virtual void RunLater(const std::function<void()>& work) { work(); }

    /// Tells the user of a failure, in the error box; never waits for it.
    virtual void ShowError(const std::string& message) = 0;
};

} // namespace velantro::core
