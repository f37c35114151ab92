#include "window/TPageControl.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QStackedWidget>
#include <QStyleOptionTab>
#include <QStylePainter>
#include <QTabBar>
#include <algorithm>
#include <optional>

namespace velantro::window {

namespace {

/// The tab rows never take so much height that the page shows fewer lines
/// than this.
constexpr int PageLinesKept = 3;

} // namespace

/// One tab: paints itself as the style's tab, selects its page on a click.
class PageTab final : public QAbstractButton {
    Q_OBJECT

public:
    explicit PageTab(QWidget* parent)
        : QAbstractButton(parent) {
        setCheckable(true);
        setFocusPolicy(Qt::NoFocus);
    }

    bool Marked = false;
    bool Focused = false; // the rows have the keyboard focus and this is current

    const QString& FullText() const { return Text; }
    void SetFullText(const QString& text) {
        Text = text;
        Forget();
    }
    /// The font or the style changed: the tab is measured again.
    void Forget() { Measured.reset(); }

    QFont TabFont(bool bold) const {
        QFont tabFont = font();
        tabFont.setBold(bold);
        return tabFont;
    }

    /// The style's size of a tab whose text is textWidth wide.
    QSize TabSize(int textWidth) const {
        QStyleOptionTab option;
        option.initFrom(this);
        option.shape = QTabBar::RoundedNorth;
        const int padding = style()->pixelMetric(QStyle::PM_TabBarTabHSpace, &option, this);
        const QSize contents(textWidth + padding, QFontMetrics(TabFont(true)).height());
        // As tall as the classic control's tabs: the text and a little air, so
        // that several rows leave the page room.
        return {style()->sizeFromContents(QStyle::CT_TabBarTab, &option, contents, this).width(),
                contents.height() + 6};
    }

    /// The style's own room around a tab's text: its frame and padding.
    int Chrome() const { return Measures().Chrome; }

    /// The width the text asks for; bold, so that marking never reflows rows.
    int WantedWidth() const { return Measures().TextWidth + Measures().Chrome; }

    QSize sizeHint() const override { return Measures().Hint; }

    void SetWidth(int width) {
        const int room = std::max(width - Chrome(), 0);
        // Advances are rounded: the text's own width always fits its own tab.
        const QString shown =
            Measures().TextWidth <= room
                ? Text
                : QFontMetrics(TabFont(true)).elidedText(Text, Qt::ElideMiddle, room);
        // "&" would read as a mnemonic; the text is shown as it is.
        setText(QString(shown).replace(QLatin1Char('&'), QLatin1String("&&")));
        const QString tip = shown == Text ? QString() : Text;
        if (toolTip() != tip) {
            setToolTip(tip);
        }
    }

protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange ||
            event->type() == QEvent::Polish) {
            Forget();
        }
        return QAbstractButton::event(event);
    }

    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOptionTab option;
        option.initFrom(this);
        option.shape = QTabBar::RoundedNorth;
        option.text = text();
        option.position = QStyleOptionTab::Middle;
        option.state.setFlag(QStyle::State_Selected, isChecked());
        option.state.setFlag(QStyle::State_HasFocus, Focused);
        option.state.setFlag(QStyle::State_Sunken, isDown());
        painter.setFont(TabFont(Marked));
        painter.drawControl(QStyle::CE_TabBarTab, option);
        if (Focused) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = rect().adjusted(3, 3, -3, -2);
            painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
        }
    }

private:
    /// What the rows are arranged by, kept until the text, the font or the
    /// style changes: every caption change arranges all the rows, and
    /// measuring each tab's text anew every time was most of its cost.
    struct Measure {
        int TextWidth = 0;
        int Chrome = 0;
        QSize Hint;
    };
    const Measure& Measures() const {
        if (!Measured) {
            const int textWidth = QFontMetrics(TabFont(true)).horizontalAdvance(Text);
            Measured = Measure{textWidth, TabSize(0).width(), TabSize(textWidth)};
        }
        return *Measured;
    }

    QString Text;
    mutable std::optional<Measure> Measured;
};

/// The tabs, laid out in rows of the width they are given.
class TabRows final : public QWidget {
    Q_OBJECT

public:
    explicit TabRows(QWidget* parent)
        : QWidget(parent) {
        setFocusPolicy(Qt::StrongFocus);
    }

    std::vector<PageTab*> Tabs;
    int Current = -1;
    std::function<void(int)> Choose;

    int RowHeight() const {
        return Tabs.empty() ? QFontMetrics(font()).height() + 10
                            : Tabs.front()->sizeHint().height();
    }

