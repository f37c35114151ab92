#pragma once

// The log on a conversation page: a read-only text control named "Memo" to
// which entries are appended.

#include "app/MainView.h"

class QPlainTextEdit;

namespace velantro::app {

class PageLog final : public ConversationLog {
public:
    explicit PageLog(QPlainTextEdit* memo)
        : Memo(memo) {}

    /// Appends the entry, cut to what a page shows (ShownEntry); its cost
    /// follows the entry's length, not the page's.
    void AppendLine(std::u16string_view text) override;

    QPlainTextEdit* Memo;
};

} // namespace velantro::app
