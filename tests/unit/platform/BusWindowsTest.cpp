// The window-message stand-in on a private session bus: windows of this
// process on separate connections, and a second process (this program run
// again as a peer, see BusWindowsChild).

#include "platform/bus/BusWindows.h"

#include "support/EventLoopWait.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTimer>
#include <csignal>
#include <cstdint>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <iomanip>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace velantro::platform;
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using velantro::testing::TestApplication;
using velantro::testing::WaitUntil;

namespace {

const std::uint32_t PingMessage = BusMessageId("BusTest.Ping");
const std::uint32_t FloodMessage = BusMessageId("BusTest.Flood");
const std::uint32_t QuitMessage = BusMessageId("BusTest.Quit");
const std::uint32_t RetitleMessage = BusMessageId("BusTest.Retitle");

std::string BlockBytes(const CopyDataRecord& record) {
    return std::string(static_cast<const char*>(record.lpData), record.cbData);
}

/// One message as a window's hook saw it.
struct Seen {
    std::uint32_t Msg = 0;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0; // 0 for copy-data, whose address means nothing here
    std::uintptr_t DwData = 0;
    std::string Data;

    bool operator==(const Seen&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Seen& seen) {
        return out << "{msg 0x" << std::hex << seen.Msg << std::dec << ", wParam " << seen.WParam
                   << ", lParam " << seen.LParam << ", dwData " << seen.DwData << ", "
                   << ::testing::PrintToString(seen.Data) << "}";
    }
};

Seen SeenOf(const WindowMessage& message) {
    Seen seen{message.Msg, message.WParam, message.LParam, 0, {}};
    if (message.Msg == CopyDataMessage) {
        const auto& record = *reinterpret_cast<const CopyDataRecord*>(message.LParam);
        seen.LParam = 0;
        seen.DwData = record.dwData;
        seen.Data = BlockBytes(record);
    }
    return seen;
}

/// Hooks a window, records what reaches it and answers with Answer.
struct Recorder {
    std::vector<Seen> Messages;
    std::function<std::intptr_t(const WindowMessage&)> Answer = [](const WindowMessage&) {
        return 1;
    };

    void Hook(WindowMessages& window) {
        window.HookMainWindow([this](WindowMessage& message) {
            Messages.push_back(SeenOf(message));
            message.Result = Answer(message);
            return true;
        });
    }
};

std::intptr_t SendCopyData(WindowMessages& from, WindowHandle to, std::string_view bytes,
                           std::uintptr_t dwData = 0) {
    CopyDataRecord record{dwData, static_cast<std::uint32_t>(bytes.size()), bytes.data()};
    return from.SendToWindow(to, CopyDataMessage, from.ApplicationWindow(),
                             reinterpret_cast<std::intptr_t>(&record));
}

std::string TitleOf(WindowTitles& titles, WindowHandle window, int maxCount = 256) {
    std::vector<char> buffer(static_cast<std::size_t>(std::max(maxCount, 1)), '#');
    const int count = titles.ReadWindowTitle(window, buffer.data(), maxCount);
    return std::string(buffer.data(), static_cast<std::size_t>(std::max(count, 0)));
}

std::vector<WindowHandle> AllWindows(WindowTitles& titles) {
    std::vector<WindowHandle> windows;
    EXPECT_TRUE(titles.EnumerateWindows([&](WindowHandle window) {
        windows.push_back(window);
        return true;
    }));
    return windows;
}

bool Contains(const std::vector<WindowHandle>& windows, WindowHandle window) {
    return std::find(windows.begin(), windows.end(), window) != windows.end();
}

// ---------------------------------------------------------------------------
// Registered message ids

struct IdCase {
    std::string Name;
    std::uint32_t Id;
};

TEST(BusMessageId, IsTheDocumentedHashOfTheLowerCasedName) {
    const std::vector<IdCase> cases = {
        {"SkypeControlAPIAttach", 0xE3A3},
        {"skypecontrolapiattach", 0xE3A3},
        {"SkypeControlAPIDiscover", 0xDA2D},
        {"A", 0xE92C},
        {"a", 0xE92C},
        {"\xC3\x84", 0xD342}, // only ASCII letters are folded
        {"\xC3\xA4", 0xE0E2},
        {"", 0},
    };
    for (const IdCase& c : cases) {
        EXPECT_EQ(BusMessageId(c.Name), c.Id) << ::testing::PrintToString(c.Name);
    }
}

TEST(BusMessageId, TestMessagesAreDistinct) {
    EXPECT_NE(PingMessage, FloodMessage);
    EXPECT_NE(PingMessage, QuitMessage);
    EXPECT_NE(FloodMessage, QuitMessage);
    EXPECT_NE(RetitleMessage, PingMessage);
    EXPECT_NE(RetitleMessage, FloodMessage);
    EXPECT_NE(RetitleMessage, QuitMessage);
}

// ---------------------------------------------------------------------------
// Two windows of this process, each on a connection of its own

class TwoWindows : public ::testing::Test {
protected:
    QCoreApplication& App = TestApplication();
    BusWindows A{"window A"};
    BusWindows B{"window B"};
    Recorder SeenByA;
    Recorder SeenByB;

