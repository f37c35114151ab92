#pragma once

// The program's only window: the language lists, the conversation pages, the
// message being written and the contact list. Thin: the flows live in the
// conversation core, the settings in TSettings; this class binds them to Qt
// widgets and to the chat-client component's events.

#include "core/ConversationFlows.h"
#include "core/MainView.h"
#include "core/TranslationWorker.h"
#include "localise/Component.h"
#include "platform/ProfileFile.h"
#include "platform/WindowMessages.h"
#include "platform/WindowTitles.h"
#include "skype/SkypeControl.h"
#include "translate/Endpoints.h"
#include "translate/HttpClient.h"
#include "window/ErrorReporter.h"

#include <QWidget>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;

namespace velantro::window {

class DesktopNotifications;
class PageLog;
class TSettings;
class TPageControl;

class TMainForm final : public QWidget, private core::MainView {
    Q_OBJECT

public:
    /// What the window works with. messages, titles and profile must outlive it.
    struct Services {
        platform::WindowMessages& Messages;
        platform::WindowTitles& Titles;
        platform::ProfileFile& Profile;
        /// The drafts file, beside the settings.
        platform::ProfileFile& Drafts;
        std::unique_ptr<translate::HttpClient> HTTP;
        translate::Endpoints Endpoints;
        /// The interface file to load, as found by LocateInterfaceFile.
        std::string InterfaceFile;
        /// Shows an error to the user; the error box when empty.
        std::function<void(const std::string& message)> ShowError;
        /// When it gives true a translation under way gives up (a stop signal).
        std::function<bool()> Abandon;
        /// The conversation history; null when none is kept, and then
        /// HistoryState and HistoryProblem say why. It outlives the window.
        history::ConversationHistory* History = nullptr;
        core::StatusLine::History HistoryState = core::StatusLine::History::Off;
        std::string HistoryProblem;
    };

    /// Builds the window's controls and components and runs FormCreate.
    explicit TMainForm(Services services);
    ~TMainForm() override;

    // The controls and components, by the names the interface file uses.
    QComboBox* TranslateTo = nullptr;
    QLabel* l_Translate_To = nullptr;
    std::unique_ptr<skype::TSkypeControl> SkypeControl;
    QPlainTextEdit* SendMessage = nullptr;
    QPushButton* btnSend = nullptr;
    QLabel* l_Send_To = nullptr;
    QComboBox* ToUsers = nullptr;
    TPageControl* PageControl1 = nullptr;
    QLabel* l_in = nullptr;
    QComboBox* SendIn = nullptr;
    std::unique_ptr<translate::HttpClient> HTTP;
    /// Speaks a message arriving on the page in front to screen readers.
    QLabel* Announcement = nullptr;
    /// The line at the bottom: the chat client's and translation's state.
    QLabel* StatusLine = nullptr;
    /// "Show original text", in every log's context menu; off at every start.
    QAction* mnShowOriginal = nullptr;
    /// Ctrl+F: finds text in the shown partner's history.
    QWidget* FindBar = nullptr;
    QLineEdit* FindText = nullptr;
    QLabel* FindResult = nullptr;

    /// Relabels the application in the language of the "Receive in" choice.
    void TranslateToChange();

    /// Prepares a translation on the window's thread: the endpoint is chosen
    /// now, the exchange runs on the translation worker.
    core::TranslationWorker::Exchange PrepareTranslation(const std::u16string& text,
                                                         std::int32_t code);

    /// The window as the relabelling walk sees it, with the application
    /// object as its root.
    localise::TComponent ApplicationComponents();

    const core::ConversationFlows& Flows() const { return *Conversations; }
    /// Translations asked for whose outcome has not come back yet.
    std::size_t TranslationsWaiting() const { return Translations->Waiting(); }

    /// The context menu of a page's log: the log's own actions and the view's.
    std::unique_ptr<QMenu> LogContextMenu(QPlainTextEdit* memo, const QPoint& position);

    /// For the end of the run that no close starts (a stop signal, the
    /// session's end): writes the settings unless a close or an earlier call
    /// has written or tried to. Gives that one try's error, if any.
    std::optional<std::string> WriteSettingsOnce();

