#include "app/PageLog.h"

#include "app/DisplayText.h"

#include <QPlainTextEdit>

namespace velantro::app {

void PageLog::AppendLine(std::u16string_view text) {
    // Cut first: the page lays out what it is given, and a line of a
    // million characters would stop the window for minutes.
    const std::u16string shown = ShownEntry(text);
    QString line = QString::fromUtf16(shown.data(), static_cast<qsizetype>(shown.size()));
    line.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    line.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    Memo->appendPlainText(line);
}

} // namespace velantro::app