    void SetUp() override {
        ASSERT_TRUE(A.Connected()) << A.ErrorText();
        ASSERT_TRUE(B.Connected()) << B.ErrorText();
        EXPECT_EQ(A.ErrorText(), "");
        A.SetSendTimeout(5s);
        B.SetSendTimeout(5s);
        SeenByA.Hook(A);
        SeenByB.Hook(B);
    }
};

TEST_F(TwoWindows, HaveDistinctHandlesAndEnumerableTitles) {
    const WindowHandle a = A.ApplicationWindow();
    const WindowHandle b = B.ApplicationWindow();
    EXPECT_NE(a, 0u);
    EXPECT_NE(b, 0u);
    EXPECT_NE(a, b);

    const auto windows = AllWindows(A);
    EXPECT_TRUE(std::is_sorted(windows.begin(), windows.end()));
    EXPECT_TRUE(Contains(windows, a));
    EXPECT_TRUE(Contains(windows, b));

    int visits = 0;
    EXPECT_TRUE(A.EnumerateWindows([&](WindowHandle) { return ++visits < 1; }));
    EXPECT_EQ(visits, 1) << "the enumeration stops when the visitor gives false";

    struct TitleCase {
        WindowHandle Window;
        int MaxCount;
        std::string Title;
    };
    const std::vector<TitleCase> cases = {
        {b, 256, "window B"}, {a, 256, "window A"}, {b, 5, "wind"},
        {b, 1, ""},           {0, 256, ""},         {0xFFFFFFFFFFull, 256, ""},
    };
    for (const TitleCase& c : cases) {
        EXPECT_EQ(TitleOf(A, c.Window, c.MaxCount), c.Title)
            << "window " << c.Window << ", buffer " << c.MaxCount;
    }
    char untouched = '#';
    EXPECT_EQ(A.ReadWindowTitle(b, &untouched, 0), 0);
    EXPECT_EQ(untouched, '#');

    B.SetTitle("Renamed \xC3\xA9");
    EXPECT_EQ(TitleOf(A, b), "Renamed \xC3\xA9");
}

TEST_F(TwoWindows, SendCarriesTheMessageAndGivesTheReceiversResult) {
    SeenByB.Answer = [](const WindowMessage& message) {
        return message.LParam * 2;
    };
    const std::uint32_t msg = A.RegisterMessageName("SkypeControlAPIAttach");
    EXPECT_EQ(msg, B.RegisterMessageName("SKYPECONTROLAPIATTACH"));

    EXPECT_EQ(A.SendToWindow(B.ApplicationWindow(), msg, 7, -21), -42);
    EXPECT_EQ(A.SendToWindow(B.ApplicationWindow(), 0x0400, 0, 0x7FFFFFFFFFFF), 0xFFFFFFFFFFFE);
    EXPECT_THAT(SeenByB.Messages,
                ElementsAre(Seen{msg, 7, -21, 0, ""}, Seen{0x0400, 0, 0x7FFFFFFFFFFF, 0, ""}));
    EXPECT_TRUE(SeenByA.Messages.empty());
}

TEST_F(TwoWindows, CopyDataTravelsByteForByte) {
    SeenByB.Answer = [](const WindowMessage& message) {
        return static_cast<std::intptr_t>(
            reinterpret_cast<const CopyDataRecord*>(message.LParam)->cbData);
    };
    std::string allBytes;
    for (int byte = 0; byte < 256; ++byte) {
        allBytes += static_cast<char>(byte);
    }
    struct Case {
        std::string Name;
        std::string Bytes;
        std::uintptr_t DwData;
    };
    const std::vector<Case> cases = {
        {"empty block", "", 0},
        {"line with its NUL", std::string("NAME Velantro\0", 14), 0},
        {"NUL inside", std::string("a\0b\0", 4), 1},
        {"every byte value", allBytes, 0xDEADBEEF},
        {"UTF-8 and line breaks", "MESSAGE alice \xD0\x97\xD0\xB4\r\n\xE2\x82\xAC\n", 0},
        {"large block", std::string(200000, 'x') + "end", ~std::uintptr_t{0}},
    };
    for (const Case& c : cases) {
        SeenByB.Messages.clear();
        EXPECT_EQ(SendCopyData(A, B.ApplicationWindow(), c.Bytes, c.DwData),
                  static_cast<std::intptr_t>(c.Bytes.size()))
            << c.Name;
        EXPECT_THAT(SeenByB.Messages,
                    ElementsAre(Seen{CopyDataMessage, A.ApplicationWindow(), 0, c.DwData, c.Bytes}))
            << c.Name;
    }
}

TEST_F(TwoWindows, MessagesToTheSendersWindowArriveWhileItWaits) {
    std::vector<std::string> order;
    SeenByB.Answer = [&](const WindowMessage& message) {
        order.push_back("B got " + SeenOf(message).Data);
        if (SeenOf(message).Data == "ask") {
            EXPECT_EQ(SendCopyData(B, message.WParam, "answer"), 11);
        }
        order.push_back("B returns");
        return 1;
    };
    SeenByA.Answer = [&](const WindowMessage& message) {
        order.push_back("A got " + SeenOf(message).Data);
        if (SeenOf(message).Data == "answer") {
            // One level deeper: A sends to B while B is still inside its hook.
            EXPECT_EQ(SendCopyData(A, message.WParam, "nested"), 1);
        }
        return 11;
    };
    EXPECT_EQ(SendCopyData(A, B.ApplicationWindow(), "ask"), 1);
    order.push_back("A's send returned");
    EXPECT_THAT(order, ElementsAre("B got ask", "A got answer", "B got nested", "B returns",
                                   "B returns", "A's send returned"));
}

TEST_F(TwoWindows, SendToTheOwnWindowCallsTheHookDirectly) {
    SeenByA.Answer = [](const WindowMessage&) {
        return 5;
    };
    EXPECT_EQ(SendCopyData(A, A.ApplicationWindow(), "self", 3), 5);
    EXPECT_EQ(A.SendToWindow(A.ApplicationWindow(), 0x10, 1, 2), 5)
        << "within the process even system messages reach the hook";
    EXPECT_THAT(SeenByA.Messages,
                ElementsAre(Seen{CopyDataMessage, A.ApplicationWindow(), 0, 3, "self"},
                            Seen{0x10, 1, 2, 0, ""}));
}

TEST_F(TwoWindows, UnhandledMessagesGiveZero) {
    const WindowHandle b = B.ApplicationWindow();
    B.HookMainWindow([](WindowMessage& message) {
        message.Result = 5;
        return false; // lets the message pass on: the default processing gives 0
    });
    EXPECT_EQ(A.SendToWindow(b, 0xC001, 0, 0), 0);

    B.UnhookMainWindow();
    EXPECT_EQ(A.SendToWindow(b, 0xC001, 0, 0), 0);
    EXPECT_EQ(SendCopyData(A, b, "x"), 0);

    int calls = 0;
    B.HookMainWindow([&](WindowMessage& message) {
        ++calls;
        B.UnhookMainWindow(); // a hook may remove itself while it runs
        message.Result = 3;
        return true;
    });
    EXPECT_EQ(A.SendToWindow(b, 0xC001, 0, 0), 3);
    EXPECT_EQ(A.SendToWindow(b, 0xC001, 0, 0), 0);
    EXPECT_EQ(calls, 1);
}

TEST_F(TwoWindows, AnErrorInTheReceiversHookIsContainedThere) {
    B.HookMainWindow([](WindowMessage& message) -> bool {
        if (message.LParam == 1) {
            throw std::runtime_error("handler failed");
        }
        message.Result = 7;
        return true;
    });
    EXPECT_EQ(A.SendToWindow(B.ApplicationWindow(), 0xC001, 0, 1), 0);
    EXPECT_EQ(A.SendToWindow(B.ApplicationWindow(), 0xC001, 0, 2), 7) << "B carries on";
}

TEST_F(TwoWindows, BroadcastReachesEveryWindowIncludingTheSenders) {
    const std::uint32_t discover = A.RegisterMessageName("SkypeControlAPIDiscover");
    EXPECT_EQ(A.Broadcast(discover, A.ApplicationWindow(), 0), 1);
    const Seen expected{discover, A.ApplicationWindow(), 0, 0, ""};
    EXPECT_THAT(SeenByA.Messages, ElementsAre(expected));
    EXPECT_THAT(SeenByB.Messages, ElementsAre(expected));
}

TEST_F(TwoWindows, AnErrorInTheSendersOwnHookComesAfterTheOthersHaveTheBroadcast) {
    A.HookMainWindow([](WindowMessage&) -> bool { throw std::runtime_error("own hook failed"); });
    EXPECT_THROW(A.Broadcast(0xC001, 0, 5), std::runtime_error);
    EXPECT_THAT(SeenByB.Messages, ElementsAre(Seen{0xC001, 0, 5, 0, ""}));
}

TEST_F(TwoWindows, SystemMessagesAndBadRecordsAreNotCarried) {
    const WindowHandle b = B.ApplicationWindow();
    EXPECT_EQ(A.SendToWindow(b, 0x000C, 0, 0x1234), 0) << "a system message may carry an address";
    CopyDataRecord noData{0, 10, nullptr};
    EXPECT_EQ(A.SendToWindow(b, CopyDataMessage, 0, reinterpret_cast<std::intptr_t>(&noData)), 0);
    EXPECT_EQ(A.SendToWindow(b, CopyDataMessage, 0, 0), 0);

    // A foreign peer that tries it anyway gets an error back.
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.velantro.Window.H%1").arg(b),
        QStringLiteral("/org/velantro/Window/%1").arg(b), QStringLiteral("org.velantro.Window"),
        QStringLiteral("Send"));
    call << uint{CopyDataMessage} << qulonglong{0} << qlonglong{0x1234};
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::BlockWithGui, 5000);
    EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage);
    EXPECT_EQ(reply.errorName(), QDBusError::errorString(QDBusError::InvalidArgs));
    EXPECT_TRUE(SeenByB.Messages.empty());
}

