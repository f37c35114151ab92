// A chat client that floods the program with notifications on a private
// session bus: the real bus windows, the component and the incoming flow,
// and a peer process (this program again) that sends each line without
// waiting for the one before, as fast as the bus takes them.

#include "core/ConversationFlows.h"
#include "platform/bus/BusWindows.h"
#include "skype/SkypeControl.h"
#include "support/EventLoopWait.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QVariant>
#include <QtGlobal>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace velantro {
namespace {

using namespace std::chrono_literals;
using testing::TestApplication;
using testing::WaitUntil;

/// The pages' entries, one log for all: the flood has one sender.
struct EntryLog final : core::ConversationLog {
    std::vector<std::u16string> Entries;
    std::size_t AppendEntry(const core::LogEntry& entry) override {
        Entries.push_back(core::PlainEntry(entry));
        return Entries.size() - 1;
    }
    void ReplaceEntry(std::size_t number, const core::LogEntry& entry) override {
        Entries.at(number) = core::PlainEntry(entry);
    }
    void PrependEntries(const std::vector<core::LogEntry>&, bool) override {}
    void RevealEntry(std::size_t, std::u16string_view) override {}
    void Clear() override { Entries.clear(); }
};

struct PlainView final : core::MainView {
    EntryLog Log;
    std::vector<std::string> Errors;
    std::int32_t ReceiveLanguageIndex() const override { return 0; }
    std::int32_t SendLanguageIndex() const override { return 0; }
    void SelectSendLanguage(std::int32_t) override {}
    std::string ContactText() const override { return {}; }
    void SelectContact(std::string_view) override {}
    void SetContacts(const std::vector<std::string>&, const std::vector<std::string>&) override {}
    std::u16string MessageText() const override { return {}; }
    void SetMessageText(std::u16string_view) override {}
    void ClearMessage() override {}
    void EnableSend(bool) override {}
    void SetSendPending(bool) override {}
    core::ConversationLog* FindOrCreatePage(const std::string&) override { return &Log; }
    void ShowPages() override {}
    void ShowPage(const std::string&) override {}
    void SetUnread(const std::string&, std::size_t) override {}
    std::u16string ClockTime() const override { return u"12:00"; }
    void ShowOwnHandle(std::string_view) override {}
    void ShowStatus(const core::StatusLine&) override {}
    void ShowError(const std::string& message) override { Errors.push_back(message); }
};

/// A translation into the same words, given from the event loop as the
/// translation worker gives its outcomes.
class SameWords final : public core::TranslationService {
public:
    explicit SameWords(platform::WindowMessages& loop)
        : Loop(loop) {}

    void Translate(std::u16string text, std::int32_t, Done done) override {
        Loop.RunLater([text = std::move(text), done = std::move(done)] {
            done(core::TranslationOutcome{text, {}});
        });
    }

private:
    platform::WindowMessages& Loop;
};

long PeakMemoryKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

/// The number in an entry "alice: Hola <n>"; -1 for any other text.
long NumberOf(const std::u16string& entry) {
    constexpr std::u16string_view Prefix = u"alice: Hola ";
    if (!entry.starts_with(Prefix)) {
        return -1;
    }
    long value = 0;
    for (const char16_t c : entry.substr(Prefix.size())) {
        if (c < u'0' || c > u'9') {
            return -1;
        }
        value = value * 10 + (c - u'0');
    }
    return value;
}

/// The chat client's side, on a plain connection: one window, answers to the
/// handshake and to GET CHATMESSAGE, and once attached a flood of RECEIVED
/// notifications, each sent without waiting for its answer.
class FloodingClient final : public QDBusVirtualObject {
public:
    FloodingClient(QDBusConnection bus, long count)
        : Bus(std::move(bus))
        , Count(count) {}

    bool Open() {
        for (Own = 9000; Own < 9100; ++Own) {
            if (Bus.registerVirtualObject(Path(Own), this) && Bus.registerService(Name(Own))) {
                return true;
            }
            Bus.unregisterObject(Path(Own));
        }
        return false;
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        const QList<QVariant> arguments = message.arguments();
        Bus.send(message.createReply(qlonglong{1}));
        if (message.member() == QLatin1String("Send") && arguments.size() == 3 &&
            arguments[0].toUInt() == platform::BusMessageId("SkypeControlAPIDiscover")) {
            Program = arguments[1].toULongLong();
            Call(QStringLiteral("Send"), {uint{platform::BusMessageId("SkypeControlAPIAttach")},
                                          qulonglong{Own}, qlonglong{0}});
        } else if (message.member() == QLatin1String("CopyData") && arguments.size() == 3) {
            Answer(arguments[2].toByteArray());
        }
        return true;
    }

private:
    static QString Name(platform::WindowHandle window) {
        return QStringLiteral("org.velantro.Window.H%1").arg(window);
    }
    static QString Path(platform::WindowHandle window) {
        return QStringLiteral("/org/velantro/Window/%1").arg(window);
    }

