#include "window/TMainForm.h"

#include "core/DisplayText.h"
#include "core/PartnerMemory.h"
#include "localise/TranslateInterface.h"
#include "translate/LangCodes.h"
#include "translate/Translate.h"
#include "window/DesktopNotifications.h"
#include "window/PageLog.h"
#include "window/Settings.h"
#include "window/TPageControl.h"
#include "window/WindowPlacement.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDateTime>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStandardItemModel>
#include <QTextBlock>
#include <QTextDocument>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace velantro::window {

using core::ConversationFlows;
using core::ConversationLog;
using core::HandleText;

namespace {

constexpr const char* DesignCaption = "Velantro 1.0:01";
/// The object that speaks a message arriving on the page in front.
constexpr const char* AnnouncementName = "Announcement";
constexpr const char* StatusLineName = "StatusLine";
/// How long an announcement stays "showing" to a screen reader.
constexpr int AnnouncementShownMs = 3000;
/// "Bulgarian" in Bulgarian, in UTF-8.
constexpr const char* Bulgarian = "\xD0\x91\xD1\x8A\xD0\xBB\xD0\xB3\xD0\xB0"
                                  "\xD1\x80\xD1\x81\xD0\xBA\xD0\xB8";

/// The languages in the order of their positions; both lists hold them.
const char* const LanguageNames[] = {"English", "Espanol", "Francais", Bulgarian};

// The design's client area; the window can't be made smaller than it (the
// outer minimum, 388 x 365, less the design's frame).
constexpr int MinimumClientWidth = 380;
constexpr int MinimumClientHeight = 338;
constexpr int MessageEditHeight = 116;
/// The window's place and client size when the settings hold none.
constexpr ScreenRect DefaultPlace{230, 160, 370, 338};

// Settings keys and the defaults that apply when a key is missing or unreadable.
constexpr const char* ReceiveKey = "Receive";
constexpr const char* SendKey = "Send";
constexpr const char* LeftKey = "Left";
constexpr const char* TopKey = "Top";
constexpr const char* WidthKey = "Width";
constexpr const char* HeightKey = "Height";

QString FromEightBit(std::string_view text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToEightBit(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

QString FromUtf16(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

/// A text given to a control through the system's 8-bit code page, or unchanged.
QString TextFor(std::u16string_view text, localise::TextForm form) {
    const QString wide = FromUtf16(text);
    return form == localise::TextForm::EightBit ? QString::fromLocal8Bit(wide.toLocal8Bit()) : wide;
}

/// A caption as a label shows it: "&" marks the next character as the
/// mnemonic and "&&" is one "&". Labels, buttons and menu items read it so
/// themselves; window titles and tabs are given what a label would show.
QString AsLabelShows(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size()) {
            ++i;
        }
        shown.push_back(text[i]);
    }
    return shown;
}

QComboBox* LanguageList(QWidget* parent, const char* name) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QLatin1String(name));
    list->setEditable(false);
    for (const char* language : LanguageNames) {
        list->addItem(QString::fromUtf8(language));
    }
    list->setCurrentIndex(0);
    return list;
}

QLabel* Label(QWidget* parent, const char* name, const char* text, Qt::Alignment alignment) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(alignment | Qt::AlignVCenter);
    return label;
}

void SelectIndex(QComboBox* list, std::int32_t index) {
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

/// The window presents itself to screen readers as a frame, the role by which
/// they announce a program's window (a plain widget would be a filler).
QAccessibleInterface* FormAccessible(const QString& classname, QObject* object) {
    if (classname == QLatin1String(TMainForm::staticMetaObject.className()) &&
        object->isWidgetType()) {
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    }
    // Qt 6.4 has no announcement event: a notification that shows itself is
    // what screen readers speak (AT-SPI: a "notification" becoming "showing").
    if (classname == QLatin1String("QLabel") &&
        object->objectName() == QLatin1String(AnnouncementName)) {
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Notification);
    }
    // The status line is what a screen reader's "read the status bar" reads.
    if (classname == QLatin1String("QLabel") &&
        object->objectName() == QLatin1String(StatusLineName)) {
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::StatusBar);
    }
    return nullptr;
}

/// A printable key a log or the tab row does not use: one that writes.
bool WritesText(const QKeyEvent& key) {
    const Qt::KeyboardModifiers held = key.modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
    return held == Qt::NoModifier && !key.text().isEmpty() && key.text().front().isPrint();
}

PlacementRules PlacementOnScreens() {
    PlacementRules rules{{}, MinimumClientWidth, MinimumClientHeight, DefaultPlace};
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect area = screen->availableGeometry();
        rules.Screens.push_back({area.x(), area.y(), area.width(), area.height()});
    }
    return rules;
}

} // namespace