/// A copy-data call made on a connection of the test's own choosing.
QDBusMessage CopyDataFrom(QDBusConnection& connection, WindowHandle to, WindowHandle claimed) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.velantro.Window.H%1").arg(to),
        QStringLiteral("/org/velantro/Window/%1").arg(to), QStringLiteral("org.velantro.Window"),
        QStringLiteral("CopyData"));
    call << qulonglong{claimed} << qulonglong{0} << QByteArray("PONG", 5);
    return connection.call(call, QDBus::BlockWithGui, 5000);
}

TEST_F(TwoWindows, CopyDataIsTakenOnlyFromTheConnectionThatOwnsItsSenderWindow) {
    const WindowHandle a = A.ApplicationWindow();
    const WindowHandle b = B.ApplicationWindow();
    QDBusConnection stranger = QDBusConnection::sessionBus();
    struct Case {
        const char* Name;
        WindowHandle Claimed;
        bool Taken;
    };
    const Case cases[] = {
        {"another program's window", a, false},
        {"the receiver's own window", b, false},
        {"a window nobody has", 0xFFFFFFFFFFull, false},
        {"window 0", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        SeenByB.Messages.clear();
        const QDBusMessage reply = CopyDataFrom(stranger, b, c.Claimed);
        EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage);
        EXPECT_EQ(reply.errorName(), QDBusError::errorString(QDBusError::AccessDenied));
        EXPECT_TRUE(SeenByB.Messages.empty());
    }
    // The owner itself is heard, before and after the strangers' attempts.
    SeenByB.Messages.clear();
    SeenByB.Answer = [](const WindowMessage&) {
        return 1;
    };
    EXPECT_EQ(SendCopyData(A, b, "from A"), 1);
    EXPECT_EQ(SeenByB.Messages.size(), 1u);

    // A window's name that changes hands is checked afresh: the stranger
    // claims a name, speaks for it, and loses it.
    const QString name = QStringLiteral("org.velantro.Window.H%1").arg(0xFFFFFFFFF0ull);
    ASSERT_TRUE(stranger.registerService(name));
    EXPECT_EQ(CopyDataFrom(stranger, b, 0xFFFFFFFFF0ull).type(), QDBusMessage::ReplyMessage);
    ASSERT_TRUE(stranger.unregisterService(name));
    QDBusConnection other = QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                                          QStringLiteral("owner-check-other"));
    ASSERT_TRUE(other.registerService(name));
    EXPECT_TRUE(WaitUntil(
        [&] {
            return CopyDataFrom(stranger, b, 0xFFFFFFFFF0ull).type() == QDBusMessage::ErrorMessage;
        },
        5s));
    EXPECT_EQ(CopyDataFrom(other, b, 0xFFFFFFFFF0ull).type(), QDBusMessage::ReplyMessage);
    other.unregisterService(name);
    QDBusConnection::disconnectFromBus(QStringLiteral("owner-check-other"));
}