    /// The tabs' rectangles for rows of this width, in page order. Every row
    /// but the last is stretched to the full width, as the classic control
    /// does, so that the rows read as one block above the page.
    std::vector<QRect> Arrange(int width) const {
        std::vector<QRect> places;
        std::size_t rowStart = 0;
        int x = 0;
        int y = 0;
        const auto stretchRow = [&](std::size_t end) {
            const int count = static_cast<int>(end - rowStart);
            const int spare = width - x;
            int shift = 0;
            for (std::size_t i = rowStart; i < end; ++i) {
                const int share = spare / count + (static_cast<int>(i - rowStart) < spare % count);
                places[i].translate(shift, 0);
                places[i].setWidth(places[i].width() + share);
                shift += share;
            }
        };
        for (const PageTab* tab : Tabs) {
            const int tabWidth = std::min(tab->WantedWidth(), std::max(width, 1));
            if (x > 0 && x + tabWidth > width) {
                stretchRow(places.size());
                rowStart = places.size();
                x = 0;
                y += RowHeight();
            }
            places.emplace_back(x, y, tabWidth, RowHeight());
            x += tabWidth;
        }
        return places;
    }

    int HeightFor(int width) const {
        const std::vector<QRect> places = Arrange(width);
        return places.empty() ? 0 : places.back().bottom() + 1;
    }

    void Place() {
        const std::vector<QRect> places = Arrange(width());
        for (std::size_t i = 0; i < Tabs.size(); ++i) {
            Tabs[i]->setGeometry(places[i]);
            Tabs[i]->SetWidth(places[i].width());
        }
        // Moved and relabelled tabs repaint themselves; the focus stays
        // where it is, so a screen reader is not told of it again.
    }

    void UpdateFocus() {
        for (std::size_t i = 0; i < Tabs.size(); ++i) {
            const bool focused = hasFocus() && static_cast<int>(i) == Current;
            if (Tabs[i]->Focused != focused) {
                Tabs[i]->Focused = focused;
                Tabs[i]->update();
            }
        }
        // A screen reader follows the focus: it is on the current tab.
        if (hasFocus() && Current >= 0 && QAccessible::isActive()) {
            QAccessibleEvent focus(Tabs[static_cast<std::size_t>(Current)], QAccessible::Focus);
            QAccessible::updateAccessibility(&focus);
        }
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const int last = static_cast<int>(Tabs.size()) - 1;
        int wanted = Current;
        switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Up:
            wanted = std::max(Current - 1, 0);
            break;
        case Qt::Key_Right:
        case Qt::Key_Down:
            wanted = std::min(Current + 1, last);
            break;
        case Qt::Key_Home:
            wanted = 0;
            break;
        case Qt::Key_End:
            wanted = last;
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
        }
        if (wanted >= 0 && Choose) {
            Choose(wanted);
        }
    }
    void focusInEvent(QFocusEvent* event) override {
        QWidget::focusInEvent(event);
        UpdateFocus();
    }
    void focusOutEvent(QFocusEvent* event) override {
        QWidget::focusOutEvent(event);
        UpdateFocus();
    }
};

namespace {

/// A tab as a screen reader knows it: a page tab, selected when its page is
/// on show, that a screen reader can press.
class PageTabAccessible final : public QAccessibleWidget {
public:
    explicit PageTabAccessible(QWidget* tab)
        : QAccessibleWidget(tab, QAccessible::PageTab) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        const auto* tab = static_cast<const PageTab*>(widget());
        state.selectable = true;
        state.selected = tab->isChecked();
        state.focusable = true;
        state.focused = tab->Focused;
        return state;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        if (name == pressAction()) {
            static_cast<PageTab*>(widget())->click();
        }
    }
};

QAccessibleInterface* PageControlAccessibles(const QString& classname, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr) {
        return nullptr;
    }
    if (classname == QLatin1String(PageTab::staticMetaObject.className())) {
        return new PageTabAccessible(widget);
    }
    if (classname == QLatin1String(TabRows::staticMetaObject.className())) {
        return new QAccessibleWidget(widget, QAccessible::PageTabList);
    }
    return nullptr;
}

} // namespace

TPageControl::TPageControl(QWidget* parent)
    : QWidget(parent) {
    static const bool accessiblesKnown = [] {
        QAccessible::installFactory(PageControlAccessibles);
        return true;
    }();
    Q_UNUSED(accessiblesKnown);

    Scroll = new QScrollArea(this);
    Scroll->setFrameShape(QFrame::NoFrame);
    Scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Scroll->setWidgetResizable(false);
    Scroll->setFocusPolicy(Qt::NoFocus);
    Rows = new TabRows(Scroll);
    Rows->setObjectName(QStringLiteral("Tabs"));
    Rows->Choose = [this](int index) {
        setCurrentIndex(index);
    };
    Scroll->setWidget(Rows);
    Pages = new QStackedWidget(this);
    Pages->setFrameShape(QFrame::StyledPanel);
    setFocusProxy(Rows);

    // Paging from anywhere in the window, as in every tabbed program.
    const auto paging = [this](const QKeySequence& keys, int delta) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, delta] { Step(delta); });
    };
    paging(QKeySequence(Qt::CTRL | Qt::Key_Tab), 1);
    paging(QKeySequence(Qt::CTRL | Qt::Key_PageDown), 1);
    paging(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), -1);
    paging(QKeySequence(Qt::CTRL | Qt::Key_Backtab), -1);
    paging(QKeySequence(Qt::CTRL | Qt::Key_PageUp), -1);
}

TPageControl::~TPageControl() = default;