TMainForm::TMainForm(Services services)
    : HTTP(std::move(services.HTTP))
    , History(services.History)
    , HistoryState(services.HistoryState)
    , HistoryProblem(std::move(services.HistoryProblem))
    , Titles(services.Titles)
    , Profile(services.Profile)
    , Drafts(services.Drafts)
    , Endpoints(std::move(services.Endpoints))
    , InterfaceFile(std::move(services.InterfaceFile))
    , Errors([this, show = std::move(services.ShowError)](const std::string& message,
                                                          std::function<void()> closed) {
        if (Ending) {
            closed();
        } else if (show) {
            show(message);
            closed();
        } else {
            OpenErrorBox(message, std::move(closed));
        }
    })
    , Messages(services.Messages) {
    static const bool accessibleFormKnown = [] {
        QAccessible::installFactory(FormAccessible);
        return true;
    }();
    Q_UNUSED(accessibleFormKnown);
    setObjectName(QStringLiteral("MainForm"));
    BaseCaption = QString::fromLatin1(DesignCaption);
    ShowCaption();
    SkypeControl = std::make_unique<skype::TSkypeControl>(&Messages);
    SkypeControl->IdentName = "Velantro";
    SkypeControl->AutoReAttach = true;
    CreateControls();
    LayOutControls();
    // The exchange gives up when the window goes, or when the run is told to end.
    HTTP->AbandonWhen([closing = Closing, abandon = std::move(services.Abandon)] {
        return closing->load() || (abandon && abandon());
    });
    Translations = std::make_unique<core::TranslationWorker>(
        [this](const std::u16string& text, std::int32_t code) {
            return PrepareTranslation(text, code);
        },
        // Back on the window's thread, from its event loop; nothing arrives
        // once the window is gone.
        [this](std::function<void()> work) {
            QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
        });
    Conversations = std::make_unique<ConversationFlows>(static_cast<core::MainView&>(*this),
                                                        *SkypeControl, *Translations);
    Notifications = new DesktopNotifications(QDBusConnection::sessionBus(), this);
    connect(Notifications, &DesktopNotifications::Activated, this,
            [this](const std::string& partner) {
                Guarded(Errors, [&] { Conversations->ContactChosen(partner); });
                activateWindow();
                raise();
            });
    BindEvents();
    FormCreate();
    // Typing at start goes into the message, never into a language list.
    SendMessage->setFocus();
}

TMainForm::~TMainForm() {
    // A translation under way gives up, so that its worker ends at once.
    Closing->store(true);
    Conversations.reset();
    Translations.reset();
    // The component unhooks itself from Messages, which must still exist.
    SkypeControl.reset();
}

void TMainForm::CreateControls() {
    TranslateTo = LanguageList(this, "TranslateTo");
    l_Translate_To = Label(this, "l_Translate_To", "Receive in:", Qt::AlignRight);
    SendMessage = new QPlainTextEdit(this);
    SendMessage->setObjectName(QStringLiteral("SendMessage"));
    SendMessage->setFont(QFont(QStringLiteral("Microsoft Sans Serif"), font().pointSize()));
    SendMessage->setFrameShape(QFrame::Box);
    // Tab moves on to the next control; Enter sends (eventFilter).
    SendMessage->setTabChangesFocus(true);
    btnSend = new QPushButton(QStringLiteral("Send"), this);
    btnSend->setObjectName(QStringLiteral("btnSend"));
    btnSend->setAutoDefault(false);
    btnSend->setEnabled(false);
    btnSend->installEventFilter(this);
    SendMessage->installEventFilter(this);
    l_Send_To = Label(this, "l_Send_To", "To", Qt::AlignLeft);
    ToUsers = new QComboBox(this);
    ToUsers->setObjectName(QStringLiteral("ToUsers"));
    ToUsers->setEditable(false);
    PageControl1 = new TPageControl(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setAccessibleName(QStringLiteral("Conversations"));
    PageControl1->hide();
    l_in = Label(this, "l_in", "in", Qt::AlignRight);
    SendIn = LanguageList(this, "SendIn");
    // Named before it joins the window: its accessible role is decided by
    // its name (FormAccessible) the moment the window's tree first sees it.
    StatusLine = new QLabel;
    StatusLine->setObjectName(QLatin1String(StatusLineName));
    StatusLine->setParent(this);
    StatusLine->setWordWrap(true);
    StatusLine->setTextFormat(Qt::PlainText);
    StatusLine->setFrameShape(QFrame::StyledPanel);
    // Read by a screen reader as it changes; never in the way of Tab.
    StatusLine->setFocusPolicy(Qt::NoFocus);
    mnShowOriginal = new QAction(QStringLiteral("Show original text"), this);
    mnShowOriginal->setObjectName(QStringLiteral("mnShowOriginal"));
    mnShowOriginal->setCheckable(true);
    l_Translate_To->setBuddy(TranslateTo);
    l_Send_To->setBuddy(ToUsers);
    l_in->setBuddy(SendIn);
    UpdateAccessibleNames();

    // "in" right after "To": the recipient, then the language they read.
    setTabOrder(TranslateTo, SendMessage);
    setTabOrder(SendMessage, btnSend);
    setTabOrder(btnSend, ToUsers);
    setTabOrder(ToUsers, SendIn);
    setTabOrder(SendIn, PageControl1);

    Announcement = new QLabel;
    Announcement->setObjectName(QLatin1String(AnnouncementName));
    Announcement->setParent(this);
    Announcement->setAttribute(Qt::WA_TransparentForMouseEvents);
    Announcement->setGeometry(0, 0, 1, 1);
    Announcement->hide();
    auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    quit->setContext(Qt::WindowShortcut);
    connect(quit, &QShortcut::activated, this, &QWidget::close);
    FindBar = new QWidget(this);
    FindBar->setObjectName(QStringLiteral("FindBar"));
    FindText = new QLineEdit(FindBar);
    FindText->setObjectName(QStringLiteral("FindText"));
    FindText->setAccessibleName(QStringLiteral("Find in this conversation's history"));
    FindText->setPlaceholderText(QStringLiteral("Find in this conversation's history"));
    FindText->setClearButtonEnabled(true);
    FindText->installEventFilter(this);
    FindResult = new QLabel(FindBar);
    FindResult->setObjectName(QStringLiteral("FindResult"));
    auto* findRow = new QHBoxLayout(FindBar);
    findRow->setContentsMargins(0, 0, 0, 0);
    findRow->addWidget(FindText, 1);
    findRow->addWidget(FindResult);
    FindBar->hide();
    auto* find = new QShortcut(QKeySequence::Find, this);
    find->setContext(Qt::WindowShortcut);
    connect(find, &QShortcut::activated, this, [this] { OpenFind(); });
    auto* nextUnread = new QShortcut(QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_Down), this);
    nextUnread->setContext(Qt::WindowShortcut);
    connect(nextUnread, &QShortcut::activated, this, [this] {
        Guarded(Errors, [this] {
            const std::string partner = Conversations->NextUnread();
            if (!partner.empty()) {
                Conversations->ContactChosen(partner);
            }
        });
    });
}