TEST_F(TwoWindows, AVanishedWindowGivesZeroAtOnceAndItsHandleIsNotReused) {
    WindowHandle gone = 0;
    {
        BusWindows c("short-lived");
        ASSERT_TRUE(c.Connected());
        gone = c.ApplicationWindow();
        Recorder seenByC;
        seenByC.Hook(c);
        EXPECT_EQ(A.SendToWindow(gone, 0xC001, 0, 0), 1);
    }
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(A.SendToWindow(gone, 0xC001, 0, 0), 0);
    EXPECT_EQ(SendCopyData(A, gone, "anyone there?"), 0);
    EXPECT_EQ(TitleOf(A, gone), "");
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_FALSE(Contains(AllWindows(A), gone));

    BusWindows next("next");
    ASSERT_TRUE(next.Connected());
    EXPECT_NE(next.ApplicationWindow(), gone);
}

// ---------------------------------------------------------------------------
// A second process: this program run again as BusWindowsChild.DISABLED_Peer

std::unique_ptr<QProcess> StartChild(const QString& test, const QProcessEnvironment& environment) {
    auto child = std::make_unique<QProcess>();
    child->setProgram(QCoreApplication::applicationFilePath());
    child->setArguments({QStringLiteral("--gtest_also_run_disabled_tests"),
                         QStringLiteral("--gtest_filter=BusWindowsChild.") + test});
    child->setProcessEnvironment(environment);
    child->setProcessChannelMode(QProcess::MergedChannels);
    child->start();
    return child;
}

