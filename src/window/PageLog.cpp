#include "window/PageLog.h"

#include "core/DisplayText.h"

#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace velantro::window {

namespace {

QString FromUtf16(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

int PageLog::Write(QTextCursor& cursor, const core::LogEntry& entry) const {
    // Cut first: the page lays out what it is given, and a line of a
    // million characters would stop the window for minutes.
    const std::vector<std::u16string> lines = core::EntryLines(core::ShownEntry(entry.Text));
    // A hanging indent: lines wrapped inside the entry and the text's own
    // further lines start right of the entry's first.
    const qreal indent = QFontMetrics(Memo->font()).horizontalAdvance(QStringLiteral("00:00 "));
    QTextBlockFormat first;
    first.setLeftMargin(indent);
    first.setTextIndent(-indent);
    QTextBlockFormat further;
    further.setLeftMargin(indent);
    QTextCharFormat plain;
    QTextCharFormat time;
    time.setForeground(Memo->palette().color(QPalette::PlaceholderText));
    QTextCharFormat sender;
    sender.setFontWeight(QFont::Bold);

    cursor.setBlockFormat(first);
    cursor.insertText(FromUtf16(entry.Time) + QLatin1Char(' '), time);
    cursor.insertText(FromUtf16(core::HandleText(entry.Sender)) + QLatin1Char(':'), sender);
    cursor.insertText(QLatin1Char(' ') + FromUtf16(lines.front()), plain);
    for (std::size_t line = 1; line < lines.size(); ++line) {
        cursor.insertBlock(further, plain);
        cursor.insertText(QLatin1Char('\t') + FromUtf16(lines[line]), plain);
    }
    return static_cast<int>(lines.size());
}

std::size_t PageLog::AppendEntry(const core::LogEntry& entry) {
    QScrollBar* bar = Memo->verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    QTextDocument* document = Memo->document();
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    const bool empty = document->isEmpty() && Places.empty();
    // One edit: the page is laid out once, and a screen reader is told of
    // one insertion, rather than once for each piece of the entry.
    cursor.beginEditBlock();
    if (!empty) {
        cursor.insertBlock();
    }
    const int first = cursor.blockNumber();
    Places.push_back({first, Write(cursor, entry)});
    cursor.endEditBlock();
    if (following) {
        bar->setValue(bar->maximum());
    }
    return Places.size() - 1;
}

void PageLog::ReplaceEntry(std::size_t number, const core::LogEntry& entry) {
    if (number >= Places.size()) {
        return;
    }
    Place& place = Places[number];
    QTextDocument* document = Memo->document();
    const QTextBlock first = document->findBlockByNumber(place.First);
    const QTextBlock last = document->findBlockByNumber(place.First + place.Lines - 1);
    if (!first.isValid() || !last.isValid()) {
        return;
    }
    QTextCursor cursor(first);
    cursor.setPosition(last.position() + last.length() - 1, QTextCursor::KeepAnchor);
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    const int added = Write(cursor, entry) - place.Lines;
    cursor.endEditBlock();
    place.Lines += added;
    for (std::size_t later = number + 1; later < Places.size(); ++later) {
        Places[later].First += added;
    }
}

} // namespace velantro::window