// The design's anchors as layouts: the page control takes the extra width and
// height, the message edit keeps its height on the bottom edge, the bottom
// row stays on the bottom edge with the contact list stretching, and the
// right-aligned labels end next to the lists they name.
void TMainForm::LayOutControls() {
    auto* top = new QHBoxLayout;
    top->addStretch(1);
    top->addWidget(l_Translate_To);
    top->addWidget(TranslateTo);
    TranslateTo->setMinimumWidth(97);

    SendMessage->setFixedHeight(MessageEditHeight);
    // The pages' room stays empty, rather than closing up, while they are hidden.
    QSizePolicy pagesPolicy = PageControl1->sizePolicy();
    pagesPolicy.setRetainSizeWhenHidden(true);
    PageControl1->setSizePolicy(pagesPolicy);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(btnSend);
    btnSend->setMinimumWidth(75);
    bottom->addWidget(l_Send_To);
    bottom->addWidget(ToUsers, 1);
    ToUsers->setMinimumWidth(60);
    bottom->addWidget(l_in);
    bottom->addWidget(SendIn);
    SendIn->setMinimumWidth(103);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(1, 3, 1, 1);
    column->setSpacing(2);
    column->addLayout(top);
    column->addWidget(PageControl1, 1);
    column->addWidget(FindBar);
    column->addWidget(SendMessage);
    column->addLayout(bottom);
    column->addWidget(StatusLine);
    setMinimumSize(MinimumClientWidth, MinimumClientHeight);
}

void TMainForm::BindEvents() {
    using namespace skype;
    TSkypeControl& skype = *SkypeControl;
    ConversationFlows& flows = *Conversations;
    skype.OnAttachSuccess = [this, &flows](TSkypeControl&) {
        Guarded(Errors, [&] { flows.Attached(); });
    };
    skype.OnAPINotAvailable = [this, &flows](TSkypeControl&) {
        Guarded(Errors, [&] { flows.ClientUnavailable(); });
    };
    const auto waiting = [this, &flows](TSkypeControl&) {
        Guarded(Errors, [&] { flows.ClientWaiting(); });
    };
    skype.OnAPIAvailable = waiting;
    skype.OnAttachPending = waiting;
    skype.OnAttachRefused = waiting;
    skype.OnCurrentUserHandle = [this, &flows](std::string handle) {
        Guarded(Errors, [&] { flows.OwnHandleReported(handle); });
    };
    skype.OnSearchResult = [this, &flows](TSkypeSearchType type, TStringList list) {
        Guarded(Errors, [&] { flows.SearchReported(type, list); });
    };
    skype.OnChatMsgInfo = [this, &flows](std::int32_t id, TSkypeChatMsgProperty property,
                                         std::string value) {
        Guarded(Errors, [&] { flows.ChatMessageReported(id, property, value); });
    };
    connect(PageControl1, &TPageControl::currentChanged, this,
            [this](int index) { PageChosen(index); });
    connect(SendMessage, &QPlainTextEdit::textChanged, this,
            [this] { Guarded(Errors, [this] { Conversations->MessageChanged(); }); });
    connect(btnSend, &QPushButton::clicked, this, [this] {
        Guarded(Errors, [this] { Conversations->SendTyped(); });
        // The next keys typed belong to the next message, not to "To".
        SendMessage->setFocus();
    });
    // Only the user's choices: a selection the program makes raises neither.
    connect(ToUsers, &QComboBox::activated, this,
            [this] { Guarded(Errors, [this] { Conversations->ContactChosen(ContactText()); }); });
    connect(SendIn, &QComboBox::activated, this, [this](int index) {
        Guarded(Errors, [this, index] { Conversations->LanguageChosen(index); });
    });
    connect(PageControl1, &TPageControl::currentChanged, this, [this](int index) {
        if (isActiveWindow()) {
            PageShown(index);
        }
    });
    // Only the user's choice relabels: setting the selection from the
    // settings does not raise this.
    connect(TranslateTo, &QComboBox::activated, this,
            [this] { Guarded(Errors, [this] { TranslateToChange(); }); });
}