/// Starts a peer and reads its window's handle; 0 when it never says.
WindowHandle StartPeer(std::unique_ptr<QProcess>& peer, QByteArray& output) {
    peer = StartChild(QStringLiteral("DISABLED_Peer"), QProcessEnvironment::systemEnvironment());
    const QRegularExpression handleLine(QStringLiteral("HANDLE (\\d+)\n"));
    WindowHandle window = 0;
    WaitUntil([&] {
        output += peer->readAll();
        const auto match = handleLine.match(QString::fromUtf8(output));
        if (match.hasMatch()) {
            window = match.captured(1).toULongLong();
        }
        return window != 0 || peer->state() == QProcess::NotRunning;
    });
    return window;
}

void StopPeer(QProcess& peer) {
    peer.kill();
    peer.waitForFinished(5000);
}

class PeerProcess : public ::testing::Test {
protected:
    QCoreApplication& App = TestApplication();
    BusWindows Self{"test window"};
    Recorder SeenBySelf;
    std::unique_ptr<QProcess> Peer;
    QByteArray PeerOutput;
    WindowHandle PeerWindow = 0;

    void SetUp() override {
        ASSERT_TRUE(Self.Connected()) << Self.ErrorText();
        Self.SetSendTimeout(10s);
        SeenBySelf.Hook(Self);
        PeerWindow = StartPeer(Peer, PeerOutput);
        ASSERT_NE(PeerWindow, 0u) << PeerOutput.toStdString();
    }

    void TearDown() override {
        if (Peer && Peer->state() != QProcess::NotRunning) {
            Self.SendToWindow(PeerWindow, QuitMessage, 0, 0);
            if (!Peer->waitForFinished(5000)) {
                StopPeer(*Peer);
            }
        }
    }
};

TEST_F(PeerProcess, TitleAndResultsCrossTheProcessBoundary) {
    EXPECT_TRUE(Contains(AllWindows(Self), PeerWindow));
    EXPECT_EQ(TitleOf(Self, PeerWindow), "bus test peer");
    EXPECT_EQ(Self.SendToWindow(PeerWindow, PingMessage, 0, 41), 42);
    EXPECT_EQ(SendCopyData(Self, PeerWindow, std::string("12345\0", 6)), 6);
}

TEST_F(PeerProcess, PeerThatSendsWhileBeingSentToGetsThrough) {
    // The peer sends the line back from inside its hook, while this window
    // still waits for the result of its own send.
    // Inside that answer this window reads the title of the peer, which is
    // itself still waiting for its send to return.
    std::string titleDuringEcho;
    SeenBySelf.Answer = [&](const WindowMessage&) {
        titleDuringEcho = TitleOf(Self, PeerWindow);
        return 1;
    };
    const std::string line = "echo \xF0\x9F\x98\x80 with a\nline break";
    EXPECT_EQ(SendCopyData(Self, PeerWindow, line), static_cast<std::intptr_t>(line.size()));
    EXPECT_THAT(SeenBySelf.Messages, ElementsAre(Seen{CopyDataMessage, PeerWindow, 0, 0, line}));
    EXPECT_EQ(titleDuringEcho, "bus test peer");
}

TEST_F(PeerProcess, CrossingSendsNeitherDeadlockNorLoseNorReorderLines) {
    constexpr int Count = 300;
    int nextFromPeer = 0;
    bool peerInOrder = true;
    SeenBySelf.Answer = [&](const WindowMessage& message) {
        if (message.Msg == CopyDataMessage) {
            const std::string line = SeenOf(message).Data;
            peerInOrder = peerInOrder && line == "peer " + std::to_string(nextFromPeer);
            ++nextFromPeer;
        }
        return 1;
    };
    QElapsedTimer clock;
    clock.start();
    // The peer starts its own stream of lines to this window as soon as it
    // has answered, so both programs send to each other at the same time.
    ASSERT_EQ(Self.SendToWindow(PeerWindow, FloodMessage, Self.ApplicationWindow(), Count), 1);
    std::vector<int> badResults;
    for (int i = 0; i < Count; ++i) {
        const std::intptr_t result = SendCopyData(Self, PeerWindow, "seq " + std::to_string(i));
        if (result != i + 1) {
            badResults.push_back(i);
        }
    }
    EXPECT_TRUE(badResults.empty()) << ::testing::PrintToString(badResults);
    // How many of the peer's lines arrived while this window was sending its
    // own: the measure of how much the two streams crossed.
    RecordProperty("PeerLinesDuringOwnSends", nextFromPeer);
    EXPECT_TRUE(WaitUntil([&] { return nextFromPeer >= Count; }, 20s)) << nextFromPeer;
    EXPECT_EQ(nextFromPeer, Count);
    EXPECT_TRUE(peerInOrder);
    EXPECT_LT(clock.elapsed(), 20000);
}

