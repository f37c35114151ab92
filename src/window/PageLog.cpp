#include "window/PageLog.h"

#include "core/DisplayText.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace velantro::window {

namespace {

/// The entry as the log holds it: cut to what a page shows, every line
/// break a new line.
QString ShownLines(std::u16string_view text) {
    // Cut first: the page lays out what it is given, and a line of a
    // million characters would stop the window for minutes.
    const std::u16string shown = core::ShownEntry(text);
    QString lines = QString::fromUtf16(shown.data(), static_cast<qsizetype>(shown.size()));
    lines.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return lines;
}

} // namespace

std::size_t PageLog::AppendLine(std::u16string_view text) {
    const QString lines = ShownLines(text);
    const int first = Memo->document()->isEmpty() && Places.empty()
                          ? 0
                          : Memo->document()->blockCount();
    Memo->appendPlainText(lines);
    Places.push_back({first, static_cast<int>(lines.count(QLatin1Char('\n'))) + 1});
    return Places.size() - 1;
}

void PageLog::ReplaceLine(std::size_t entry, std::u16string_view text) {
    if (entry >= Places.size()) {
        return;
    }
    const QString lines = ShownLines(text);
    Place& place = Places[entry];
    QTextDocument* document = Memo->document();
    const QTextBlock first = document->findBlockByNumber(place.First);
    const QTextBlock last = document->findBlockByNumber(place.First + place.Lines - 1);
    if (!first.isValid() || !last.isValid()) {
        return;
    }
    QTextCursor cursor(first);
    cursor.setPosition(last.position() + last.length() - 1, QTextCursor::KeepAnchor);
    cursor.insertText(lines);
    const int added = static_cast<int>(lines.count(QLatin1Char('\n'))) + 1 - place.Lines;
    place.Lines += added;
    for (std::size_t later = entry + 1; later < Places.size(); ++later) {
        Places[later].First += added;
    }
}

} // namespace velantro::window
