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
    return Places.size() - 1 - Prepended;
}

void PageLog::Shift(std::size_t from, int lines) {
    for (std::size_t later = from; later < Places.size(); ++later) {
        Places[later].First += lines;
    }
}

void PageLog::PrependEntries(const std::vector<core::LogEntry>& entries, bool earlier) {
    QTextDocument* document = Memo->document();
    QScrollBar* bar = Memo->verticalScrollBar();
    // What the user reads stays where it is: the page grows above it.
    const int fromBottom = bar->maximum() - bar->value();
    const bool following = fromBottom == 0;
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    if (EarlierShown) {
        if (!cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor)) {
            cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        }
        cursor.removeSelectedText();
        Shift(0, -1);
        EarlierShown = false;
    }
    const bool wasEmpty = Places.empty();
    // The block format the old first line keeps once the new ones stand before it.
    const QTextBlockFormat oldFirst = document->firstBlock().blockFormat();
    int written = 0;
    std::vector<Place> added;
    added.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const int lines = Write(cursor, entries[i]);
        added.push_back({written, lines});
        written += lines;
        // The old first line moves on behind each new one, and keeps its format.
        if (i + 1 < entries.size() || !wasEmpty) {
            cursor.insertBlock(i + 1 < entries.size() ? QTextBlockFormat() : oldFirst);
        }
    }
    Shift(0, written);
    Places.insert(Places.begin(), added.begin(), added.end());
    Prepended += added.size();
    if (earlier) {
        QTextCursor top(document);
        const QTextBlockFormat entryFormat = document->firstBlock().blockFormat();
        top.insertBlock(entryFormat);
        top.movePosition(QTextCursor::Start);
        top.setBlockFormat(QTextBlockFormat());
        QTextCharFormat note;
        note.setFontItalic(true);
        note.setForeground(Memo->palette().color(QPalette::PlaceholderText));
        top.insertText(
            QString::fromUtf16(EarlierText.data(), static_cast<qsizetype>(EarlierText.size())),
            note);
        Shift(0, 1);
        EarlierShown = true;
    }
    cursor.endEditBlock();
    bar->setValue(following ? bar->maximum() : bar->maximum() - fromBottom);
}

void PageLog::RevealEntry(std::size_t position, std::u16string_view found) {
    if (position >= Places.size()) {
        return;
    }
    const Place& place = Places[position];
    QTextDocument* document = Memo->document();
    const QTextBlock first = document->findBlockByNumber(place.First);
    const QTextBlock last = document->findBlockByNumber(place.First + place.Lines - 1);
    if (!first.isValid() || !last.isValid()) {
        return;
    }
    QTextCursor entry(first);
    entry.setPosition(last.position() + last.length() - 1, QTextCursor::KeepAnchor);
    QTextCursor mark = entry;
    const QString word = QString::fromUtf16(found.data(), static_cast<qsizetype>(found.size()))
                             .simplified()
                             .section(QLatin1Char(' '), 0, 0);
    if (!word.isEmpty()) {
        const QTextCursor hit = document->find(word, entry.selectionStart());
        if (!hit.isNull() && hit.selectionEnd() <= entry.selectionEnd()) {
            mark = hit;
        }
    }
    QTextEdit::ExtraSelection highlight;
    highlight.cursor = mark;
    highlight.format.setBackground(Memo->palette().color(QPalette::Highlight));
    highlight.format.setForeground(Memo->palette().color(QPalette::HighlightedText));
    Memo->setExtraSelections({highlight});
    Memo->setTextCursor(mark);
    Memo->ensureCursorVisible();
}

void PageLog::Clear() {
    Memo->clear();
    Memo->setExtraSelections({});
    Places.clear();
    Prepended = 0;
    EarlierShown = false;
}

void PageLog::ReplaceEntry(std::size_t number, const core::LogEntry& entry) {
    number += Prepended;
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
    Shift(number + 1, added);
}

} // namespace velantro::window