int TPageControl::addTab(QWidget* page, const QString& text) {
    auto* tab = new PageTab(Rows);
    const int index = static_cast<int>(Rows->Tabs.size());
    connect(tab, &QAbstractButton::clicked, this, [this, tab] {
        const auto found = std::find(Rows->Tabs.begin(), Rows->Tabs.end(), tab);
        setCurrentIndex(static_cast<int>(found - Rows->Tabs.begin()));
    });
    Rows->Tabs.push_back(tab);
    Pages->addWidget(page);
    tab->show();
    setTabText(index, text);
    if (index == 0) {
        setCurrentIndex(0);
    }
    return index;
}

int TPageControl::count() const {
    return static_cast<int>(Rows->Tabs.size());
}

QWidget* TPageControl::widget(int index) const {
    return Pages->widget(index);
}

QString TPageControl::tabText(int index) const {
    return index >= 0 && index < count() ? Rows->Tabs[index]->FullText() : QString();
}

void TPageControl::setTabText(int index, const QString& text) {
    if (index < 0 || index >= count()) {
        return;
    }
    PageTab* tab = Rows->Tabs[index];
    tab->SetFullText(text);
    tab->setAccessibleName(text);
    LayOut();
    // A count added or dropped moves the tabs after it: the current one stays in view.
    EnsureCurrentVisible();
}

bool TPageControl::isTabMarked(int index) const {
    return index >= 0 && index < count() && Rows->Tabs[index]->Marked;
}

void TPageControl::setTabMarked(int index, bool marked) {
    // A burst marks the same tab once per line: only a change is repainted.
    if (index >= 0 && index < count() && Rows->Tabs[index]->Marked != marked) {
        Rows->Tabs[index]->Marked = marked;
        Rows->Tabs[index]->update();
    }
}

void TPageControl::setTabDescription(int index, const QString& description) {
    if (index >= 0 && index < count()) {
        Rows->Tabs[index]->setAccessibleDescription(description);
    }
}

int TPageControl::currentIndex() const {
    return Rows->Current;
}

void TPageControl::setCurrentIndex(int index) {
    if (index < 0 || index >= count() || index == Rows->Current) {
        return;
    }
    Rows->Current = index;
    for (int i = 0; i < count(); ++i) {
        Rows->Tabs[i]->setChecked(i == index);
    }
    Pages->setCurrentIndex(index);
    Rows->UpdateFocus();
    EnsureCurrentVisible();
    emit currentChanged(index);
}

QRect TPageControl::tabRect(int index) const {
    if (index < 0 || index >= count()) {
        return {};
    }
    const QRect inRows = Rows->Tabs[index]->geometry();
    return QRect(Rows->mapTo(this, inRows.topLeft()), inRows.size());
}

QRect TPageControl::visibleTabArea() const {
    const QWidget* viewport = Scroll->viewport();
    return QRect(viewport->mapTo(this, QPoint(0, 0)), viewport->size());
}

void TPageControl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayOut();
}

bool TPageControl::event(QEvent* event) {
    // The rows' height follows the font, as the tabs' widths do.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        // The tabs may hear of it after this control does.
        for (PageTab* tab : Rows->Tabs) {
            tab->Forget();
        }
        LayOut();
    }
    return QWidget::event(event);
}

void TPageControl::LayOut() {
    const int width = std::max(this->width(), 1);
    const int pageKept = PageLinesKept * QFontMetrics(font()).lineSpacing() + 8;
    const int room = std::max(Rows->RowHeight(), height() - pageKept);
    int rowsWidth = width;
    int rowsHeight = Rows->HeightFor(rowsWidth);
    const bool scrolls = rowsHeight > room;
    if (scrolls) {
        rowsWidth = std::max(width - Scroll->verticalScrollBar()->sizeHint().width(), 1);
        rowsHeight = Rows->HeightFor(rowsWidth);
    }
    // Decided here with the rows' width, never later by the scroll area:
    // tabs that change their text would otherwise leave it on over rows
    // laid out for the whole width.
    const Qt::ScrollBarPolicy policy = scrolls ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
    if (Scroll->verticalScrollBarPolicy() != policy) {
        Scroll->setVerticalScrollBarPolicy(policy);
    }
    const int barHeight = std::min(rowsHeight, room);
    Scroll->setGeometry(0, 0, width, barHeight);
    Rows->resize(rowsWidth, rowsHeight);
    Rows->Place();
    Pages->setGeometry(0, barHeight, width, std::max(height() - barHeight, 0));
    EnsureCurrentVisible();
}

void TPageControl::Step(int delta) {
    if (count() == 0) {
        return;
    }
    const int current = std::max(currentIndex(), 0);
    setCurrentIndex((current + delta + count()) % count());
}

void TPageControl::EnsureCurrentVisible() {
    const int current = currentIndex();
    if (current < 0 || current >= count()) {
        return;
    }
    const QRect place = Rows->Tabs[current]->geometry();
    Scroll->ensureVisible(place.center().x(), place.center().y(), 0, place.height() / 2 + 1);
}

} // namespace velantro::window

#include "TPageControl.moc"
