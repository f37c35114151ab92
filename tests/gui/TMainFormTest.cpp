// The real window, offscreen, over an in-process chat client, an in-memory
// profile file and an HTTP client that answers from a table.

#include "app/TMainForm.h"

#include "doubles/FakeWindowMessages.h"
#include "unit/localise/MaskedFile.h"

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QtTest>
#include <map>

using namespace velantro;
using app::TMainForm;

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

    std::string ReadValue(std::string_view, std::string_view key) override {
        const auto found = Values.find(std::string(key));
        return found == Values.end() ? "" : found->second;
    }
    bool WriteValue(std::string_view, std::string_view key, std::string_view value) override {
        if (FailingWrites > 0) {
            --FailingWrites;
            return false;
        }
        Values[std::string(key)] = value;
        return true;
    }
    bool Flush() override { return true; }
    std::string DisplayName() const override { return "velantro.ini"; }
};

/// Answers every exchange with the form reply "l1=" + Reply, or fails.
class TableHttp final : public translate::HttpClient {
public:
    explicit TableHttp(const std::string* reply)
        : Reply(reply) {}
    std::string PostForm(const std::string&, std::string_view) override {
        if (Reply->empty()) {
            throw translate::HttpError("Connection refused");
        }
        return "l1=" + *Reply + "&";
    }

private:
    const std::string* Reply;
};

} // namespace

class TMainFormTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TMainForm> Open(const std::string& interfaceFile = {}) {
        Fake = std::make_unique<doubles::FakeWindowMessages>();
        TMainForm::Services services{*Fake,
                                     Titles,
                                     Profile,
                                     std::make_unique<TableHttp>(&Reply),
                                     translate::Endpoints{},
                                     interfaceFile.empty() ? DataFile : interfaceFile,
                                     [this](const std::string& message) {
                                         Shown.push_back(message);
                                         ShownInDelivery.push_back(Delivering);
                                     }};
        auto form = std::make_unique<TMainForm>(std::move(services));
        form->show();
        return form;
    }

    /// A chat-client line delivered to the window, as the client sends it.
    void Deliver(const std::string& line) {
        Delivering = true;
        Fake->DeliverLine(ClientWindow, line);
        Delivering = false;
    }

    void ReceiveMessage(int id, const std::string& from, const std::string& body) {
        Deliver("CHATMESSAGE " + std::to_string(id) + " FROM_HANDLE " + from);
        Deliver("CHATMESSAGE " + std::to_string(id) + " BODY " + body);
    }

    static QString Memo(TMainForm& form, int page) {
        return form.PageControl1->widget(page)->findChild<QPlainTextEdit*>("Memo")->toPlainText();
    }

    velantro::testing::TempFolder Folder;
    std::string DataFile;
    std::unique_ptr<doubles::FakeWindowMessages> Fake;
    NoWindows Titles;
    MemoryProfile Profile;
    std::string Reply = "ok";
    std::vector<std::string> Shown;
    std::vector<bool> ShownInDelivery;
    bool Delivering = false;

private slots:
    void init() {
        Profile = MemoryProfile();
        Shown.clear();
        ShownInDelivery.clear();
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
                          "MainForm;6;\"Velantro (fr)\"\n")));
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
        QCOMPARE(form->PageControl1->tabText(0), QString("Charla"));
        QCOMPARE(form->PageControl1->tabText(1), QString("Charla"));
        QCOMPARE(form->l_in->text(), QString("in"));
        QCOMPARE(Memo(*form, 0), QString("alice: ok"));
        QCOMPARE(form->l_Translate_To->text(), QString("Receive in:")); // no entry: kept

        choose(3); // Bulgarian: Cyrillic through the 8-bit code page
        QCOMPARE(form->l_Translate_To->text(), QString::fromUtf8("Получавай на:"));
        choose(2); // French replaces the whole caption, the handle included
        QCOMPARE(form->windowTitle(), QString("Velantro (fr)"));
        QVERIFY(Shown.empty());
    }

    void anErrorInADeliveryIsShownAfterItReturns() {
        auto form = Open();
        Fake->DeliverAttachStatus(ClientWindow, 0);
        Reply.clear();
        ReceiveMessage(3, "alice", "hola");
        QVERIFY(Shown.empty());
        QCoreApplication::processEvents();
        QCOMPARE(Shown, std::vector<std::string>{"Connection refused"});
        QCOMPARE(ShownInDelivery, std::vector<bool>{false});
        QCOMPARE(form->Flows().PendingMessages().QueueHead()->ChatMsgID, 3);
        QCOMPARE(Memo(*form, 0), QString());
    }
};

QTEST_MAIN(TMainFormTest)
#include "TMainFormTest.moc"