void TMainForm::FormCreate() {
    TSettings settings(Profile);
    const std::string section(SettingsSection);
    SelectIndex(TranslateTo, settings.ReadInteger(section, ReceiveKey, 0));
    SelectIndex(SendIn, settings.ReadInteger(section, SendKey, 0));
    const std::int32_t left = settings.ReadInteger(section, LeftKey, DefaultPlace.Left);
    const std::int32_t top = settings.ReadInteger(section, TopKey, DefaultPlace.Top);
    const std::int32_t width = settings.ReadInteger(section, WidthKey, DefaultPlace.Width);
    const std::int32_t height = settings.ReadInteger(section, HeightKey, DefaultPlace.Height);
    // A size no screen can show would cost seconds and gigabytes to lay out.
    const ScreenRect place = PlaceWindow({left, top, width, height}, PlacementOnScreens());
    move(place.Left, place.Top);
    resize(place.Width, place.Height);
    // An error in the steps below skips the rest of them: no attach request
    // is broadcast then, and the automatic re-attach attaches later.
    Guarded(Errors, [this] {
        localise::LoadTranslations(InterfaceFile);
        SkypeControl->Attach(4);
        Conversations->ClearQueue();
        TranslateToChange();
    });
    // The pages of the last runs come back before anything new arrives.
    Guarded(Errors, [this] {
        if (History != nullptr) {
            Conversations->UseHistory(History);
        } else {
            Conversations->HistoryUnavailable(HistoryState, HistoryProblem);
        }
    });
    Guarded(Errors, [this] { Conversations->RefreshStatus(); });
}

void TMainForm::FormClose() {
    TSettings settings(Profile);
    const std::string section(SettingsSection);
    settings.WriteInteger(section, ReceiveKey, TranslateTo->currentIndex());
    settings.WriteInteger(section, SendKey, SendIn->currentIndex());
    settings.WriteInteger(section, LeftKey, x());
    settings.WriteInteger(section, TopKey, y());
    settings.WriteInteger(section, WidthKey, width());
    settings.WriteInteger(section, HeightKey, height());
    TSettings draftsFile(Drafts);
    const bool draftsChanged = KeepPartners(settings, draftsFile);
    settings.Close();
    // After the settings, so that a folder that can't be written is named
    // by the settings file first.
    if (draftsChanged) {
        draftsFile.Close();
    }
}

bool TMainForm::KeepPartners(TSettings& settings, TSettings& draftsFile) {
    const std::string languages(core::LanguagesSection);
    const std::string drafts(core::DraftsSection);
    bool draftsChanged = false;
    for (const auto& [handle, partner] : Conversations->Partners()) {
        if (!core::FitsProfileKey(handle)) {
            continue;
        }
        if (partner.Language && partner.Language != RememberedLanguage(handle)) {
            settings.WriteInteger(languages, handle, *partner.Language);
        }
        const std::string value =
            core::DraftValue(partner.Draft, platform::ProfileFile::MaxValueLength);
        // Only what changed: an unchanged file is not written at all.
        if (core::DraftFromValue(value) == RememberedDraft(handle)) {
            continue;
        }
        draftsChanged = true;
        draftsFile.WriteText(drafts, handle, value);
    }
    return draftsChanged;
}

void TMainForm::closeEvent(QCloseEvent* event) {
    try {
        FormClose();
        SettingsWritten = true;
        event->accept();
    } catch (const std::exception& error) {
        // The window stays open; the next close tries again.
        event->ignore();
        Errors.Report(error.what());
    }
}

std::optional<std::string> TMainForm::WriteSettingsOnce() {
    if (SettingsWritten) {
        return std::nullopt;
    }
    if (!EndWrite) {
        try {
            FormClose();
            EndWrite.emplace(std::nullopt);
        } catch (const std::exception& error) {
            EndWrite.emplace(error.what());
        }
    }
    return *EndWrite;
}

void TMainForm::TranslateToChange() {
    localise::TComponent application = ApplicationComponents();
    localise::ApplyLanguage(application,
                            translate::LangCodeFromComboIndex(TranslateTo->currentIndex()));
    UpdateAccessibleNames();
}

core::TranslationWorker::Exchange TMainForm::PrepareTranslation(const std::u16string& text,
                                                                std::int32_t code) {
    // The windows are looked at here, on their own thread; the worker only talks HTTP.
    const std::string url = translate::ChooseEndpoint(Endpoints, Titles);
    translate::HttpClient* http = HTTP.get();
    return [http, url, text, code] {
        return translate::TranslateAt(text, code, *http, url);
    };
}