    /// The run is ending: errors no longer open boxes that would wait for a
    /// click.
    void StopErrorBoxes() { Ending = true; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void LayOutControls();
    void BindEvents();
    void FormCreate();
    void FormClose();
    void OpenErrorBox(const std::string& message, std::function<void()> closed);
    void UpdateAccessibleNames();
    void SetPageCaption(int index, const std::string& caption);
    int PageIndex(const std::string& handle) const;
    /// The page at index is in front of the user: its bubble goes.
    void PageShown(int index);
    /// The window's caption: the interface's, then the own handle once.
    void ShowCaption();
    void Announce(const QString& text);
    /// Writes each partner's language, and hands the drafts that changed to
    /// the drafts file; true when there were any, to be flushed.
    bool KeepPartners(TSettings& settings, TSettings& draftsFile);
    void DescribeTab(int index);
    /// A text of the interface file for the "Receive in" language, or text.
    QString InterfaceText(const char* key, const char* text) const;
    /// The user made the page at index the current one.
    void PageChosen(int index);
    /// Ctrl+F: the find bar, its text selected.
    void OpenFind();
    /// Enter in the find bar: a new text is searched for, the same one goes
    /// on to the next (older) entry; back goes to the newer one.
    void FindNext(bool back);
    void CloseFind();
    /// Asks once whether to delete the history of partner's conversation,
    /// without waiting: the answer comes later.
    void AskDeleteHistory(const std::string& partner);

    // MainView
    std::int32_t ReceiveLanguageIndex() const override;
    std::int32_t SendLanguageIndex() const override;
    void SelectSendLanguage(std::int32_t index) override;
    std::string ContactText() const override;
    void SelectContact(std::string_view handle) override;
    void SetContacts(const std::vector<std::string>& friends,
                     const std::vector<std::string>& others) override;
    std::u16string MessageText() const override;
    void SetMessageText(std::u16string_view text) override;
    void ClearMessage() override;
    void EnableSend(bool enabled) override;
    void SetSendPending(bool pending) override;
    core::ConversationLog* FindOrCreatePage(const std::string& handle) override;
    void ShowPages() override;
    void ShowPage(const std::string& handle) override;
    void SetUnread(const std::string& handle, std::size_t count) override;
    bool WindowActive() const override;
    std::u16string ClockTime() const override;
    std::u16string EntryTime(std::int64_t secondsSinceEpoch) const override;
    core::TranslationRoute CurrentRoute() const override;
    void ShowStatus(const core::StatusLine& status) override;
    std::optional<std::int32_t> RememberedLanguage(const std::string& partner) const override;
    std::u16string RememberedDraft(const std::string& partner) const override;
    void ShowOwnHandle(std::string_view handle) override;
    bool ShowOriginalText() const override;
    void MessageShown(const std::string& handle, std::u16string_view translation) override;
    void ShowError(const std::string& message) override;
    void RunLater(const std::function<void()>& work) override;

    history::ConversationHistory* History;
    core::StatusLine::History HistoryState;
    std::string HistoryProblem;
    /// The entries the last search found, newest first, and the one shown.
    std::vector<std::int64_t> Found;
    std::size_t FoundShown = 0;
    QString FoundText;
    platform::WindowTitles& Titles;
    platform::ProfileFile& Profile;
    platform::ProfileFile& Drafts;
    translate::Endpoints Endpoints;
    std::string InterfaceFile;
    ErrorReporter Errors;
    platform::WindowMessages& Messages;
    /// Set once the window is going: a translation under way gives up.
    std::shared_ptr<std::atomic<bool>> Closing = std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<core::TranslationWorker> Translations;
    std::unique_ptr<core::ConversationFlows> Conversations;
    /// Each page's caption as 8-bit text, the page's identity; the tab shows it.
    std::vector<std::string> PageCaptions;
    std::vector<std::unique_ptr<PageLog>> PageLogs;
    DesktopNotifications* Notifications = nullptr;
    /// Each page's unread count, shown after its caption.
    std::vector<std::size_t> PageUnread;
    /// The status line last shown, written again in a new language.
    core::StatusLine LastStatus;
    /// The interface's caption, and the own handle shown after it.
    QString BaseCaption;
    std::string OwnHandle;
    bool Ending = false;
    bool SettingsWritten = false;
    /// The end's one try at the settings, once made: its error, if any.
    std::optional<std::optional<std::string>> EndWrite;
};

} // namespace velantro::window