    void Call(const QString& method, const QList<QVariant>& arguments) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            Name(Program), Path(Program), QStringLiteral("org.velantro.Window"), method);
        call.setArguments(arguments);
        Bus.send(call); // the answer is not waited for
    }

    void SendLine(const QByteArray& line) {
        Call(QStringLiteral("CopyData"), {qulonglong{Own}, qulonglong{0}, line + '\0'});
    }

    void Answer(QByteArray line) {
        line.truncate(line.indexOf('\0') < 0 ? line.size() : line.indexOf('\0'));
        const QList<QByteArray> words = line.split(' ');
        if (words.front() == "NAME") {
            SendLine("OK");
        } else if (words.front() == "PROTOCOL") {
            SendLine("PROTOCOL 4");
            // Attached: the flood, as fast as the bus takes it.
            for (long n = 0; n < Count; ++n) {
                SendLine("CHATMESSAGE " + QByteArray::number(static_cast<qlonglong>(n)) +
                         " STATUS RECEIVED");
            }
        } else if (words.size() == 4 && words[0] == "GET" && words[1] == "CHATMESSAGE") {
            SendLine("CHATMESSAGE " + words[2] + " " + words[3] + " " +
                     (words[3] == "FROM_HANDLE" ? QByteArray("alice") : "Hola " + words[2]));
        }
    }

    QDBusConnection Bus;
    long Count;
    platform::WindowHandle Own = 0;
    platform::WindowHandle Program = 0;
};

long FloodCount() {
    // VELANTRO_FLOOD_COUNT tries another size.
    return qEnvironmentVariableIsSet("VELANTRO_FLOOD_COUNT")
               ? qEnvironmentVariableIntValue("VELANTRO_FLOOD_COUNT")
               : 100'000;
}

TEST(BusFlood, AHundredThousandNotificationsAreEachShownOnceFromTheLoop) {
    const long Count = FloodCount();
    TestApplication();
    platform::BusWindows windows("flooded program");
    ASSERT_TRUE(windows.Connected()) << windows.ErrorText();
    skype::TSkypeControl skype(&windows);
    PlainView view;
    SameWords translation(windows);
    // How far below this frame the stack reaches while a line is handled.
    const char base = 0;
    const char* top = &base;
    std::ptrdiff_t deepestStack = 0;
    core::ConversationFlows flows(view, skype, translation);
    skype.OnChatMsgInfo = [&](std::int32_t id, skype::TSkypeChatMsgProperty property,
                              const std::string& data) {
        const char here = 0;
        deepestStack = std::max(deepestStack, top - &here);
        flows.ChatMessageReported(id, property, data);
    };

    // The client: this program again, as BusFloodChild.DISABLED_Client.
    QProcess client;
    client.setProcessChannelMode(QProcess::ForwardedChannels);
    client.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--gtest_also_run_disabled_tests"),
                  QStringLiteral("--gtest_filter=BusFloodChild.DISABLED_Client")});
    ASSERT_TRUE(client.waitForStarted(10'000));
    const auto start = std::chrono::steady_clock::now();
    // The client answers discovery once its window is on the bus, and floods
    // once attached.
    ASSERT_TRUE(WaitUntil(
        [&] {
            if (!skype.IsAttached()) {
                skype.Attach(4);
            }
            return skype.IsAttached();
        },
        30s));
    EXPECT_TRUE(
        WaitUntil([&] { return static_cast<long>(view.Log.Entries.size()) >= Count; }, 280s))
        << view.Log.Entries.size() << " shown, " << skype.MostWaiting()
        << " messages waited at most, " << skype.QueuedCommands() << " commands still queued";
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    WaitUntil([] { return false; }, 500ms); // nothing more comes
    client.kill();
    client.waitForFinished(10'000);

    std::map<long, int> shown;
    long inversions = 0;
    long previous = -1;
    for (const std::u16string& entry : view.Log.Entries) {
        const long n = NumberOf(entry);
        ++shown[n];
        inversions += n < previous ? 1 : 0;
        previous = n;
    }
    EXPECT_EQ(view.Log.Entries.size(), static_cast<std::size_t>(Count));
    EXPECT_EQ(shown.size(), static_cast<std::size_t>(Count));
    EXPECT_EQ(shown.begin()->first, 0);
    EXPECT_EQ(shown.rbegin()->first, Count - 1);
    EXPECT_TRUE(
        std::all_of(shown.begin(), shown.end(), [](const auto& e) { return e.second == 1; }));
    EXPECT_EQ(flows.PendingMessages().QueueHead(), nullptr);
    EXPECT_EQ(flows.UntranslatedCount(), 0u);
    EXPECT_TRUE(view.Errors.empty()) << view.Errors.front();
    // Nothing nests: every line is handled from the loop at the same depth.
    EXPECT_LT(deepestStack, 256 * 1024);
    std::printf("%zu of %ld notifications shown in %.1f s; %ld shown after a later one; "
                "the stack %td bytes below the test's frame, at most %zu messages waiting; "
                "peak memory %ld KiB\n",
                view.Log.Entries.size(), Count, seconds, inversions, deepestStack,
                skype.MostWaiting(), PeakMemoryKiB());
}

TEST(BusFloodChild, DISABLED_Client) {
    TestApplication();
    QDBusConnection bus = QDBusConnection::sessionBus();
    FloodingClient client(bus, FloodCount());
    ASSERT_TRUE(client.Open());
    // Until the test ends it, or its bus goes with it.
    WaitUntil([&] { return !bus.isConnected(); }, 600s);
}

} // namespace
} // namespace velantro