// The window as the relabelling walk sees it: ownership as the interface file
// names it, not Qt's widget nesting (the tab widget re-parents its pages, and
// Qt's own inner widgets are no components). How each relabelled kind lands
// on Qt: ckForm sets the window title; ckLabel a QLabel's text; ckButton a
// QPushButton's text; ckMenuItem an action's text; ckTabSheet a page's tab
// text and identity (every page shares the one path). Every kind reads "&"
// as a label does: a mnemonic marker, "&&" for "&". The speed-button kinds would set
// a tool tip and the Tnt kinds take the text unchanged; this window has none
// of them, so every text here passes through the 8-bit code page, UTF-8 on
// this desktop, which keeps Cyrillic intact. The language lists, the edits,
// the page control and the non-visual components are walked but never
// relabelled; each page owns its "Memo".
localise::TComponent TMainForm::ApplicationComponents() {
    using localise::TComponent;
    using localise::TextForm;
    const auto caption = [](auto setText) {
        return [setText](std::u16string_view text, TextForm form) {
            setText(TextFor(text, form));
        };
    };
    TComponent pages{"PageControl1", 0, {}, {}, {}};
    for (int index = 0; index < PageControl1->count(); ++index) {
        TComponent page{"",
                        localise::ckTabSheet,
                        caption([this, index](const QString& text) {
                            SetPageCaption(index, ToEightBit(AsLabelShows(text)));
                        }),
                        {},
                        {TComponent{"Memo", 0, {}, {}, {}}}};
        pages.Components.push_back(std::move(page));
    }
    TComponent form{
        "MainForm",
        localise::ckForm,
        caption([this](const QString& text) {
            BaseCaption = AsLabelShows(text);
            ShowCaption();
        }),
        {},
        {},
    };
    form.Components.push_back({"TranslateTo", 0, {}, {}, {}});
    form.Components.push_back({"l_Translate_To",
                               localise::ckLabel,
                               caption([this](const QString& t) { l_Translate_To->setText(t); }),
                               {},
                               {}});
    form.Components.push_back({"SkypeControl", 0, {}, {}, {}});
    form.Components.push_back({"SendMessage", 0, {}, {}, {}});
    form.Components.push_back({"btnSend",
                               localise::ckButton,
                               caption([this](const QString& t) { btnSend->setText(t); }),
                               {},
                               {}});
    form.Components.push_back({"l_Send_To",
                               localise::ckLabel,
                               caption([this](const QString& t) { l_Send_To->setText(t); }),
                               {},
                               {}});
    form.Components.push_back({"ToUsers", 0, {}, {}, {}});
    form.Components.push_back(std::move(pages));
    form.Components.push_back({"l_in",
                               localise::ckLabel,
                               caption([this](const QString& t) { l_in->setText(t); }),
                               {},
                               {}});
    form.Components.push_back({"SendIn", 0, {}, {}, {}});
    form.Components.push_back({"mnShowOriginal",
                               localise::ckMenuItem,
                               caption([this](const QString& t) { mnShowOriginal->setText(t); }),
                               {},
                               {}});
    form.Components.push_back({"HTTP", 0, {}, {}, {}});
    TComponent application{"", 0, {}, {}, {}};
    application.Components.push_back(std::move(form));
    return application;
}

