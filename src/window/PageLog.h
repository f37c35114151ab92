#pragma once

// The log on a conversation page: a read-only text control named "Memo" to
// which entries are appended, and in which an entry can be rewritten in place.
//
// An entry starts a line with its time (hh:mm) and its sender's handle in
// bold, which no message text can produce; each further line of the text is
// indented and starts with a tab, on the screen, to a screen reader and in a
// copy alike, so that no line of a message passes for an entry of its own.

#include "core/MainView.h"

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
    std::vector<Place> Places;
};

} // namespace velantro::window
