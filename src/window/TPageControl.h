#pragma once

// A page control whose tabs wrap onto as many rows as they need, in page
// order, so that every page has a visible tab however many there are. Qt's
// own tab bar keeps one row and scrolls it or cuts tabs off.
//
// Rows stay in page order, top to bottom: the row of the current tab does not
// move next to the page, as it does in the classic multi-row control, because
// tabs that jump under the pointer after a click defeat the eye and the hand
// alike, and a screen reader's order stays the order on screen. When the rows
// need more height than the control can give while leaving the page readable,
// they scroll, and the current tab is always scrolled into view.

#include <QWidget>
#include <memory>
#include <vector>

class QScrollArea;
class QStackedWidget;

namespace velantro::window {

class TabRows;

class TPageControl final : public QWidget {
    Q_OBJECT

public:
    explicit TPageControl(QWidget* parent = nullptr);
    ~TPageControl() override;

    /// Appends page with the tab text; the control owns the page. The first
    /// page becomes the current one.
    int addTab(QWidget* page, const QString& text);
    int count() const;
    QWidget* widget(int index) const;

    /// The full text of a tab. A tab wider than the bar shows it elided in the
    /// middle; the full text is its tool tip and its accessible name.
    QString tabText(int index) const;
    void setTabText(int index, const QString& text);

    /// A marked tab shows its text in bold (unread messages).
    bool isTabMarked(int index) const;
    void setTabMarked(int index, bool marked);

    /// What a screen reader says after the tab's name.
    void setTabDescription(int index, const QString& description);

    int currentIndex() const;
    void setCurrentIndex(int index);

    /// The tab's rectangle in this control's coordinates, as laid out now.
    QRect tabRect(int index) const;
    /// The part of the tab rows on show, in this control's coordinates.
    QRect visibleTabArea() const;

signals:
    void currentChanged(int index);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    void LayOut();
    void Step(int delta);
    void EnsureCurrentVisible();

    QScrollArea* Scroll = nullptr;
    TabRows* Rows = nullptr;
    QStackedWidget* Pages = nullptr;
};

} // namespace velantro::window