TEST_F(PeerProcess, AWindowWhoseProgramEndedGivesZeroAtOnce) {
    EXPECT_EQ(Self.SendToWindow(PeerWindow, QuitMessage, 0, 0), 1);
    // The send runs an event loop of its own, which may already have seen the
    // program end; waitForFinished() gives false then.
    ASSERT_TRUE(Peer->state() == QProcess::NotRunning || Peer->waitForFinished(5000));
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Self.SendToWindow(PeerWindow, PingMessage, 0, 1), 0);
    EXPECT_EQ(SendCopyData(Self, PeerWindow, "late"), 0);
    EXPECT_EQ(TitleOf(Self, PeerWindow), "");
    EXPECT_LT(clock.elapsed(), 1000);
}

TEST_F(PeerProcess, AStuckProgramDelaysASendOnlyUntilTheTimeOut) {
    ASSERT_EQ(::kill(static_cast<pid_t>(Peer->processId()), SIGSTOP), 0);
    Self.SetSendTimeout(300ms);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Self.SendToWindow(PeerWindow, PingMessage, 0, 1), 0);
    EXPECT_GE(clock.elapsed(), 250);
    EXPECT_LT(clock.elapsed(), 3000);
    ASSERT_EQ(::kill(static_cast<pid_t>(Peer->processId()), SIGCONT), 0);
    // The message was delivered late; the next one is answered as usual.
    Self.SetSendTimeout(10s);
    EXPECT_EQ(Self.SendToWindow(PeerWindow, PingMessage, 0, 2), 3);
}

TEST_F(PeerProcess, StuckProgramsCostABroadcastOrAnEnumerationOneTimeLimitInAll) {
    std::vector<std::unique_ptr<QProcess>> peers(2);
    for (auto& peer : peers) {
        QByteArray output;
        ASSERT_NE(StartPeer(peer, output), 0u) << output.toStdString();
    }
    peers.push_back(std::move(Peer));
    for (const auto& peer : peers) {
        ASSERT_EQ(::kill(static_cast<pid_t>(peer->processId()), SIGSTOP), 0);
    }
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Self.Broadcast(PingMessage, 0, 1), 1);
    const qint64 broadcastMs = clock.restart();
    std::string titles;
    for (const WindowHandle window : AllWindows(Self)) {
        titles += TitleOf(Self, window) + ";";
    }
    const qint64 titlesMs = clock.elapsed();
    for (const auto& peer : peers) {
        ::kill(static_cast<pid_t>(peer->processId()), SIGCONT);
        StopPeer(*peer);
    }
    // One broadcast limit (5 s) and one title limit (2 s), however many
    // programs are stuck; a stuck program has no title.
    EXPECT_GE(broadcastMs, 4500);
    EXPECT_LT(broadcastMs, 8000);
    EXPECT_GE(titlesMs, 1500);
    EXPECT_LT(titlesMs, 3500);
    EXPECT_EQ(titles, "test window;;;;");
}

/// Every window and its title as a program that keeps no mirror sees them:
/// the daemon's list, then each title read over the bus.
std::vector<std::pair<WindowHandle, std::string>> RealEnumeration() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QDBusMessage names =
        bus.call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                QStringLiteral("/org/freedesktop/DBus"),
                                                QStringLiteral("org.freedesktop.DBus"),
                                                QStringLiteral("ListNames")),
                 QDBus::Block, 2000);
    std::vector<std::pair<WindowHandle, std::string>> windows;
    for (const QString& name : names.arguments().value(0).toStringList()) {
        static const QRegularExpression window(
            QStringLiteral("^org\\.velantro\\.Window\\.H(\\d+)$"));
        const auto match = window.match(name);
        if (!match.hasMatch()) {
            continue;
        }
        QDBusMessage get = QDBusMessage::createMethodCall(
            name, QStringLiteral("/org/velantro/Window/") + match.captured(1),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << QStringLiteral("org.velantro.Window") << QStringLiteral("Title");
        // This process's own windows answer from its event loop.
        const QDBusMessage title = bus.call(get, QDBus::BlockWithGui, 2000);
        windows.emplace_back(match.captured(1).toULongLong(),
                             title.type() == QDBusMessage::ReplyMessage ? title.arguments()
                                                                              .value(0)
                                                                              .value<QDBusVariant>()
                                                                              .variant()
                                                                              .toString()
                                                                              .toStdString()
                                                                        : std::string());
    }
    std::sort(windows.begin(), windows.end());
    return windows;
}

