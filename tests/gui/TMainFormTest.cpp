// The real window, offscreen, over an in-process chat client, an in-memory
// profile file and an HTTP client that answers from a table. The chat
// client's lines are handled, and translations come back, only when the test
// lets the loops run (Settle).

#include "window/TMainForm.h"

#include "doubles/FakeWindowMessages.h"
#include "history/HistoryStore.h"
#include "unit/localise/MaskedFile.h"
#include "window/TPageControl.h"

#include <QAccessible>
#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTextBlock>
#include <QTimer>
#include <QtTest>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

using namespace velantro;
using window::TMainForm;

namespace {

constexpr platform::WindowHandle ClientWindow = 0x2002;

class NoWindows final : public platform::WindowTitles {
public:
    bool EnumerateWindows(const std::function<bool(platform::WindowHandle)>&) override {
        return true;
    }
    int ReadWindowTitle(platform::WindowHandle, char*, int) override { return 0; }
};

/// A profile file in memory whose writes can be made to fail.
class MemoryProfile final : public platform::ProfileFile {
public:
    std::map<std::string, std::string> Values;
    int FailingWrites = 0;

    std::string ReadValue(std::string_view section, std::string_view key) override {
        const auto found = Values.find(Key(section, key));
        return found == Values.end() ? "" : found->second;
    }
    bool WriteValue(std::string_view section, std::string_view key,
                    std::string_view value) override {
        if (FailingWrites > 0) {
            --FailingWrites;
            return false;
        }
        Values[Key(section, key)] = value;
        return true;
    }
    /// The [General] keys by their own names, the others as "Section/key".
    static std::string Key(std::string_view section, std::string_view key) {
        return section == "General" ? std::string(key)
                                    : std::string(section) + "/" + std::string(key);
    }
    bool Flush() override { return true; }
    std::string DisplayName() const override { return "velantro.ini"; }
};

/// Holds every exchange until opened, as a service that takes its time.
class Gate {
public:
    void Close() {
        const std::lock_guard guard(Lock);
        Closed = true;
    }
    void Open() {
        {
            const std::lock_guard guard(Lock);
            Closed = false;
        }
        Opened.notify_all();
    }
    void PassWhenOpen() {
        std::unique_lock guard(Lock);
        Opened.wait(guard, [this] { return !Closed; });
    }

private:
    std::mutex Lock;
    std::condition_variable Opened;
    bool Closed = false;
};

/// Answers every exchange with the form reply "l1=" + Reply, or fails; on the
/// translation worker's thread, once the gate lets it.
class TableHttp final : public translate::HttpClient {
public:
    TableHttp(const std::string* reply, Gate* gate, std::string* lastBody)
        : Reply(reply)
        , Wait(gate)
        , LastBody(lastBody) {}
    std::string PostForm(const std::string&, std::string_view body) override {
        Wait->PassWhenOpen();
        // Read by the test once the window has the answer, which is after this.
        *LastBody = body;
        if (Reply->empty()) {
            throw translate::HttpError("Connection refused");
        }
        return "l1=" + *Reply + "&";
    }

private:
    const std::string* Reply;
    Gate* Wait;
    std::string* LastBody;
};

} // namespace

class TMainFormTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TMainForm> Open(const std::string& interfaceFile = {}, bool realBoxes = false) {
        Fake = std::make_unique<doubles::FakeWindowMessages>();
        TMainForm::Services services{
            *Fake,
            Titles,
            Profile,
            DraftsFile,
            std::make_unique<TableHttp>(&Reply, &Service, &LastRequest),
            translate::Endpoints{},
            interfaceFile.empty() ? DataFile : interfaceFile,
            realBoxes ? std::function<void(const std::string&)>()
                      : [this](const std::string& message) { Shown.push_back(message); },
            {},
            History,
            core::StatusLine::History::Off,
            {}};
        auto form = std::make_unique<TMainForm>(std::move(services));
        Form = form.get();
        form->show();
        return form;
    }

    /// Lets the window's work run out: the chat client's lines and the
    /// commands' answers or time limits on the fake's loop, the translations
    /// coming back on Qt's.
    void Settle() {
        using namespace std::chrono_literals;
        for (int quiet = 0, round = 0; quiet < 2 && round < 1000; ++round) {
            QCoreApplication::processEvents();
            const int ran = Fake->Advance(skype::TSkypeControl::AnswerTimeout + 100ms);
            QCoreApplication::processEvents();
            const bool busy = Form->TranslationsWaiting() > 0;
            if (busy) {
                QTest::qWait(1);
            }
            quiet = ran == 0 && !busy ? quiet + 1 : 0;
        }
    }

    /// A chat-client line delivered to the window, as the client sends it,
    /// and what it starts run out.
    void Deliver(const std::string& line) {
        Fake->DeliverLine(ClientWindow, line);
        Settle();
    }

    /// Presses Send and lets the send run out.
    void PressSend(TMainForm& form) {
        form.btnSend->click();
        Settle();
    }

    void ReceiveMessage(int id, const std::string& from, const std::string& body) {
        Deliver("CHATMESSAGE " + std::to_string(id) + " FROM_HANDLE " + from);
        Deliver("CHATMESSAGE " + std::to_string(id) + " BODY " + body);
    }

    /// The chat client takes every command and reports its user as maria.
    std::unique_ptr<TMainForm> Attached(const std::vector<std::string>& friends = {"alice",
                                                                                   "bob"}) {
        auto form = Open();
        Fake->DeliverAttachStatus(ClientWindow, 0);
        Settle();
        std::string list;
        for (const std::string& handle : friends) {
            list += (list.empty() ? "" : ", ") + handle;
        }
        Deliver("USERS " + list);
        Deliver("CURRENTUSERHANDLE maria");
        form->activateWindow();
        return form;
    }

    std::vector<std::string> SentMessages() const {
        std::vector<std::string> sent;
        for (const std::string& line : Fake->SentLines()) {
            if (line.rfind("MESSAGE ", 0) == 0) {
                sent.push_back(line);
            }
        }
        return sent;
    }

    static QPlainTextEdit* Log(TMainForm& form, int page) {
        return form.PageControl1->widget(page)->findChild<QPlainTextEdit*>("Memo");
    }

    /// The log's text without the times that start its entries.
    static QString Memo(TMainForm& form, int page) {
        static const QRegularExpression time(QStringLiteral("^\\d\\d:\\d\\d "),
                                             QRegularExpression::MultilineOption);
        return Log(form, page)->toPlainText().remove(time);
    }

    velantro::testing::TempFolder Folder;
    std::string DataFile;
    std::unique_ptr<doubles::FakeWindowMessages> Fake;
    NoWindows Titles;
    MemoryProfile Profile;
    MemoryProfile DraftsFile;
    std::string Reply = "ok";
    std::vector<std::string> Shown;
    Gate Service;
    std::string LastRequest;
    TMainForm* Form = nullptr;
    /// The history the next window keeps its conversations in; none when null.
    history::HistoryStore* History = nullptr;

