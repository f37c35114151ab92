#pragma once

// The log on a conversation page: a read-only text control named "Memo" to
// which entries are appended, and in which an entry can be rewritten in place.
//
// An entry starts a line with its time (hh:mm) and its sender's handle in
// bold, which no message text can produce; each further line of the text is
// indented and starts with a tab, on the screen, to a screen reader and in a
// copy alike, so that no line of a message passes for an entry of its own.

#include "core/MainView.h"

#include <deque>
#include <string_view>
#include <vector>

class QPlainTextEdit;
class QTextCursor;

namespace velantro::window {

class PageLog final : public core::ConversationLog {
public:
    explicit PageLog(QPlainTextEdit* memo)
        : Memo(memo) {}

    /// Appends the entry, its text cut to what a page shows (ShownEntry); its
    /// cost follows the entry's length, not the page's.
    std::size_t AppendEntry(const core::LogEntry& entry) override;

    /// Rewrites the entry's lines in place; the entries after it keep theirs.
    void ReplaceEntry(std::size_t number, const core::LogEntry& entry) override;

    /// Writes the entries above the first one, under a line that says the
    /// history holds earlier ones when earlier is set.
    void PrependEntries(const std::vector<core::LogEntry>& entries, bool earlier) override;

    /// Scrolls to the entry and marks found in it (the whole entry when found
    /// is not in its text); the caret goes there for screen readers.
    void RevealEntry(std::size_t position, std::u16string_view found) override;

    void Clear() override;

    /// The line at the top while the history holds earlier entries.
    static constexpr std::u16string_view EarlierText =
        u"\u2026 earlier messages are in the history: Ctrl+F finds them";

    QPlainTextEdit* Memo;

private:
    /// Writes entry from the cursor, in the empty line it stands in; gives
    /// how many lines it took.
    int Write(QTextCursor& cursor, const core::LogEntry& entry) const;

    /// Where each entry stands: its first line (block) and how many it has.
    struct Place {
        int First = 0;
        int Lines = 1;
    };
    /// Top to bottom: the entries written above the first appended one, then
    /// the appended ones, whose numbers count from Prepended.
    std::deque<Place> Places;
    std::size_t Prepended = 0;
    bool EarlierShown = false;
    /// Moves the entries from the one at index on by lines.
    void Shift(std::size_t from, int lines);
};

} // namespace velantro::window