/// The same as the given windows see it.
std::vector<std::pair<WindowHandle, std::string>> Enumeration(WindowTitles& titles) {
    std::vector<std::pair<WindowHandle, std::string>> windows;
    for (const WindowHandle window : AllWindows(titles)) {
        windows.emplace_back(window, TitleOf(titles, window));
    }
    return windows;
}

TEST_F(PeerProcess, TheMirrorOfTitlesAnswersAsARealEnumerationWhileWindowsComeChangeAndGo) {
    // The first enumeration starts the mirror.
    EXPECT_EQ(Enumeration(Self), RealEnumeration()) << "at the start";

    std::unique_ptr<QProcess> second;
    QByteArray output;
    const WindowHandle secondWindow = StartPeer(second, output);
    ASSERT_NE(secondWindow, 0u) << output.toStdString();
    // A round trip to the peer: the bus's signals about it came before its answer.
    ASSERT_EQ(Self.SendToWindow(secondWindow, PingMessage, 0, 1), 2);
    EXPECT_EQ(Enumeration(Self), RealEnumeration()) << "a window appeared";
    EXPECT_TRUE(Contains(AllWindows(Self), secondWindow));

    ASSERT_EQ(Self.SendToWindow(PeerWindow, RetitleMessage, 0, 7), 1);
    EXPECT_EQ(TitleOf(Self, PeerWindow), "retitled 7");
    EXPECT_EQ(Enumeration(Self), RealEnumeration()) << "a window changed its title";

    ASSERT_EQ(Self.SendToWindow(secondWindow, QuitMessage, 0, 0), 1);
    ASSERT_TRUE(second->state() == QProcess::NotRunning || second->waitForFinished(5000));
    ASSERT_TRUE(WaitUntil([&] {
        for (const auto& [window, title] : RealEnumeration()) {
            if (window == secondWindow) {
                return false;
            }
        }
        return true;
    }));
    EXPECT_EQ(Self.SendToWindow(secondWindow, PingMessage, 0, 1), 0);
    EXPECT_EQ(Enumeration(Self), RealEnumeration()) << "a window went";
    EXPECT_FALSE(Contains(AllWindows(Self), secondWindow));

    // A stopped program: a real enumeration waits out the time limit and
    // reads no title; the mirror answers at once with the title it last showed.
    ASSERT_EQ(::kill(static_cast<pid_t>(Peer->processId()), SIGSTOP), 0);
    QElapsedTimer clock;
    clock.start();
    const auto mirrored = Enumeration(Self);
    const qint64 mirroredMs = clock.elapsed();
    const auto real = RealEnumeration();
    ::kill(static_cast<pid_t>(Peer->processId()), SIGCONT);
    EXPECT_LT(mirroredMs, 200);
    EXPECT_THAT(mirrored, ::testing::Contains(
                              std::pair<WindowHandle, std::string>(PeerWindow, "retitled 7")));
    EXPECT_THAT(real, ::testing::Contains(std::pair<WindowHandle, std::string>(PeerWindow, "")));
}

/// A window of a program written from docs/bus-protocol.md alone, in Python.
class ForeignPeer {
public:
    ForeignPeer(WindowHandle handle, const std::string& title, bool silent) {
        QStringList arguments{QStringLiteral(BUS_TITLE_PEER), QString::number(handle),
                              QString::fromStdString(title)};
        if (silent) {
            arguments << QStringLiteral("--silent");
        }
        Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Process.start(QStringLiteral("/usr/bin/python3"), arguments);
        Started = WaitFor("HANDLE " + std::to_string(handle));
    }
    ~ForeignPeer() {
        Process.closeWriteChannel();
        if (!Process.waitForFinished(5000)) {
            Process.kill();
            Process.waitForFinished(5000);
        }
    }
    ForeignPeer(const ForeignPeer&) = delete;
    ForeignPeer& operator=(const ForeignPeer&) = delete;

    bool Retitle(const std::string& title) {
        Process.write(QByteArray::fromStdString("title " + title + "\n"));
        return WaitFor("TITLED");
    }

    bool Started = false;

private:
    bool WaitFor(const std::string& line) {
        bool found = false;
        WaitUntil([&] {
            Output += Process.readAllStandardOutput().toStdString();
            if (const auto at = Output.find(line + "\n"); at != std::string::npos) {
                Output.erase(0, at + line.size() + 1);
                found = true;
            }
            return found || Process.state() == QProcess::NotRunning;
        });
        return found;
    }

    QProcess Process;
    std::string Output;
};

