#pragma once

// What the conversation core needs of the main window, so that it runs and is
// tested without widgets.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velantro::core {

/// The read-only log on a conversation page.
class ConversationLog {
public:
    virtual ~ConversationLog() = default;
    /// Appends text as the log's new last entry (CR LF inside text breaks
    /// lines) and gives the entry's number on this log, counted from 0.
    virtual std::size_t AppendLine(std::u16string_view text) = 0;
    /// Writes text in place of the entry with that number, which keeps its place.
    virtual void ReplaceLine(std::size_t entry, std::u16string_view text) = 0;
};

class MainView {
public:
    virtual ~MainView() = default;

    /// The selected positions of the "Receive in" and "in" lists; -1 for none.
    virtual std::int32_t ReceiveLanguageIndex() const = 0;
    virtual std::int32_t SendLanguageIndex() const = 0;

    /// The text of the contact list: the selected handle, empty with none.
    virtual std::string ContactText() const = 0;
    /// Selects the contact equal to handle without regard to case; with no
    /// such contact the list is left without a selection.
    virtual void SelectContact(std::string_view handle) = 0;
    /// Empties the contact list, adds handles (the list keeps itself sorted
    /// without regard to case, duplicates stay) and selects the first.
    virtual void SetContacts(const std::vector<std::string>& handles) = 0;

    /// The message being written, lines joined by CR LF.
    virtual std::u16string MessageText() const = 0;
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

    /// Whether received entries carry the original text after the translation.
    virtual bool ShowOriginalText() const { return false; }
    /// A received message from handle was written to its page.
    virtual void MessageShown(const std::string& /*handle*/, std::u16string_view /*translation*/) {}

    /// Appends text (8-bit) to the window's caption.
    virtual void AppendToCaption(std::string_view text) = 0;

    /// Tells the user of a failure, in the error box; never waits for it.
    virtual void ShowError(const std::string& message) = 0;
};

} // namespace velantro::core
