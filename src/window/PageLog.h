#pragma once

// The log on a conversation page: a read-only text control named "Memo" to
// which entries are appended, and in which an entry can be rewritten in place.

#include "core/MainView.h"

#include <vector>

class QPlainTextEdit;

namespace velantro::window {

class PageLog final : public core::ConversationLog {
public:
    explicit PageLog(QPlainTextEdit* memo)
        : Memo(memo) {}

    /// Appends the entry, cut to what a page shows (ShownEntry); its cost
    /// follows the entry's length, not the page's.
    std::size_t AppendLine(std::u16string_view text) override;

    /// Rewrites the entry's lines in place; the entries after it keep theirs.
    void ReplaceLine(std::size_t entry, std::u16string_view text) override;

    QPlainTextEdit* Memo;

private:
    /// Where each entry stands: its first line (block) and how many it has.
    struct Place {
        int First = 0;
        int Lines = 1;
    };
    std::vector<Place> Places;
};

} // namespace velantro::window