void TMainForm::OpenErrorBox(const std::string& message, std::function<void()> closed) {
    const std::string title = ErrorBoxTitle(QCoreApplication::applicationFilePath().toStdString());
    auto* box =
        new QMessageBox(QMessageBox::Critical, QString::fromStdString(title),
                        QString::fromStdString(ErrorBoxText(message)), QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("ErrorBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Window-modal and without an event loop of its own: the window keeps
    // receiving while the box is up, and the next box waits for this one.
    box->setWindowModality(Qt::WindowModal);
    connect(box, &QDialog::finished, this, [closed = std::move(closed)] { closed(); });
    box->open();
}

void TMainForm::ShowError(const std::string& message) {
    Errors.Report(message);
}

void TMainForm::RunLater(const std::function<void()>& work) {
    // Dropped with the window.
    QTimer::singleShot(0, this, [this, work] { Guarded(Errors, [&] { work(); }); });
}

void TMainForm::UpdateAccessibleNames() {
    // Each list is named by the label in front of it, in the language shown.
    TranslateTo->setAccessibleName(AsLabelShows(l_Translate_To->text()));
    ToUsers->setAccessibleName(AsLabelShows(l_Send_To->text()));
    SendIn->setAccessibleName(AsLabelShows(l_in->text()));
    SendMessage->setAccessibleName(InterfaceText("MainForm.SendMessage", "Message"));
    ShowStatus(LastStatus);
    for (int index = 0; index < PageControl1->count(); ++index) {
        DescribeTab(index);
    }
}

QString TMainForm::InterfaceText(const char* key, const char* text) const {
    const std::int32_t found = localise::FindTranslation(
        key, translate::LangCodeFromComboIndex(TranslateTo->currentIndex()));
    return found < 0 ? QString::fromLatin1(text)
                     : FromUtf16(localise::Translations()[static_cast<std::size_t>(found)].Text);
}

void TMainForm::DescribeTab(int index) {
    PageControl1->setTabDescription(
        index, PageControl1->isTabMarked(index)
                   ? InterfaceText("MainForm.sUnread", "Unread messages")
                   : InterfaceText("MainForm.sNoUnread", "No unread messages"));
}

void TMainForm::SetPageCaption(int index, const std::string& caption) {
    PageCaptions.at(static_cast<std::size_t>(index)) = caption;
    // Shown with its control and direction characters as symbols; the
    // caption itself stays the page's identity.
    const QString text = FromUtf16(HandleText(caption));
    const std::size_t unread = PageUnread.at(static_cast<std::size_t>(index));
    PageControl1->setTabText(index,
                             unread == 0 ? text : text + QStringLiteral(" (%1)").arg(unread));
    // Each new name is an event to every screen reader; a count changes none.
    QPlainTextEdit* memo = PageLogs.at(static_cast<std::size_t>(index))->Memo;
    if (memo->accessibleName() != text) {
        memo->setAccessibleName(text);
    }
}

int TMainForm::PageIndex(const std::string& handle) const {
    for (std::size_t i = 0; i < PageCaptions.size(); ++i) {
        if (PageCaptions[i] == handle) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void TMainForm::PageShown(int index) {
    if (index < 0 || index >= PageControl1->count()) {
        return;
    }
    Notifications->Withdraw(PageCaptions.at(static_cast<std::size_t>(index)));
}

std::int32_t TMainForm::ReceiveLanguageIndex() const {
    return TranslateTo->currentIndex();
}

std::int32_t TMainForm::SendLanguageIndex() const {
    return SendIn->currentIndex();
}

void TMainForm::SelectSendLanguage(std::int32_t index) {
    SelectIndex(SendIn, index);
}

std::string TMainForm::ContactText() const {
    const QVariant handle = ToUsers->currentData();
    return handle.isValid() ? handle.toByteArray().toStdString()
                            : ToEightBit(ToUsers->currentText());
}

void TMainForm::SelectContact(std::string_view handle) {
    const QString wanted = FromEightBit(handle);
    for (int i = 0; i < ToUsers->count(); ++i) {
        if (FromEightBit(ToUsers->itemData(i).toByteArray().toStdString())
                .compare(wanted, Qt::CaseInsensitive) == 0) {
            ToUsers->setCurrentIndex(i);
            return;
        }
    }
    ToUsers->setCurrentIndex(-1);
}

void TMainForm::SetContacts(const std::vector<std::string>& friends,
                            const std::vector<std::string>& others) {
    // Sorted without regard to case, an equal item after its equals; built
    // aside and handed to the list at once, so that a roster of thousands
    // costs one sort and one change, not one search and one event a friend.
    struct Friend {
        QString Key;
        const std::string* Handle;
    };
    std::vector<Friend> sorted;
    sorted.reserve(friends.size());
    for (const std::string& handle : friends) {
        sorted.push_back({FromEightBit(handle), &handle});
    }
    std::stable_sort(sorted.begin(), sorted.end(), [](const Friend& a, const Friend& b) {
        return a.Key.compare(b.Key, Qt::CaseInsensitive) < 0;
    });
    QList<QStandardItem*> rows;
    rows.reserve(static_cast<qsizetype>(friends.size()) + static_cast<qsizetype>(others.size()));
    const auto row = [](const QString& text, const std::string& handle) {
        auto* item = new QStandardItem(text); // owned by the list's model once added
        item->setData(QByteArray::fromStdString(handle), Qt::UserRole);
        return item;
    };
    for (const Friend& entry : sorted) {
        rows.append(row(FromUtf16(HandleText(*entry.Handle)), *entry.Handle));
    }
    // Partners who are no friends keep their page and come last, marked.
    const QString notContact = InterfaceText("MainForm.sNotContact", "not a contact");
    for (const std::string& handle : others) {
        rows.append(row(FromUtf16(HandleText(handle)) + QStringLiteral(" (") + notContact +
                            QLatin1Char(')'),
                        handle));
    }
    ToUsers->clear();
    if (auto* model = qobject_cast<QStandardItemModel*>(ToUsers->model())) {
        model->invisibleRootItem()->appendRows(rows);
    }
    ToUsers->setCurrentIndex(ToUsers->count() > 0 ? 0 : -1);
}

std::u16string TMainForm::MessageText() const {
    // Block by block: toPlainText() would turn a no-break space into a
    // space and a typed line separator into a line break.
    std::u16string text;
    for (QTextBlock block = SendMessage->document()->begin(); block.isValid();
         block = block.next()) {
        if (block != SendMessage->document()->begin()) {
            text += u"\r\n";
        }
        text += block.text().toStdU16String();
    }
    return text;
}

void TMainForm::SetMessageText(std::u16string_view text) {
    QString lines = FromUtf16(text);
    lines.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    SendMessage->setPlainText(lines);
    SendMessage->moveCursor(QTextCursor::End);
}

void TMainForm::ClearMessage() {
    SendMessage->clear();
}

void TMainForm::EnableSend(bool enabled) {
    btnSend->setEnabled(enabled);
}

void TMainForm::SetSendPending(bool pending) {
    SendMessage->setReadOnly(pending);
    btnSend->setEnabled(!pending && core::HasSendableText(MessageText()));
}

ConversationLog* TMainForm::FindOrCreatePage(const std::string& handle) {
    for (std::size_t i = 0; i < PageCaptions.size(); ++i) {
        if (PageCaptions[i] == handle) {
            return PageLogs[i].get();
        }
    }
    auto* page = new QWidget;
    auto* memo = new QPlainTextEdit(page);
    memo->setObjectName(QStringLiteral("Memo"));
    memo->setFont(QFont(QStringLiteral("Microsoft Sans Serif"), font().pointSize()));
    memo->setReadOnly(true);
    memo->setFrameShape(QFrame::Box);
    memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memo->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(memo, &QWidget::customContextMenuRequested, this, [this, memo](const QPoint& at) {
        // Shown without an event loop of its own; it goes when it closes.
        QMenu* menu = LogContextMenu(memo, at).release();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(memo->mapToGlobal(at));
    });
    auto* fill = new QVBoxLayout(page);
    fill->setContentsMargins(0, 0, 0, 0);
    fill->addWidget(memo);
    PageCaptions.emplace_back(handle);
    PageUnread.push_back(0);
    PageLogs.push_back(std::make_unique<PageLog>(memo));
    PageControl1->addTab(page, QString());
    // The log and the new tab pass on the keys that write (eventFilter).
    for (QWidget* part : PageControl1->findChildren<QWidget*>()) {
        part->removeEventFilter(this);
        part->installEventFilter(this);
    }
    SetPageCaption(PageControl1->count() - 1, handle);
    DescribeTab(PageControl1->count() - 1);
    return PageLogs.back().get();
}

std::unique_ptr<QMenu> TMainForm::LogContextMenu(QPlainTextEdit* memo, const QPoint& position) {
    std::unique_ptr<QMenu> menu(memo->createStandardContextMenu(position));
    menu->addSeparator();
    menu->addAction(mnShowOriginal);
    std::string partner;
    for (std::size_t i = 0; i < PageLogs.size(); ++i) {
        if (PageLogs[i]->Memo == memo) {
            partner = PageCaptions[i];
        }
    }
    if (History != nullptr && !partner.empty()) {
        QAction* forget = menu->addAction(
            InterfaceText("MainForm.mnDeleteHistory", "Delete this conversation's history"));
        forget->setObjectName(QStringLiteral("mnDeleteHistory"));
        connect(forget, &QAction::triggered, this, [this, partner] { AskDeleteHistory(partner); });
    }
    return menu;
}

void TMainForm::AskDeleteHistory(const std::string& partner) {
    const QString who = QString::fromUtf8(partner);
    auto* box = new QMessageBox(
        QMessageBox::Question, InterfaceText("MainForm.sDeleteHistoryTitle", "Delete history"),
        InterfaceText("MainForm.sDeleteHistory",
                      "Delete the history of your conversation with %1? Its messages are removed "
                      "from this computer for good.")
            .arg(who),
        QMessageBox::Yes | QMessageBox::Cancel, this);
    box->setObjectName(QStringLiteral("DeleteHistoryBox"));
    box->setDefaultButton(QMessageBox::Cancel);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    connect(box, &QMessageBox::finished, this, [this, partner](int answer) {
        if (answer == QMessageBox::Yes) {
            Guarded(Errors, [&] { Conversations->DeleteHistory(partner); });
        }
    });
    box->open();
}

void TMainForm::OpenFind() {
    if (History == nullptr || Conversations->ShownPartner().empty()) {
        return;
    }
    FindBar->show();
    FindText->setFocus();
    FindText->selectAll();
}

void TMainForm::CloseFind() {
    FindBar->hide();
    Found.clear();
    FoundText.clear();
    FindResult->clear();
    for (const auto& log : PageLogs) {
        log->Memo->setExtraSelections({});
    }
    SendMessage->setFocus();
}

void TMainForm::FindNext(bool back) {
    const QString text = FindText->text();
    if (text != FoundText) {
        FoundText = text;
        Found.clear();
        FoundShown = 0;
        Guarded(Errors, [&] {
            for (const auto& entry : Conversations->FindInHistory(text.toStdU16String())) {
                Found.push_back(entry.Id);
            }
        });
    } else if (!Found.empty()) {
        FoundShown =
            back ? (FoundShown + Found.size() - 1) % Found.size() : (FoundShown + 1) % Found.size();
    }
    if (Found.empty()) {
        FindResult->setText(text.trimmed().isEmpty()
                                ? QString()
                                : InterfaceText("MainForm.sNotFound", "Not found"));
        FindResult->setAccessibleName(FindResult->text());
        return;
    }
    Guarded(Errors, [&] { Conversations->RevealFound(Found[FoundShown], text.toStdU16String()); });
    FindResult->setText(
        InterfaceText("MainForm.sFound", "%1 of %2").arg(FoundShown + 1).arg(Found.size()));
    FindResult->setAccessibleName(FindResult->text());
}

void TMainForm::PageChosen(int index) {
    if (index >= 0 && static_cast<std::size_t>(index) < PageCaptions.size()) {
        const std::string& partner = PageCaptions[static_cast<std::size_t>(index)];
        Guarded(Errors, [&] { Conversations->PageChosen(partner); });
    }
}

void TMainForm::ShowPages() {
    PageControl1->show();
}

void TMainForm::ShowPage(const std::string& handle) {
    const int index = PageIndex(handle);
    if (index >= 0) {
        PageControl1->setCurrentIndex(index);
    }
}

void TMainForm::SetUnread(const std::string& handle, std::size_t count) {
    const int index = PageIndex(handle);
    if (index < 0 || PageUnread.at(static_cast<std::size_t>(index)) == count) {
        return; // each new description is an event to every screen reader
    }
    PageUnread[static_cast<std::size_t>(index)] = count;
    const bool markChanged = PageControl1->isTabMarked(index) != (count > 0);
    PageControl1->setTabMarked(index, count > 0);
    SetPageCaption(index, handle);
    if (markChanged) {
        DescribeTab(index);
    }
}

std::u16string TMainForm::ClockTime() const {
    return QTime::currentTime().toString(QStringLiteral("hh:mm")).toStdU16String();
}

std::u16string TMainForm::EntryTime(std::int64_t secondsSinceEpoch) const {
    const QDateTime when = QDateTime::fromSecsSinceEpoch(secondsSinceEpoch);
    const bool today = when.date() == QDate::currentDate();
    return when.toString(today ? QStringLiteral("hh:mm") : QStringLiteral("yyyy-MM-dd hh:mm"))
        .toStdU16String();
}

core::TranslationRoute TMainForm::CurrentRoute() const {
    const std::string& url = translate::ChooseEndpoint(Endpoints, Titles);
    return {url == Endpoints.Local, core::HostPortOf(url)};
}

void TMainForm::ShowStatus(const core::StatusLine& status) {
    LastStatus = status;
    const auto text = [this](const char* key, std::u16string_view english) {
        return InterfaceText(key, "").isEmpty() ? std::u16string(english)
                                                : InterfaceText(key, "").toStdU16String();
    };
    const core::StatusTexts english;
    core::StatusTexts texts;
    texts.Attached = text("MainForm.sClientAttached", english.Attached);
    texts.AttachedNoHandle = text("MainForm.sClientAttachedNoHandle", english.AttachedNoHandle);
    texts.Waiting = text("MainForm.sClientWaiting", english.Waiting);
    texts.NotAvailable = text("MainForm.sClientNoApi", english.NotAvailable);
    texts.Local = text("MainForm.sTranslationLocal", english.Local);
    texts.Web = text("MainForm.sTranslationWeb", english.Web);
    texts.Down = text("MainForm.sTranslationDown", english.Down);
    texts.HistoryOff = text("MainForm.sHistoryOff", english.HistoryOff);
    texts.HistoryNotKept = text("MainForm.sHistoryNotKept", english.HistoryNotKept);
    texts.HistoryNotWritten = text("MainForm.sHistoryNotWritten", english.HistoryNotWritten);
    const QString line = FromUtf16(core::StatusText(status, texts));
    if (StatusLine->text() != line) {
        StatusLine->setText(line);
        StatusLine->setAccessibleName(line);
    }
}

bool TMainForm::WindowActive() const {
    return isActiveWindow();
}

std::optional<std::int32_t> TMainForm::RememberedLanguage(const std::string& partner) const {
    if (!core::FitsProfileKey(partner)) {
        return std::nullopt;
    }
    TSettings settings(Profile);
    const std::int32_t index = settings.ReadInteger(core::LanguagesSection, partner, -1);
    return index >= 0 && index < SendIn->count() ? std::optional(index) : std::nullopt;
}

std::u16string TMainForm::RememberedDraft(const std::string& partner) const {
    if (!core::FitsProfileKey(partner)) {
        return {};
    }
    return core::DraftFromValue(Drafts.ReadValue(core::DraftsSection, partner));
}

void TMainForm::ShowOwnHandle(std::string_view handle) {
    OwnHandle = handle;
    ShowCaption();
}

void TMainForm::ShowCaption() {
    // The own handle is shown, like every handle, with its control and
    // direction characters as symbols; once, however often it is reported.
    setWindowTitle(OwnHandle.empty()
                       ? BaseCaption
                       : BaseCaption + QStringLiteral(" - ") + FromUtf16(HandleText(OwnHandle)));
}

bool TMainForm::ShowOriginalText() const {
    return mnShowOriginal->isChecked();
}

void TMainForm::MessageShown(const std::string& handle, std::u16string_view translation) {
    if (isActiveWindow() && handle == Conversations->ShownPartner()) {
        Announce(FromUtf16(HandleText(handle)) + QStringLiteral(": ") + FromUtf16(translation));
    }
    if (!isActiveWindow()) {
        QApplication::alert(this);
        Notifications->Notify(handle, FromUtf16(HandleText(handle)), FromUtf16(translation));
    }
}

void TMainForm::changeEvent(QEvent* event) {
    // Coming back to the window shows its current page again.
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        PageShown(PageControl1->currentIndex());
        Guarded(Errors, [this] { Conversations->WindowActivated(); });
    }
    QWidget::changeEvent(event);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) {
        return QWidget::eventFilter(watched, event);
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (watched == FindText && (enter || key->key() == Qt::Key_Escape)) {
        if (enter) {
            FindNext((key->modifiers() & Qt::ShiftModifier) != 0);
        } else {
            CloseFind();
        }
        return true;
    }
    if (enter && watched == btnSend) {
        btnSend->click(); // the focused Send button answers Enter as it does Space
        return true;
    }
    if (enter && watched == SendMessage) {
        // As in the chat clients people know: Enter (and Ctrl+Enter) sends,
        // Shift+Enter starts a new line.
        if ((key->modifiers() & Qt::ShiftModifier) != 0) {
            SendMessage->insertPlainText(QStringLiteral("\n"));
        } else if (btnSend->isEnabled()) {
            btnSend->click();
        }
        return true;
    }
    // A key that writes, typed in a log or on the tab row, writes in the
    // message: nothing typed is lost. Space stays a tab's own key.
    auto* widget = qobject_cast<QWidget*>(watched);
    const bool onTab = widget != nullptr && qobject_cast<QPlainTextEdit*>(widget) == nullptr;
    if (widget != nullptr && PageControl1->isAncestorOf(widget) && WritesText(*key) &&
        !(onTab && key->key() == Qt::Key_Space) && !SendMessage->isReadOnly()) {
        SendMessage->setFocus();
        SendMessage->moveCursor(QTextCursor::End);
        SendMessage->insertPlainText(key->text());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TMainForm::Announce(const QString& text) {
    Announcement->setText(text);
    Announcement->setAccessibleName(text);
    // Shown anew each time: the change to "showing" is what is spoken.
    Announcement->hide();
    Announcement->show();
    Announcement->lower();
    QTimer::singleShot(AnnouncementShownMs, Announcement, [label = Announcement, text] {
        if (label->text() == text) {
            label->hide();
        }
    });
}

} // namespace velantro::window