TEST(BusWindowsMirror, AForeignPeerIsFoundAndItsAnnouncedTitlesFollowed) {
    TestApplication();
    BusWindows self("mirror test");
    ASSERT_TRUE(self.Connected()) << self.ErrorText();
    AllWindows(self); // starts the mirror
    const auto base = static_cast<WindowHandle>(900000 + ::getpid() % 50000 * 2);
    ForeignPeer announcing(base, "Tolvane Verbatrix 3.1", false);
    ForeignPeer silent(base + 1, "silent one", true);
    ASSERT_TRUE(announcing.Started);
    ASSERT_TRUE(silent.Started);

    EXPECT_EQ(self.SendToWindow(base, PingMessage, 0, 41), 42);
    EXPECT_EQ(self.SendToWindow(base + 1, PingMessage, 0, 41), 42);
    EXPECT_TRUE(Contains(AllWindows(self), base));
    EXPECT_EQ(TitleOf(self, base), "Tolvane Verbatrix 3.1");
    EXPECT_EQ(TitleOf(self, base + 1), "silent one") << "read once when it appeared";

    ASSERT_TRUE(announcing.Retitle("Tolvane Verbatrix 3.2 - \xC3\xA9"));
    ASSERT_TRUE(silent.Retitle("never announced"));
    EXPECT_EQ(self.SendToWindow(base, PingMessage, 0, 1), 2);
    EXPECT_EQ(self.SendToWindow(base + 1, PingMessage, 0, 1), 2);
    EXPECT_EQ(TitleOf(self, base), "Tolvane Verbatrix 3.2 - \xC3\xA9");
    EXPECT_EQ(TitleOf(self, base + 1), "silent one");
}

TEST(BusWindowsOffline, WithoutABusNothingIsPretended) {
    TestApplication();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       QStringLiteral("unix:path=/nonexistent/velantro-test-bus"));
    const auto child = StartChild(QStringLiteral("DISABLED_Offline"), environment);
    ASSERT_TRUE(child->waitForFinished(20000));
    const std::string output = child->readAll().toStdString();
    EXPECT_EQ(child->exitCode(), 0) << output;
    EXPECT_THAT(output, HasSubstr("[  PASSED  ] 1 test")) << output;
}

} // namespace

// ---------------------------------------------------------------------------
// The child processes. Disabled so that they run only when started above.

TEST(BusWindowsChild, DISABLED_Peer) {
    TestApplication();
    BusWindows window("bus test peer");
    ASSERT_TRUE(window.Connected()) << window.ErrorText();
    window.SetSendTimeout(10s);
    QEventLoop loop;
    std::intptr_t nextSeq = 0;
    window.HookMainWindow([&](WindowMessage& message) {
        if (message.Msg == PingMessage) {
            message.Result = message.LParam + 1;
        } else if (message.Msg == FloodMessage) {
            const WindowHandle target = message.WParam;
            const auto count = message.LParam;
            QTimer::singleShot(0, &loop, [&window, target, count] {
                for (std::intptr_t i = 0; i < count; ++i) {
                    SendCopyData(window, target, "peer " + std::to_string(i));
                }
            });
            message.Result = 1;
        } else if (message.Msg == QuitMessage) {
            QTimer::singleShot(0, &loop, &QEventLoop::quit);
            message.Result = 1;
        } else if (message.Msg == RetitleMessage) {
            window.SetTitle("retitled " + std::to_string(message.LParam));
            message.Result = 1;
        } else if (message.Msg == CopyDataMessage) {
            const auto& record = *reinterpret_cast<const CopyDataRecord*>(message.LParam);
            const std::string line = BlockBytes(record);
            if (line.starts_with("seq ")) {
                // Answers with the next number only while lines come in order.
                message.Result = line == "seq " + std::to_string(nextSeq) ? ++nextSeq : -1;
            } else {
                if (line.starts_with("echo ")) {
                    SendCopyData(window, message.WParam, line);
                }
                message.Result = record.cbData;
            }
        } else {
            return false;
        }
        return true;
    });
    std::cout << "HANDLE " << window.ApplicationWindow() << std::endl;
    QTimer::singleShot(60s, &loop, &QEventLoop::quit);
    loop.exec();
}

TEST(BusWindowsChild, DISABLED_Offline) {
    TestApplication();
    BusWindows window("offline");
    EXPECT_FALSE(window.Connected());
    EXPECT_THAT(window.ErrorText(), HasSubstr("Cannot connect to the D-Bus session bus"));
    EXPECT_EQ(window.ApplicationWindow(), 0u);
    EXPECT_EQ(window.RegisterMessageName("SkypeControlAPIAttach"), 0u);
    EXPECT_EQ(window.Broadcast(0xC000, 0, 0), 0);
    EXPECT_EQ(window.SendToWindow(1, 0xC000, 0, 0), 0);
    EXPECT_FALSE(window.EnumerateWindows([](WindowHandle) { return true; }));
    char title[8] = "x";
    EXPECT_EQ(window.ReadWindowTitle(1, title, 8), 0);
    EXPECT_EQ(title[0], '\0');
    window.SetTitle("still fine");
}