private slots:
    void init() {
        History = nullptr;
        Profile = MemoryProfile();
        DraftsFile = MemoryProfile();
        Shown.clear();
        Service.Open();
        Reply = "ok";
        DataFile = (Folder / "vlintf.dat").string();
        velantro::testing::WriteMasked(
            DataFile, velantro::testing::CompressedMember(velantro::testing::Payload(
                          "MainForm.l_Translate_To;1;\"Receive in:\"\n"
                          "MainForm.l_Translate_To;2;\"\xCF\xEE\xEB\xF3\xF7\xE0\xE2\xE0\xE9 "
                          "\xED\xE0:\"\n" // code page 1251
                          "MainForm.btnSend;5;Enviar\n"
                          "mainform.l_in;5;wrong case\n"
                          "MainForm.PageControl1.;5;Charla\n"
                          "MainForm.PageControl1..Memo;5;never\n"
                          "MainForm;6;\"Velantro (fr)\"\n"
                          "MainForm.sClientAttached;2;\"\xD7\xE0\xF2 \xEA\xEB\xE8\xE5\xED\xF2: "
                          "\xF1\xE2\xFA\xF0\xE7\xE0\xED \xEA\xE0\xF2\xEE %1\"\n")));
    }

    void settingsAreReadAtStartAndWrittenAtClose() {
        struct Case {
            const char* Name;
            std::map<std::string, std::string> File;
            int Receive;
            QRect Geometry;
            std::map<std::string, std::string> Written;
        };
        const Case cases[] = {
            {"no file: defaults, the minimum size holding",
             {},
             0,
             {230, 160, 380, 338},
             {{"Receive", "0"},
              {"Send", "0"},
              {"Left", "230"},
              {"Top", "160"},
              {"Width", "380"},
              {"Height", "338"}}},
            {"0x3", {{"Receive", "0x3"}}, 3, {230, 160, 380, 338}, {{"Receive", "3"}}},
            {"$3", {{"Receive", "$3"}}, 3, {230, 160, 380, 338}, {{"Receive", "3"}}},
            {"abc", {{"Receive", "abc"}}, 0, {230, 160, 380, 338}, {{"Receive", "0"}}},
            {"7: no selection", {{"Receive", "7"}}, -1, {230, 160, 380, 338}, {{"Receive", "-1"}}},
            {"moved and sized",
             {{"Left", "500"}, {"Top", "300"}, {"Width", "400"}, {"Height", "350"}},
             0,
             {500, 300, 400, 350},
             {{"Left", "500"}, {"Top", "300"}, {"Width", "400"}, {"Height", "350"}}},
        };
        for (const auto& c : cases) {
            Profile.Values = c.File;
            auto form = Open();
            QCOMPARE(form->TranslateTo->currentIndex(), c.Receive);
            QCOMPARE(QRect(form->pos(), form->size()), c.Geometry);
            QVERIFY(form->close());
            for (const auto& [key, value] : c.Written) {
                QVERIFY2(Profile.Values[key] == value, (std::string(c.Name) + ": " + key).c_str());
            }
            QCOMPARE(Profile.Values.size(), std::size_t(6));
        }
        QVERIFY(Shown.empty());
    }

    void aWindowNoScreenCanHoldIsMadeToFit() {
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const struct {
            const char* Name;
            std::map<std::string, std::string> File;
            QRect Geometry;
        } cases[] = {
            {"largest size",
             {{"Left", "10"}, {"Top", "20"}, {"Width", "2147483647"}, {"Height", "2147483647"}},
             {10, 20, screen.width(), screen.height()}},
            {"beyond every screen",
             {{"Left", "2147483647"}, {"Top", "-2147483648"}},
             {230, 160, 380, 338}},
            {"partly on the screen",
             {{"Left", "-399"}, {"Top", "-349"}, {"Width", "400"}, {"Height", "350"}},
             {-399, -349, 400, 350}},
        };
        for (const auto& c : cases) {
            Profile.Values = c.File;
            auto form = Open();
            QVERIFY2(QRect(form->pos(), form->size()) == c.Geometry, c.Name);
            QVERIFY(form->close());
            QCOMPARE(Profile.Values["Width"], std::to_string(c.Geometry.width()));
            QCOMPARE(Profile.Values["Left"], std::to_string(c.Geometry.x()));
        }
    }

    void aFailedWriteKeepsTheWindowOpenUntilACloseSucceeds() {
        auto form = Open();
        Profile.FailingWrites = 1;
        QVERIFY(!form->close());
        QVERIFY(form->isVisible());
        QCoreApplication::processEvents();
        QCOMPARE(Shown, std::vector<std::string>{"Unable to write to velantro.ini"});
        QVERIFY(Profile.Values.empty()); // the keys after the failed one wait too
        QVERIFY(form->close());
        QCOMPARE(Profile.Values.size(), std::size_t(6));
    }

    void theEndOfTheRunTriesTheSettingsOnceAndOpensNoBox() {
        const struct {
            const char* Name;
            bool ClosedFirst;
            int FailingWrites;
            std::optional<std::string> Error;
            std::size_t Written;
        } cases[] = {
            {"writable", false, 0, std::nullopt, 6},
            {"unwritable", false, 100, "Unable to write to velantro.ini", 0},
            {"already written by the user's close", true, 0, std::nullopt, 6},
        };
        for (const auto& c : cases) {
            Profile = MemoryProfile();
            DraftsFile = MemoryProfile();
            Shown.clear();
            auto form = Open();
            if (c.ClosedFirst) {
                QVERIFY(form->close());
                Profile.Values.clear();
            }
            Profile.FailingWrites = c.FailingWrites;
            form->StopErrorBoxes();
            QCOMPARE(form->WriteSettingsOnce(), c.Error);
            QCOMPARE(form->WriteSettingsOnce(), c.Error);
            QVERIFY2(Profile.FailingWrites == std::max(0, c.FailingWrites - 1), c.Name);
            QVERIFY2(Profile.Values.size() == (c.ClosedFirst ? 0 : c.Written), c.Name);
            // An error after the end began reaches no box.
            Reply.clear();
            Fake->DeliverAttachStatus(ClientWindow, 0);
            Settle();
            ReceiveMessage(4, "alice", "hola");
            QCoreApplication::processEvents();
            QVERIFY2(Shown.empty(), c.Name);
        }
    }

    void anErrorWhileCreatingSkipsTheAttach() {
        const struct {
            std::string File;
            std::size_t Broadcasts;
        } cases[] = {{"", 1}, {(Folder / "broken.dat").string(), 0}};
        velantro::testing::WriteMasked(Folder / "broken.dat", "not gzip at all");
        for (const auto& c : cases) {
            Shown.clear();
            auto form = Open(c.File);
            QCoreApplication::processEvents();
            QCOMPARE(Fake->Broadcasts.size(), c.Broadcasts);
            QCOMPARE(Shown.size(), std::size_t(1 - c.Broadcasts));
        }
    }

    void relabellingFollowsTheReceiveLanguage() {
        auto form = Open();
        Fake->DeliverAttachStatus(ClientWindow, 0);
        Settle();
        ReceiveMessage(1, "alice", "hola");
        ReceiveMessage(2, "bob", "salut");
        QCOMPARE(form->PageControl1->count(), 2);
        QCOMPARE(form->l_Translate_To->text(), QString("Receive in:"));
        Deliver("CURRENTUSERHANDLE maria");
        QCOMPARE(form->windowTitle(), QString("Velantro 1.0:01 - maria"));

        const auto choose = [&](int index) {
            form->TranslateTo->setCurrentIndex(index);
            emit form->TranslateTo->activated(index);
        };
        choose(1); // Spanish: the button and every page; the log and the wrong-case key never
        QCOMPARE(form->btnSend->text(), QString("Enviar"));
        // Each tab keeps its unread count after the relabelled caption.
        QVERIFY(form->PageControl1->tabText(0).startsWith(QString("Charla")));
        QCOMPARE(form->PageControl1->tabText(1), QString("Charla (1)"));
        QCOMPARE(form->l_in->text(), QString("in"));
        QCOMPARE(Memo(*form, 0), QString("alice: ok"));
        QCOMPARE(form->l_Translate_To->text(), QString("Receive in:")); // no entry: kept

        choose(3); // Bulgarian: Cyrillic through the 8-bit code page
        QCOMPARE(form->l_Translate_To->text(), QString::fromUtf8("Получавай на:"));
        choose(2); // French replaces the caption; the own handle follows it once
        QCOMPARE(form->windowTitle(), QString("Velantro (fr) - maria"));
        QVERIFY(Shown.empty());
    }

    void friendsAreListedWithoutRegardToCaseEqualOnesInTheirOrder() {
        auto form = Attached({"bob", "alice", "Carol", "Alice", "carol", "Bob2"});
        QStringList items;
        for (int i = 0; i < form->ToUsers->count(); ++i) {
            items << form->ToUsers->itemText(i);
        }
        QCOMPARE(items, (QStringList{"alice", "Alice", "bob", "Bob2", "Carol", "carol"}));
        QCOMPARE(form->ToUsers->itemData(4).toByteArray(), QByteArray("Carol"));
    }

    void everyCaptionReadsAnAmpersandAsALabelDoes() {
        const std::string file = (Folder / "mnemonics.dat").string();
        velantro::testing::WriteMasked(
            file, velantro::testing::CompressedMember(velantro::testing::Payload(
                      "MainForm;5;\"Velantro && C&o\"\n"
                      "MainForm.l_Translate_To;5;\"R&ecibir en:\"\n"
                      "MainForm.btnSend;5;&Enviar\n"
                      "MainForm.PageControl1.;5;\"Ch&arla\"\n"
                      "MainForm.mnShowOriginal;5;\"Mostrar &original\"\n")));
        auto form = Open(file);
        Fake->DeliverAttachStatus(ClientWindow, 0);
        Settle();
        ReceiveMessage(1, "alice", "hola");
        form->TranslateTo->setCurrentIndex(1);
        emit form->TranslateTo->activated(1);
        const auto name = [](QObject* object) {
            return QAccessible::queryAccessibleInterface(object)->text(QAccessible::Name);
        };
        QCOMPARE(form->windowTitle(), QString("Velantro & Co"));
        QCOMPARE(name(form->l_Translate_To), QString("Recibir en:"));
        QCOMPARE(name(form->btnSend), QString("Enviar"));
        QCOMPARE(form->PageControl1->tabText(0), QString("Charla"));
        QCOMPARE(form->mnShowOriginal->iconText(), QString("Mostrar original"));
    }

    void theMessageIsSentAsTypedNoBreakSpacesAndAll() {
        auto form = Attached();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        // Typed as a keyboard delivers it, a character a key.
        for (const QChar c : QString::fromUtf16(u"1\u00A0000\u2028km")) {
            for (const auto action : {QTest::Press, QTest::Release}) {
                QTest::sendKeyEvent(action, form->SendMessage, Qt::Key_unknown, QString(c),
                                    Qt::NoModifier);
            }
        }
        QTest::keyClick(form->SendMessage, Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClicks(form->SendMessage, QString("end"));
        QTest::keyClick(form->SendMessage, Qt::Key_Return);
        Settle();
        QCOMPARE(SentMessages(),
                 std::vector<std::string>{"MESSAGE alice ok - Translated with Velantro"});
        // The service was asked for exactly what was typed (as character
        // references, CR LF between the lines), and the page keeps it too.
        QCOMPARE(LastRequest, std::string("l1=%26%2349%3B%26%23160%3B%26%2348%3B%26%2348%3B"
                                          "%26%2348%3B%26%238232%3B%26%23107%3B%26%23109%3B"
                                          "%26%2313%3B%26%2310%3B%26%23101%3B%26%23110%3B"
                                          "%26%23100%3B&TargetLang=1&"));
        const QString raw = Log(*form, 0)->document()->toRawText();
        QVERIFY2(raw.contains(QString::fromUtf16(u"maria: 1\u00A0000\u2028km\u2029")),
                 qPrintable(raw));
        QVERIFY2(raw.endsWith(QString::fromUtf16(u"end (ok)")), qPrintable(raw));
    }

    void anIncomingFailureOpensNoBoxAndIsToldFromTheLoop() {
        auto form = Open();
        Fake->DeliverAttachStatus(ClientWindow, 0);
        Settle();
        Reply.clear();
        const QString before = form->StatusLine->text();
        Fake->DeliverLine(ClientWindow, "CHATMESSAGE 3 FROM_HANDLE alice");
        Fake->DeliverLine(ClientWindow, "CHATMESSAGE 3 BODY hola");
        QCOMPARE(form->StatusLine->text(), before);
        Settle();
        QVERIFY(Shown.empty());
        QVERIFY(form->StatusLine->text().contains("messages waiting: 1"));
        QCOMPARE(form->Flows().UntranslatedCount(), std::size_t(1));
        QCOMPARE(Memo(*form, 0), QString("alice: hola [not translated]"));
    }

    void aSendIsSettledByTheClientsAnswerThatComesAfterIt() {
        struct Case {
            const char* Name;
            const char* Late; ///< the client's line once it took the message; null: none
            std::vector<std::string> Shown;
            QString Entry;
        };
        const Case cases[] = {
            {"an ERROR",
             "ERROR 4 Invalid user handle",
             {"The message to \"alice\" was not sent: the chat client refused it with error 4: "
              "Invalid user handle"},
             QString()},
            {"its confirmation", "CHATMESSAGE 12 STATUS SENDING", {}, QString(": Hi (ok)")},
            {"nothing: taken after the wait", nullptr, {}, QString(": Hi (ok)")},
        };
        for (const Case& c : cases) {
            auto form = Open();
            Fake->DeliverAttachStatus(ClientWindow, 0);
            Settle();
            Deliver("USERS alice");
            Shown.clear();
            Fake->AnswerAfterResult = true;
            Fake->Answer = [&c](const doubles::FakeWindowMessages::SendRecord& send) {
                const bool message = send.Line().rfind("MESSAGE ", 0) == 0;
                return message && c.Late != nullptr ? std::vector<std::string>{c.Late}
                                                    : std::vector<std::string>{};
            };
            form->SendMessage->setPlainText("Hi");
            form->btnSend->click();
            // Under way: the text is the send's until the client has answered.
            QVERIFY(form->SendMessage->isReadOnly());
            QVERIFY(!form->btnSend->isEnabled());
            Settle();
            QCOMPARE(Shown, c.Shown);
            QCOMPARE(form->PageControl1->count() == 0 ? QString() : Memo(*form, 0), c.Entry);
            QCOMPARE(form->SendMessage->toPlainText(),
                     c.Entry.isEmpty() ? QString("Hi") : QString());
            QVERIFY(!form->SendMessage->isReadOnly());
            QCOMPARE(form->btnSend->isEnabled(), c.Entry.isEmpty());
        }
    }

    void theWindowAnswersWhileATranslationTakesItsTime() {
        auto form = Attached();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        Service.Close();
        Fake->DeliverLine(ClientWindow, "CHATMESSAGE 1 FROM_HANDLE bob");
        Fake->DeliverLine(ClientWindow, "CHATMESSAGE 1 BODY salut");
        Fake->RunPending();
        QTRY_COMPARE(form->TranslationsWaiting(), std::size_t(1));
        // The exchange holds the worker, not the window: keys land at once,
        // pages switch, and the chat client's lines are taken.
        QTest::keyClicks(form->SendMessage, "typed meanwhile");
        QCOMPARE(form->SendMessage->toPlainText(), QString("typed meanwhile"));
        QCOMPARE(Fake->DeliverLine(ClientWindow, "CHATMESSAGE 2 FROM_HANDLE alice").Result, 1);
        QCOMPARE(form->PageControl1->count(), 1);
        Service.Open();
        Settle();
        QCOMPARE(Memo(*form, 0), QString("bob: ok"));
        QCOMPARE(form->SendMessage->toPlainText(), QString("typed meanwhile"));
        QVERIFY(Shown.empty());
    }

    void errorBoxesOpenOneAtATimeWithoutHoldingTheWindow() {
        auto form = Open({}, true);
        Fake->DeliverAttachStatus(ClientWindow, 0);
        Settle();
        Deliver("USERS alice");
        Reply.clear();
        const auto send = [&](const char* text) {
            form->SendMessage->setPlainText(text);
            form->btnSend->click();
            Settle();
        };
        send("hola");
        send("adios");
        const auto boxes = [&] {
            QList<QMessageBox*> open;
            for (QMessageBox* box : form->findChildren<QMessageBox*>("ErrorBox")) {
                if (box->isVisible()) {
                    open.push_back(box);
                }
            }
            return open;
        };
        QTRY_COMPARE(boxes().size(), 1);
        QVERIFY(boxes().front()->text().startsWith("Not sent: the translation service at "));
        QVERIFY(boxes().front()->text().endsWith(" Your text is kept."));
        QCOMPARE(form->SendMessage->toPlainText(), QString("adios"));
        // The window goes on meanwhile: a message is taken and shown.
        Reply = "ok";
        ReceiveMessage(3, "alice", "otra");
        QVERIFY(Memo(*form, 0).endsWith("alice: ok"));
        boxes().front()->accept();
        QTRY_COMPARE(boxes().size(), 1); // the second error's box, now
        boxes().front()->accept();
        QTRY_COMPARE(boxes().size(), 0);
    }

    void theShownPageAndToAreOneChoiceEachWithItsDraft() {
        auto form = Open();
        Fake->DeliverAttachStatus(ClientWindow, 0);
        Settle();
        Deliver("USERS alice, bob, carol");
        form->ToUsers->setCurrentIndex(1);
        form->SendMessage->setPlainText("Dear bob");
        // No page yet: the reply being written keeps its partner, whose page
        // is the one shown; alice's page comes unread behind it.
        ReceiveMessage(1, "alice", "hola");
        ReceiveMessage(2, "zoe", "salut");
        window::TPageControl& pages = *form->PageControl1;
        const auto shown = [&] {
            return pages.tabText(pages.currentIndex());
        };
        QCOMPARE(shown(), QString("bob"));
        QCOMPARE(form->ToUsers->currentText(), QString("bob"));
        QCOMPARE(form->SendMessage->toPlainText(), QString("Dear bob"));
        // A stranger is listed after the friends, marked.
        QCOMPARE(form->ToUsers->itemText(3), QString("zoe (not a contact)"));
        // A click on a tab: its partner in "To", their own (empty) draft.
        QCOMPARE(pages.tabText(0), QString("alice (1)")); // pages in the order they came
        pages.setCurrentIndex(0);
        QCOMPARE(form->ToUsers->currentText(), QString("alice"));
        QCOMPARE(form->SendMessage->toPlainText(), QString());
        QTest::keyClicks(form->SendMessage, "Hi alice");
        // A partner chosen in "To" (here carol, with no page) shows their page, made empty.
        form->ToUsers->setCurrentIndex(2);
        emit form->ToUsers->activated(2);
        QCOMPARE(shown(), QString("carol"));
        QCOMPARE(form->SendMessage->toPlainText(), QString());
        QCOMPARE(pages.count(), 4);
        form->ToUsers->setCurrentIndex(0);
        emit form->ToUsers->activated(0);
        QCOMPARE(form->SendMessage->toPlainText(), QString("Hi alice"));
        form->btnSend->click();
        Settle();
        QCOMPARE(SentMessages(),
                 std::vector<std::string>{"MESSAGE alice ok - Translated with Velantro"});
        pages.setCurrentIndex(1);
        QCOMPARE(form->ToUsers->currentText(), QString("bob"));
        QCOMPARE(form->SendMessage->toPlainText(), QString("Dear bob"));
        QVERIFY(Shown.empty());
    }

    void languagesAndDraftsAreKeptForTheNextRun() {
        {
            auto form = Attached({"alice", "bob"});
            form->ToUsers->setCurrentIndex(1);
            emit form->ToUsers->activated(1);
            form->SendIn->setCurrentIndex(3);
            emit form->SendIn->activated(3);
            form->SendMessage->setPlainText(" two\nlines ");
            form->close();
        }
        QCOMPARE(Profile.Values["Languages/bob"], std::string("3"));
        QCOMPARE(DraftsFile.Values["Drafts/bob"], std::string("\" two\\nlines \""));
        QCOMPARE(Profile.Values.count("Drafts/bob"), std::size_t(0));
        auto form = Attached({"alice", "bob"});
        form->SendIn->setCurrentIndex(0);
        emit form->SendIn->activated(0);
        QCOMPARE(form->SendMessage->toPlainText(), QString());
        form->ToUsers->setCurrentIndex(1);
        emit form->ToUsers->activated(1);
        QCOMPARE(form->SendIn->currentIndex(), 3);
        QCOMPARE(form->SendMessage->toPlainText(), QString(" two\nlines "));
    }

    void tabsWrapOntoRowsInPageOrderAndEveryOneCanBeShown() {
        const auto latin = [](int n) {
            return "partner" + std::to_string(n);
        };
        const auto cyrillic = [](int n) {
            return "\xD0\xBF\xD0\xBE\xD0\xB4\xD1\x80\xD1\x83\xD0\xB3\xD0\xB0" + std::to_string(n);
        };
        const std::string longHandle = "a.very.long.handle.that.does.not.fit.on.any.tab.row."
                                       "of.this.window.at.all.not.even.stretched.wide.open.x" +
                                       std::string(60, 'z');
        const struct {
            int Partners;
            std::function<std::string(int)> Handle;
            QSize Size;
        } cases[] = {
            {1, latin, {380, 338}},
            {8, latin, {380, 338}},
            {18, latin, {380, 338}},
            {40, latin, {380, 338}},
            {40, cyrillic, {380, 338}},
            {200, latin, {380, 338}},
            {8, latin, {1000, 700}},
            {40, cyrillic, {1000, 700}},
            {200, cyrillic, {1000, 700}},
            {3, [&](int n) { return n == 1 ? longHandle : latin(n); }, {380, 338}},
        };
        for (const auto& c : cases) {
            auto form = Open();
            form->resize(c.Size);
            Fake->DeliverAttachStatus(ClientWindow, 0);
            Settle();
            for (int n = 0; n < c.Partners; ++n) {
                ReceiveMessage(n + 1, c.Handle(n), "hola");
            }
            QCoreApplication::processEvents();
            window::TPageControl& pages = *form->PageControl1;
            const QString name = QString("%1 partners, %2 x %3")
                                     .arg(c.Partners)
                                     .arg(c.Size.width())
                                     .arg(c.Size.height());
            QVERIFY2(pages.count() == c.Partners, qPrintable(name));
            const QRect bar = pages.visibleTabArea();
            QVERIFY2(bar.height() < pages.height(), qPrintable(name + ": the page has room"));
            for (int i = 0; i < pages.count(); ++i) {
                const QString tab = name + QString(", tab %1").arg(i);
                QVERIFY2(pages.tabText(i).startsWith(QString::fromStdString(c.Handle(i))),
                         qPrintable(tab));
                const QRect place = pages.tabRect(i);
                QVERIFY2(place.left() >= 0 && place.right() < pages.width(), qPrintable(tab));
                if (i > 0) {
                    // After its predecessor: further right on its row, or on a lower row.
                    const QRect before = pages.tabRect(i - 1);
                    QVERIFY2(place.top() > before.top() ||
                                 (place.top() == before.top() && place.left() > before.left()),
                             qPrintable(tab + ": in page order"));
                }
                pages.setCurrentIndex(i);
                // Seen now, the tab loses its count: the rows as laid out again.
                QVERIFY2(pages.visibleTabArea().contains(pages.tabRect(i)),
                         qPrintable(tab + ": shown when current"));
                QVERIFY2(form->rect().contains(pages.tabRect(i).translated(pages.pos())),
                         qPrintable(tab + ": inside the window"));
            }
        }
    }

    void aLongHandleIsElidedInTheMiddleAndNamedInFull() {
        auto form = Open();
        Fake->DeliverAttachStatus(ClientWindow, 0);
        Settle();
        const std::string handle = "begin" + std::string(300, 'm') + "end";
        ReceiveMessage(1, handle, "hola");
        auto* tab = form->PageControl1->findChildren<QAbstractButton*>().value(0);
        QVERIFY(tab != nullptr);
        QVERIFY(form->PageControl1->tabRect(0).width() <= form->PageControl1->width());
        QVERIFY(tab->text().startsWith("begin"));
        QVERIFY(tab->text().endsWith("end"));
        QVERIFY(tab->text().contains(QChar(0x2026)));
        QCOMPARE(tab->toolTip(), QString::fromStdString(handle));
        QCOMPARE(tab->accessibleName(), QString::fromStdString(handle));
    }

    void tabsAreMeasuredAgainWhenTheFontChanges() {
        auto form = Attached();
        for (const char* from : {"alice", "bob", "Carol"}) {
            ReceiveMessage(static_cast<int>(form->PageControl1->count()) + 1, from, "hola");
        }
        window::TPageControl& pages = *form->PageControl1;
        const QList<QAbstractButton*> tabs = pages.findChildren<QAbstractButton*>();
        QCOMPARE(tabs.size(), 3);
        for (const int points : {30, 8, 20}) {
            QFont font = form->font();
            font.setPointSize(points);
            form->setFont(font);
            QCoreApplication::processEvents();
            for (int i = 0; i < pages.count(); ++i) {
                // A whole caption, in the bold a marked tab takes, fits its tab.
                QFont bold = tabs[i]->font();
                bold.setBold(true);
                const int needed = QFontMetrics(bold).horizontalAdvance(pages.tabText(i));
                QVERIFY2(pages.tabRect(i).width() > needed,
                         qPrintable(QStringLiteral("%1 pt, tab %2").arg(points).arg(i)));
                QCOMPARE(tabs[i]->text(), pages.tabText(i));
            }
        }
    }

    void keyboardPagingGoesRoundThePages() {
        auto form = Attached();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        for (const char* from : {"alice", "bob", "Carol"}) {
            ReceiveMessage(static_cast<int>(form->PageControl1->count()) + 1, from, "hola");
        }
        window::TPageControl& pages = *form->PageControl1;
        QCOMPARE(pages.currentIndex(), 0);
        const struct {
            Qt::Key Key;
            Qt::KeyboardModifiers Modifiers;
            int Current;
        } steps[] = {
            {Qt::Key_Tab, Qt::ControlModifier, 1},
            {Qt::Key_PageDown, Qt::ControlModifier, 2},
            {Qt::Key_Tab, Qt::ControlModifier, 0},
            {Qt::Key_PageUp, Qt::ControlModifier, 2},
            {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, 1},
        };
        for (const auto& step : steps) {
            QTest::keyClick(form->SendMessage, step.Key, step.Modifiers);
            QCOMPARE(pages.currentIndex(), step.Current);
        }
        QCOMPARE(form->focusWidget(), form->SendMessage);
        QCOMPARE(form->SendMessage->toPlainText(), QString());

        // The window's order: "in" right after "To", then the tab rows, where
        // the arrows page and stop at the ends.
        // (Send is passed over: with nothing to send it is disabled.)
        const QWidget* const order[] = {form->SendMessage, form->ToUsers, form->SendIn};
        form->TranslateTo->setFocus();
        for (const QWidget* next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
        QTest::keyClick(form->SendIn, Qt::Key_Tab);
        QWidget* rows = QApplication::focusWidget();
        QVERIFY(rows != nullptr && pages.isAncestorOf(rows));
        const struct {
            Qt::Key Key;
            int Current;
        } arrows[] = {{Qt::Key_Left, 0},  {Qt::Key_Left, 0}, {Qt::Key_End, 2},
                      {Qt::Key_Right, 2}, {Qt::Key_Home, 0}, {Qt::Key_Right, 1}};
        for (const auto& arrow : arrows) {
            QTest::keyClick(rows, arrow.Key);
            QCOMPARE(pages.currentIndex(), arrow.Current);
        }
        // A key that writes, typed on the tab row, writes in the message.
        QTest::keyClicks(rows, "ok");
        QCOMPARE(QApplication::focusWidget(), form->SendMessage);
        QCOMPARE(form->SendMessage->toPlainText(), QString("ok"));
        QCOMPARE(form->SendIn->accessibleName(), form->l_in->text());
        QCOMPARE(form->TranslateTo->accessibleName(), form->l_Translate_To->text());
    }

    void theKeyboardWritesAndSendsTheMessage() {
        auto form = Attached();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QCOMPARE(QApplication::focusWidget(), form->SendMessage); // typing never picks a language
        QTest::keyClicks(QApplication::focusWidget(), "Hi");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClicks(QApplication::focusWidget(), "there");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QCOMPARE(form->SendMessage->toPlainText(), QString("Hi\nthere"));
        QCOMPARE(form->TranslateTo->currentIndex(), 0);
        QVERIFY(form->isVisible());

        // Enter sends, as does Ctrl+Enter.
        QTest::keyClick(form->SendMessage, Qt::Key_Return);
        Settle();
        QCOMPARE(SentMessages(),
                 std::vector<std::string>{"MESSAGE alice ok - Translated with Velantro"});
        QCOMPARE(Memo(*form, 0), QString("maria: Hi\n\tthere (ok)"));
        QCOMPARE(QApplication::focusWidget(), form->SendMessage);
        QTest::keyClicks(form->SendMessage, "Two");
        QTest::keyClick(form->SendMessage, Qt::Key_Enter, Qt::ControlModifier);
        Settle();
        QCOMPARE(SentMessages().size(), std::size_t(2));

        // Enter with nothing to send neither sends nor starts a line.
        QTest::keyClick(form->SendMessage, Qt::Key_Return);
        Settle();
        QCOMPARE(SentMessages().size(), std::size_t(2));
        QCOMPARE(form->SendMessage->toPlainText(), QString());

        // Keys typed in a log, or on the tab row, write in the message.
        Log(*form, 0)->setFocus();
        QTest::keyClicks(Log(*form, 0), "Wh");
        QCOMPARE(QApplication::focusWidget(), form->SendMessage);
        QTest::keyClicks(QApplication::focusWidget(), "y?");
        QCOMPARE(form->SendMessage->toPlainText(), QString("Why?"));
        form->SendMessage->clear();

        // Enter on the focused Send button presses it; the focus comes back.
        QTest::keyClicks(form->SendMessage, "Again");
        form->btnSend->setFocus();
        QTest::keyClick(form->btnSend, Qt::Key_Return);
        Settle();
        QCOMPARE(SentMessages().size(), std::size_t(3));
        QCOMPARE(QApplication::focusWidget(), form->SendMessage);
        QVERIFY(Shown.empty());

        // Ctrl+Q closes the window as its close button does: the settings are written.
        QTest::keyClick(form->SendMessage, Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!form->isVisible());
        QCOMPARE(Profile.Values["Width"], std::to_string(form->width()));
    }

    void aMessageOnThePageInFrontIsAnnouncedAndAKeyGoesToTheNextUnread() {
        auto form = Attached();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        // Speaking needs a screen reader's bridge, which the offscreen platform
        // lacks: what it would speak is a notification that shows itself.
        QLabel* announcement = form->findChild<QLabel*>("Announcement");
        QVERIFY(announcement != nullptr && !announcement->isVisible());
        ReceiveMessage(1, "alice", "hola"); // the first page: in front
        QVERIFY(announcement->isVisible());
        QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(announcement);
        QCOMPARE(spoken->role(), QAccessible::Notification);
        QCOMPARE(spoken->text(QAccessible::Name), QString("alice: ok"));
        ReceiveMessage(2, "bob", "salut"); // behind: its tab counts it instead
        ReceiveMessage(3, "carol", "ciao");
        QCOMPARE(spoken->text(QAccessible::Name), QString("alice: ok"));
        QTRY_VERIFY_WITH_TIMEOUT(!announcement->isVisible(), 5000);
        // Alt+Shift+Down: the next page with unread messages, in page order.
        window::TPageControl& pages = *form->PageControl1;
        QTest::keyClick(form->SendMessage, Qt::Key_Down, Qt::AltModifier | Qt::ShiftModifier);
        QCOMPARE(pages.tabText(pages.currentIndex()), QString("bob"));
        QCOMPARE(form->ToUsers->currentText(), QString("bob"));
        QTest::keyClick(form->SendMessage, Qt::Key_Down, Qt::AltModifier | Qt::ShiftModifier);
        QCOMPARE(pages.tabText(pages.currentIndex()), QString("carol"));
    }

    void originalsShowOnRequestInEntriesWrittenAfterwards() {
        auto form = Attached();
        auto* memo = [&] {
            ReceiveMessage(1, "alice", "hola");
            return form->PageControl1->widget(0)->findChild<QPlainTextEdit*>("Memo");
        }();
        const std::unique_ptr<QMenu> menu = form->LogContextMenu(memo, QPoint(1, 1));
        QVERIFY(menu->actions().contains(form->mnShowOriginal));
        QVERIFY(!form->mnShowOriginal->isChecked());
        QCOMPARE(form->mnShowOriginal->text(), QString("Show original text"));

        form->mnShowOriginal->trigger();
        ReceiveMessage(2, "alice", "buenos\r\ndias");
        ReceiveMessage(3, "bob", "salut");
        form->mnShowOriginal->trigger();
        ReceiveMessage(4, "alice", "adios");
        QCOMPARE(Memo(*form, 0), QString("alice: ok\nalice: ok (buenos\n\tdias)\nalice: ok"));
        QCOMPARE(Memo(*form, 1), QString("bob: ok (salut)"));
    }

    void aConversationComesBackIsFoundAndIsForgotten() {
        auto opened = history::HistoryStore::Open(Folder / "history.sqlite");
        QVERIFY2(opened.Store != nullptr, opened.Detail.c_str());
        History = opened.Store.get();
        {
            auto first = Attached();
            ReceiveMessage(1, "alice", "una manzana verde");
            ReceiveMessage(2, "alice", "adios");
            ReceiveMessage(3, "bob", "salut");
        }
        auto form = Attached();
        QCOMPARE(form->PageControl1->count(), 2);
        QCOMPARE(Memo(*form, 0), QString("alice: ok\nalice: ok"));
        QVERIFY(!form->StatusLine->text().contains("History"));

        // Ctrl+F, a word's start, Enter: the entry is marked in its place.
        QTest::keyClick(form.get(), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(form->FindBar->isVisible());
        QTest::keyClicks(static_cast<QWidget*>(form->FindText), "manz");
        QTest::keyClick(static_cast<QWidget*>(form->FindText), Qt::Key_Return);
        QCOMPARE(form->FindResult->text(), QString("1 of 1"));
        QPlainTextEdit* log = Log(*form, 0);
        QCOMPARE(log->extraSelections().size(), 1);
        QCOMPARE(log->textCursor().blockNumber(), 0);
        QTest::keyClick(static_cast<QWidget*>(form->FindText), Qt::Key_Escape);
        QVERIFY(!form->FindBar->isVisible());
        QVERIFY(log->extraSelections().isEmpty());

        // Asked once, then gone from the page and from the file.
        {
            const std::unique_ptr<QMenu> menu = form->LogContextMenu(log, QPoint(1, 1));
            auto* forget = menu->findChild<QAction*>("mnDeleteHistory");
            QVERIFY(forget != nullptr);
            QCOMPARE(forget->text(), QString("Delete this conversation's history"));
            forget->trigger();
        }
        auto* box = form->findChild<QMessageBox*>("DeleteHistoryBox");
        QVERIFY(box != nullptr && box->isVisible());
        box->button(QMessageBox::Yes)->click();
        Settle();
        QVERIFY(log->toPlainText().isEmpty());
        QVERIFY(History->Recent("alice", 10).Entries.empty());
        QCOMPARE(History->Recent("bob", 10).Entries.size(), std::size_t{1});
        form.reset();
        History = nullptr;
    }

    void aPartnerChosenInToBringsBackTheLanguageLastSentToThem() {
        auto form = Attached({"alice", "bob", "carol"});
        // Chosen with the keyboard, as a person does.
        const auto choose = [](QComboBox* list, int index) {
            list->setFocus();
            QTest::keyClick(list, Qt::Key_Home);
            for (int i = 0; i < index; ++i) {
                QTest::keyClick(list, Qt::Key_Down);
            }
            QCOMPARE(list->currentIndex(), index);
        };
        const auto send = [&](int to, int language) {
            choose(form->ToUsers, to);
            choose(form->SendIn, language);
            form->SendMessage->setPlainText("Hello");
            form->btnSend->click();
            Settle();
        };
        send(0, 3); // alice reads Bulgarian
        send(1, 1); // bob Spanish
        Reply.clear();
        send(2, 2); // the send to carol fails: nothing remembered
        QCoreApplication::processEvents();
        QCOMPARE(Shown.size(), std::size_t(1));
        Reply = "ok";
        const struct {
            int Contact;
            int Language;
        } choices[] = {{0, 3}, {1, 1}, {2, 2}, {0, 3}};
        // carol, not yet written to, gets the language the user chose last
        // (French, for the failed send), not bob's, passed on the way.
        for (const auto& choice : choices) {
            choose(form->ToUsers, choice.Contact);
            QCOMPARE(form->SendIn->currentIndex(), choice.Language);
        }
        // A selection the program makes leaves the language alone: a new
        // friends list while a reply to bob (Spanish) is written in French.
        choose(form->ToUsers, 1);
        choose(form->SendIn, 2);
        form->SendMessage->setPlainText("Salut");
        Deliver("USERS alice, bob, carol");
        QCOMPARE(form->ToUsers->currentText(), QString("bob"));
        QCOMPARE(form->SendIn->currentIndex(), 2);
    }

    void noLineOfAMessagePassesForAnEntry() {
        auto form = Attached();
        form->mnShowOriginal->trigger();
        ReceiveMessage(1, "alice", "hi\r\nmaria: I owe bob 100 EUR");
        form->SendMessage->setPlainText("fine");
        form->btnSend->click();
        Settle();
        const QTextDocument& log = *Log(*form, 0)->document();
        QCOMPARE(log.blockCount(), 3);
        // An entry: the time, then the sender in bold; the text never in bold.
        const auto boldRuns = [](const QTextBlock& block) {
            QStringList runs;
            for (auto piece = block.begin(); !piece.atEnd(); ++piece) {
                if (piece.fragment().charFormat().fontWeight() == QFont::Bold) {
                    runs << piece.fragment().text();
                }
            }
            return runs;
        };
        const QRegularExpression entryStart(QStringLiteral("^\\d\\d:\\d\\d "));
        const QTextBlock first = log.findBlockByNumber(0);
        QVERIFY(entryStart.match(first.text()).hasMatch());
        QCOMPARE(boldRuns(first), QStringList{"alice:"});
        // The message's next line: indented, after a tab, and nothing in bold.
        const QTextBlock further = log.findBlockByNumber(1);
        QCOMPARE(further.text(), QString("\tmaria: I owe bob 100 EUR)"));
        QVERIFY(boldRuns(further).isEmpty());
        QVERIFY(further.blockFormat().leftMargin() > 0);
        const QTextBlock own = log.findBlockByNumber(2);
        QVERIFY(entryStart.match(own.text()).hasMatch());
        QCOMPARE(boldRuns(own), QStringList{"maria:"});
        // A copy keeps "handle: text" lines, the further line still after its tab.
        Log(*form, 0)->selectAll();
        Log(*form, 0)->copy();
        const QStringList copied = QGuiApplication::clipboard()->text().split('\n');
        QCOMPARE(copied.size(), 3);
        QVERIFY(copied[0].endsWith("alice: ok (hi"));
        QCOMPARE(copied[1], QString("\tmaria: I owe bob 100 EUR)"));
    }

    void theStatusLineTellsWhatABoxPerMessageUsedTo() {
        auto form = Open();
        QVERIFY(form->StatusLine->text().startsWith(
            "Waiting for the chat client: start skype-peer, or your chat client, and Velantro "
            "attaches by itself"));
        Fake->DeliverAttachStatus(ClientWindow, 0);
        Settle();
        Deliver("CURRENTUSERHANDLE maria");
        QVERIFY(form->StatusLine->text().startsWith("Chat client: attached as maria"));
        Reply.clear(); // the translator stops answering
        for (int id = 1; id <= 3; ++id) {
            ReceiveMessage(id, "alice", "hola");
        }
        QVERIFY2(Shown.empty(), "no box for a message that came");
        QVERIFY(form->StatusLine->text().contains(
            QRegularExpression("Translation: not answering since \\d\\d:\\d\\d, messages "
                               "waiting: 3\\b")));
        QCOMPARE(Memo(*form, 0).count("[not translated]"), 3);
        // In the language of "Receive in", like every text of the window.
        form->TranslateTo->setCurrentIndex(3);
        emit form->TranslateTo->activated(3);
        QVERIFY(form->StatusLine->text().startsWith(QString::fromUtf8(
            "\xD0\xA7\xD0\xB0\xD1\x82 \xD0\xBA\xD0\xBB"))); // "Чат кл", then the handle
        QVERIFY(form->StatusLine->text().contains(QString::fromUtf8(" maria \xC2\xB7 ")));
        Reply = "ok";
        ReceiveMessage(4, "alice", "hola");
        // The waiting ones are translated in their places, one at a time.
        QTRY_COMPARE(Memo(*form, 0).count("[not translated]"), 0);
        QVERIFY(!form->StatusLine->text().contains("not answering"));
    }

    void aLongTranslationIsShownCutWithAMark() {
        auto form = Attached();
        Reply = std::string(1'000'000, 'w');
        ReceiveMessage(1, "alice", "hola");
        Reply = "ok";
        ReceiveMessage(2, "alice", "hola");
        const QStringList lines = Memo(*form, 0).split('\n');
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], "alice: " + QString(65536, 'w') + QChar(0x2026) +
                               " [cut: 934,464 more characters not shown]");
        QCOMPARE(lines[1], QString("alice: ok"));
    }

    void handlesShowTheirControlCharactersAsSymbolsAndStayTheIdentity() {
        const std::string handle = "ev\x1B[2Je\xE2\x80\xAE"
                                   "lin";
        const QString shown = QString::fromUtf16(u"ev\u241B[2Je\uFFFDlin");
        auto form = Attached({handle, "bob"});
        QCOMPARE(form->ToUsers->itemText(1), shown);
        ReceiveMessage(1, handle, "hola\r\nadios");
        QVERIFY(form->PageControl1->tabText(0).startsWith(shown));
        QCOMPARE(Memo(*form, 0), shown + ": ok");   // the translation keeps its own lines
        QCOMPARE(form->ToUsers->currentIndex(), 1); // the first page is shown, its partner chosen
        form->SendMessage->setPlainText("Hi");
        form->btnSend->click();
        Settle();
        QCOMPARE(SentMessages(),
                 std::vector<std::string>{"MESSAGE " + handle + " ok - Translated with Velantro"});
        QCOMPARE(form->PageControl1->count(), 1); // the same page: its identity is the handle

        // The user's own handle, in the caption and at the start of own entries.
        Deliver("CURRENTUSERHANDLE me\x07\xE2\x81\xA6");
        QCOMPARE(form->windowTitle(), QString::fromUtf16(u"Velantro 1.0:01 - me\u2407\uFFFD"));
        form->SendMessage->setPlainText("Bye");
        form->btnSend->click();
        Settle();
        QCOMPARE(Memo(*form, 0).split('\n').last(),
                 QString::fromUtf16(u"me\u2407\uFFFD: Bye (ok)"));
    }

    void unreadTabsAreMarkedUntilShown() {
        auto form = Attached();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        ReceiveMessage(1, "alice", "hola");
        ReceiveMessage(2, "bob", "salut");
        window::TPageControl& pages = *form->PageControl1;
        QVERIFY(!pages.isTabMarked(0)); // on show when it came
        QVERIFY(pages.isTabMarked(1));
        QCOMPARE(pages.tabText(1), QString("bob (1)"));
        ReceiveMessage(3, "bob", "again");
        QCOMPARE(pages.tabText(1), QString("bob (2)"));
        pages.setCurrentIndex(1);
        QVERIFY(!pages.isTabMarked(1));
        QCOMPARE(pages.tabText(1), QString("bob"));
    }
};

QTEST_MAIN(TMainFormTest)
#include "TMainFormTest.moc"
