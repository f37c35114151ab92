// The window-message stand-in on a private session bus: windows of this
// process on separate connections, and a second process (this program run
// again as a peer, see BusWindowsChild).

#include "platform/bus/BusWindows.h"

#include "support/EventLoopWait.h"
#include "support/PendingSends.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <iomanip>
#include <iostream>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using namespace velantro::platform;
using namespace std::chrono_literals;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using velantro::testing::AllDone;
using velantro::testing::OutOfPlace;
using velantro::testing::Send;
using velantro::testing::SendCopyData;
using velantro::testing::SendHandle;
using velantro::testing::TestApplication;
using velantro::testing::WaitUntil;

namespace {

const std::uint32_t PingMessage = BusMessageId("BusTest.Ping");
const std::uint32_t FloodMessage = BusMessageId("BusTest.Flood");
const std::uint32_t FloodDoneMessage = BusMessageId("BusTest.FloodDone");
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

/// The send's result, waited for on the event loop (as only a test may);
/// nothing when none came within timeout.
std::optional<std::intptr_t> ResultOf(const SendHandle& send,
                                      std::chrono::milliseconds timeout = 10s) {
    WaitUntil([&] { return send->Results > 0; }, timeout);
    EXPECT_FALSE(send->InsideCall) << "the result came inside the call";
    EXPECT_LE(send->Results, 1) << "one send, several results";
    return send->Results > 0 ? std::optional(send->Result) : std::nullopt;
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
    std::vector<std::uint32_t> ids = {PingMessage, FloodMessage, FloodDoneMessage, QuitMessage,
                                      RetitleMessage};
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
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

    EXPECT_EQ(ResultOf(Send(A, B.ApplicationWindow(), msg, 7, -21)), -42);
    EXPECT_EQ(ResultOf(Send(A, B.ApplicationWindow(), 0x0400, 0, 0x7FFFFFFFFFFF)), 0xFFFFFFFFFFFE);
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
        // The sender's bytes are overwritten and freed as soon as the call
        // returns: the block must have been copied by then.
        auto bytes = std::make_unique<std::string>(c.Bytes);
        const SendHandle send = SendCopyData(A, B.ApplicationWindow(), *bytes, c.DwData);
        std::fill(bytes->begin(), bytes->end(), '#');
        bytes.reset();
        EXPECT_EQ(ResultOf(send), static_cast<std::intptr_t>(c.Bytes.size())) << c.Name;
        EXPECT_THAT(SeenByB.Messages,
                    ElementsAre(Seen{CopyDataMessage, A.ApplicationWindow(), 0, c.DwData, c.Bytes}))
            << c.Name;
    }
}

TEST_F(TwoWindows, AResultAndADeliveryNeverComeInsideTheCall) {
    const WindowHandle a = A.ApplicationWindow();
    const WindowHandle b = B.ApplicationWindow();
    SeenByA.Answer = [](const WindowMessage&) {
        return 5;
    };
    SeenByB.Answer = [](const WindowMessage&) {
        return 6;
    };
    const CopyDataRecord noData{0, 10, nullptr};
    const CopyDataRecord line{3, 4, "self"};
    struct Case {
        const char* Name;
        WindowHandle To;
        std::uint32_t Msg;
        std::intptr_t LParam;
        std::intptr_t Result;
        Recorder* Receiver; // who sees it, if anyone
    };
    const Case cases[] = {
        {"to another window", b, 0xC001, 1, 6, &SeenByB},
        {"copy-data to another window", b, CopyDataMessage, reinterpret_cast<std::intptr_t>(&line),
         6, &SeenByB},
        {"to the own window", a, 0xC001, 1, 5, &SeenByA},
        {"copy-data to the own window", a, CopyDataMessage, reinterpret_cast<std::intptr_t>(&line),
         5, &SeenByA},
        // Within the process even the system's own messages reach the hook.
        {"a system message to the own window", a, 0x10, 2, 5, &SeenByA},
        {"a system message to another program", b, 0x000C, 0x1234, 0, nullptr},
        {"copy-data without a record", b, CopyDataMessage, 0, 0, nullptr},
        {"copy-data whose record has no bytes", a, CopyDataMessage,
         reinterpret_cast<std::intptr_t>(&noData), 0, nullptr},
        {"to window 0", 0, 0xC001, 1, 0, nullptr},
        {"to a window nobody has", 0xFFFFFFFFFFull, 0xC001, 1, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        SeenByA.Messages.clear();
        SeenByB.Messages.clear();
        const SendHandle send = Send(A, c.To, c.Msg, a, c.LParam);
        EXPECT_EQ(send->Results, 0);
        EXPECT_TRUE(SeenByA.Messages.empty() && SeenByB.Messages.empty());
        EXPECT_EQ(ResultOf(send), c.Result);
        if (c.Receiver != nullptr) {
            EXPECT_EQ(c.Receiver->Messages.size(), 1u);
        }
        EXPECT_EQ(SeenByA.Messages.size() + SeenByB.Messages.size(), c.Receiver ? 1u : 0u);
    }
}

TEST_F(TwoWindows, SendsToOneWindowArriveInTheOrderMade) {
    struct Case {
        const char* Name;
        BusWindows& From;
        BusWindows& To;
        Recorder& Receiver;
    };
    const Case cases[] = {
        {"another program's window", A, B, SeenByB},
        {"the sender's own window", A, A, SeenByA},
    };
    constexpr int Count = 40;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        c.Receiver.Messages.clear();
        // Each result is the place the message arrived in.
        c.Receiver.Answer = [&c](const WindowMessage&) {
            return static_cast<std::intptr_t>(c.Receiver.Messages.size());
        };
        std::vector<SendHandle> sends;
        std::vector<Seen> expected;
        for (int i = 0; i < Count; ++i) {
            // Copy-data and plain messages travel by different calls.
            if (i % 2 == 0) {
                const std::string line = "line " + std::to_string(i);
                sends.push_back(SendCopyData(c.From, c.To.ApplicationWindow(), line));
                expected.push_back({CopyDataMessage, c.From.ApplicationWindow(), 0, 0, line});
            } else {
                sends.push_back(Send(c.From, c.To.ApplicationWindow(), 0xC001, 0, i));
                expected.push_back({0xC001, 0, i, 0, ""});
            }
        }
        ASSERT_TRUE(WaitUntil([&] { return AllDone(sends); }));
        EXPECT_EQ(c.Receiver.Messages, expected);
        EXPECT_THAT(OutOfPlace(sends), IsEmpty());
    }
}

TEST_F(TwoWindows, TwoWindowsSendingToEachOtherAtOnceBothGetTheirResults) {
    constexpr int Count = 100;
    SeenByA.Answer = [this](const WindowMessage&) {
        return static_cast<std::intptr_t>(SeenByA.Messages.size());
    };
    SeenByB.Answer = [this](const WindowMessage&) {
        return static_cast<std::intptr_t>(SeenByB.Messages.size());
    };
    std::vector<SendHandle> fromA;
    std::vector<SendHandle> fromB;
    for (int i = 0; i < Count; ++i) {
        fromA.push_back(SendCopyData(A, B.ApplicationWindow(), "a " + std::to_string(i)));
        fromB.push_back(SendCopyData(B, A.ApplicationWindow(), "b " + std::to_string(i)));
    }
    ASSERT_TRUE(WaitUntil([&] { return AllDone(fromA) && AllDone(fromB); }));
    EXPECT_THAT(OutOfPlace(fromA), IsEmpty());
    EXPECT_THAT(OutOfPlace(fromB), IsEmpty());
    ASSERT_EQ(SeenByB.Messages.size(), static_cast<std::size_t>(Count));
    EXPECT_EQ(SeenByB.Messages.back().Data, "a " + std::to_string(Count - 1));
}

TEST_F(TwoWindows, AHookThatSendsIsNeverEnteredAgainWhileItRuns) {
    const WindowHandle a = A.ApplicationWindow();
    const WindowHandle b = B.ApplicationWindow();
    std::vector<std::string> order;
    int depth = 0;
    int deepest = 0;
    std::vector<SendHandle> fromHooks;
    // Each hook sends from inside itself; the send only goes on its way.
    const auto answer = [&](const char* self, const char* trigger, const char* reply,
                            std::intptr_t result) {
        return [&, self, trigger, reply, result](const WindowMessage& message) {
            deepest = std::max(deepest, ++depth);
            const std::string data = SeenOf(message).Data;
            order.push_back(std::string(self) + " got " + data);
            if (data == trigger) {
                BusWindows& sender = *self == 'A' ? A : B;
                fromHooks.push_back(SendCopyData(sender, message.WParam, reply));
            }
            order.push_back(std::string(self) + " returns");
            --depth;
            return result;
        };
    };
    SeenByB.Answer = answer("B", "ask", "answer", 1);
    SeenByA.Answer = answer("A", "answer", "again", 11);
    const SendHandle ask = SendCopyData(A, b, "ask");
    order.push_back("A's send returned");
    EXPECT_EQ(ResultOf(ask), 1);
    ASSERT_TRUE(WaitUntil([&] { return fromHooks.size() == 2 && AllDone(fromHooks); }));
    EXPECT_EQ(fromHooks[0]->Result, 11) << "B's answer to A";
    EXPECT_EQ(fromHooks[1]->Result, 1) << "A's message to B from inside its hook";
    EXPECT_EQ(deepest, 1);
    EXPECT_THAT(order, ElementsAre("A's send returned", "B got ask", "B returns", "A got answer",
                                   "A returns", "B got again", "B returns"));
    EXPECT_EQ(SeenByA.Messages.size(), 1u);
    EXPECT_EQ(SeenByB.Messages.front().WParam, a);
}

TEST_F(TwoWindows, UnhandledMessagesGiveZero) {
    const WindowHandle b = B.ApplicationWindow();
    B.HookMainWindow([](WindowMessage& message) {
        message.Result = 5;
        return false; // lets the message pass on: the default processing gives 0
    });
    EXPECT_EQ(ResultOf(Send(A, b, 0xC001, 0, 0)), 0);

    B.UnhookMainWindow();
    EXPECT_EQ(ResultOf(Send(A, b, 0xC001, 0, 0)), 0);
    EXPECT_EQ(ResultOf(SendCopyData(A, b, "x")), 0);

    int calls = 0;
    B.HookMainWindow([&](WindowMessage& message) {
        ++calls;
        B.UnhookMainWindow(); // a hook may remove itself while it runs
        message.Result = 3;
        return true;
    });
    EXPECT_EQ(ResultOf(Send(A, b, 0xC001, 0, 0)), 3);
    EXPECT_EQ(ResultOf(Send(A, b, 0xC001, 0, 0)), 0);
    EXPECT_EQ(calls, 1);
}

TEST_F(TwoWindows, AnErrorInTheReceiversHookIsContainedThere) {
    struct Case {
        const char* Name;
        BusWindows& Receiver;
    };
    const Case cases[] = {{"another program's window", B}, {"the sender's own window", A}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        c.Receiver.HookMainWindow([](WindowMessage& message) -> bool {
            if (message.LParam == 1) {
                throw std::runtime_error("handler failed");
            }
            message.Result = 7;
            return true;
        });
        EXPECT_EQ(ResultOf(Send(A, c.Receiver.ApplicationWindow(), 0xC001, 0, 1)), 0);
        EXPECT_EQ(ResultOf(Send(A, c.Receiver.ApplicationWindow(), 0xC001, 0, 2)), 7)
            << "the receiver carries on";
    }
}

TEST_F(TwoWindows, BroadcastReachesEveryWindowIncludingTheSendersFromTheLoop) {
    const std::uint32_t discover = A.RegisterMessageName("SkypeControlAPIDiscover");
    EXPECT_EQ(A.Broadcast(discover, A.ApplicationWindow(), 0), 1);
    EXPECT_TRUE(SeenByA.Messages.empty()) << "the own window got it inside the call";
    const Seen expected{discover, A.ApplicationWindow(), 0, 0, ""};
    EXPECT_TRUE(WaitUntil([&] { return !SeenByA.Messages.empty() && !SeenByB.Messages.empty(); }));
    EXPECT_THAT(SeenByA.Messages, ElementsAre(expected));
    EXPECT_THAT(SeenByB.Messages, ElementsAre(expected));
}

TEST_F(TwoWindows, AnErrorInTheSendersOwnHookLeavesTheBroadcastToTheOthers) {
    int ownCalls = 0;
    A.HookMainWindow([&](WindowMessage&) -> bool {
        ++ownCalls;
        throw std::runtime_error("own hook failed");
    });
    EXPECT_EQ(A.Broadcast(0xC001, 0, 5), 1);
    EXPECT_TRUE(WaitUntil([&] { return ownCalls == 1 && !SeenByB.Messages.empty(); }));
    EXPECT_THAT(SeenByB.Messages, ElementsAre(Seen{0xC001, 0, 5, 0, ""}));
    SeenByA.Hook(A);
    EXPECT_EQ(ResultOf(Send(B, A.ApplicationWindow(), 0xC001, 0, 6)), 1) << "A carries on";
}

TEST_F(TwoWindows, SystemMessagesAndBadRecordsAreNotCarried) {
    const WindowHandle b = B.ApplicationWindow();
    EXPECT_EQ(ResultOf(Send(A, b, 0x000C, 0, 0x1234)), 0)
        << "a system message may carry an address";
    CopyDataRecord noData{0, 10, nullptr};
    EXPECT_EQ(ResultOf(Send(A, b, CopyDataMessage, 0, reinterpret_cast<std::intptr_t>(&noData))),
              0);
    EXPECT_EQ(ResultOf(Send(A, b, CopyDataMessage, 0, 0)), 0);

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
    EXPECT_EQ(ResultOf(SendCopyData(A, b, "from A")), 1);
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

TEST_F(TwoWindows, AVanishedWindowGivesZeroFromTheLoopAtOnceAndItsHandleIsNotReused) {
    WindowHandle gone = 0;
    {
        BusWindows c("short-lived");
        ASSERT_TRUE(c.Connected());
        gone = c.ApplicationWindow();
        Recorder seenByC;
        seenByC.Hook(c);
        EXPECT_EQ(ResultOf(Send(A, gone, 0xC001, 0, 0)), 1);
    }
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(ResultOf(Send(A, gone, 0xC001, 0, 0)), 0);
    EXPECT_EQ(ResultOf(SendCopyData(A, gone, "anyone there?")), 0);
    EXPECT_EQ(TitleOf(A, gone), "");
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_FALSE(Contains(AllWindows(A), gone));

    BusWindows next("next");
    ASSERT_TRUE(next.Connected());
    EXPECT_NE(next.ApplicationWindow(), gone);
}

TEST_F(TwoWindows, NothingQueuedReachesTheCallerOnceItsWindowIsGone) {
    const WindowHandle b = B.ApplicationWindow();
    struct Case {
        const char* Name;
        std::function<void(BusWindows& self, const std::function<void()>& reached)> Queue;
    };
    const Case cases[] = {
        {"a send to another window",
         [b](BusWindows& self, const auto& reached) {
             self.SendToWindow(b, 0xC001, 0, 0, [reached](std::intptr_t) { reached(); });
         }},
        {"a send to the own window",
         [](BusWindows& self, const auto& reached) {
             self.SendToWindow(self.ApplicationWindow(), 0xC001, 0, 0,
                               [reached](std::intptr_t) { reached(); });
         }},
        {"a send that fails",
         [](BusWindows& self, const auto& reached) {
             self.SendToWindow(0, 0xC001, 0, 0, [reached](std::intptr_t) { reached(); });
         }},
        {"work to run now",
         [](BusWindows& self, const auto& reached) {
             self.RunLater(reached);
         }},
        {"work to run later",
         [](BusWindows& self, const auto& reached) {
             self.RunAfter(20ms, reached);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        bool reached = false;
        {
            BusWindows self("short-lived");
            ASSERT_TRUE(self.Connected());
            Recorder seen;
            seen.Hook(self);
            c.Queue(self, [&reached] { reached = true; });
        }
        velantro::testing::RunEventsFor(100ms);
        EXPECT_FALSE(reached);
    }
}

TEST_F(TwoWindows, WorkRunsFromTheLoopOnceItsDelayHasPassedInOrder) {
    const std::vector<std::chrono::milliseconds> delays = {60ms, 0ms, 20ms, 0ms, 60ms, 20ms};
    std::vector<std::size_t> order;
    std::vector<qint64> lateBy;
    QElapsedTimer clock;
    clock.start();
    for (std::size_t i = 0; i < delays.size(); ++i) {
        A.RunAfter(delays[i], [&, i] {
            order.push_back(i);
            lateBy.push_back(clock.elapsed() - delays[i].count());
        });
    }
    A.RunLater([&] {
        order.push_back(delays.size());
        lateBy.push_back(clock.elapsed());
    });
    EXPECT_TRUE(order.empty()) << "work ran inside the call";
    ASSERT_TRUE(WaitUntil([&] { return order.size() == delays.size() + 1; }));
    // Earliest first; work of the same delay in the order queued.
    EXPECT_THAT(order, ElementsAre(1, 3, 6, 2, 5, 0, 4));
    EXPECT_THAT(lateBy, Each(::testing::Ge(0)));
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
            Self.SendToWindow(PeerWindow, QuitMessage, 0, 0, {});
            if (!Peer->waitForFinished(5000)) {
                StopPeer(*Peer);
            }
        }
    }
};

TEST_F(PeerProcess, TitleAndResultsCrossTheProcessBoundary) {
    EXPECT_TRUE(Contains(AllWindows(Self), PeerWindow));
    EXPECT_EQ(TitleOf(Self, PeerWindow), "bus test peer");
    EXPECT_EQ(ResultOf(Send(Self, PeerWindow, PingMessage, 0, 41)), 42);
    EXPECT_EQ(ResultOf(SendCopyData(Self, PeerWindow, std::string("12345\0", 6))), 6);
}

TEST_F(PeerProcess, APeerThatAnswersFromInsideItsHookReachesTheSender) {
    // The peer sends the line back from inside its hook; inside that answer
    // this window reads the title of the peer.
    std::string titleDuringEcho;
    SeenBySelf.Answer = [&](const WindowMessage&) {
        titleDuringEcho = TitleOf(Self, PeerWindow);
        return 1;
    };
    const std::string line = "echo \xF0\x9F\x98\x80 with a\nline break";
    EXPECT_EQ(ResultOf(SendCopyData(Self, PeerWindow, line)),
              static_cast<std::intptr_t>(line.size()));
    ASSERT_TRUE(WaitUntil([&] { return !SeenBySelf.Messages.empty(); }));
    EXPECT_THAT(SeenBySelf.Messages, ElementsAre(Seen{CopyDataMessage, PeerWindow, 0, 0, line}));
    EXPECT_EQ(titleDuringEcho, "bus test peer");
}

TEST_F(PeerProcess, TwoProgramsSendingToEachOtherAtOnceGetEveryResultAndKeepTheOrder) {
    constexpr int Count = 300;
    int nextFromPeer = 0;
    bool peerInOrder = true;
    std::optional<std::intptr_t> peerResultsOfOne;
    SeenBySelf.Answer = [&](const WindowMessage& message) {
        if (message.Msg == CopyDataMessage) {
            const std::string line = SeenOf(message).Data;
            peerInOrder = peerInOrder && line == "peer " + std::to_string(nextFromPeer);
            ++nextFromPeer;
        } else if (message.Msg == FloodDoneMessage) {
            peerResultsOfOne = message.LParam;
        }
        return 1;
    };
    QElapsedTimer clock;
    clock.start();
    // The peer starts its own stream of lines to this window as soon as it
    // has answered, so both programs send to each other at the same time;
    // it reports how many of its sends gave 1 once it has all their results.
    ASSERT_EQ(ResultOf(Send(Self, PeerWindow, FloodMessage, Self.ApplicationWindow(), Count)), 1);
    std::vector<SendHandle> sends;
    for (int i = 0; i < Count; ++i) {
        // The peer answers with the next number only while lines come in order.
        sends.push_back(SendCopyData(Self, PeerWindow, "seq " + std::to_string(i)));
    }
    ASSERT_TRUE(WaitUntil([&] { return AllDone(sends); }, 20s));
    EXPECT_THAT(OutOfPlace(sends), IsEmpty());
    // How many of the peer's lines arrived while this window's own were
    // under way: the measure of how much the two streams crossed.
    RecordProperty("PeerLinesDuringOwnSends", nextFromPeer);
    EXPECT_TRUE(WaitUntil([&] { return peerResultsOfOne.has_value(); }, 20s)) << nextFromPeer;
    EXPECT_EQ(peerResultsOfOne, Count);
    EXPECT_EQ(nextFromPeer, Count);
    EXPECT_TRUE(peerInOrder);
    EXPECT_LT(clock.elapsed(), 20000);
}

TEST_F(PeerProcess, AWindowWhoseProgramEndedGivesZeroFromTheLoopAtOnce) {
    EXPECT_EQ(ResultOf(Send(Self, PeerWindow, QuitMessage, 0, 0)), 1);
    // The wait for the result runs the event loop, which may already have
    // seen the program end; waitForFinished() gives false then.
    ASSERT_TRUE(Peer->state() == QProcess::NotRunning || Peer->waitForFinished(5000));
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(ResultOf(Send(Self, PeerWindow, PingMessage, 0, 1)), 0);
    EXPECT_EQ(ResultOf(SendCopyData(Self, PeerWindow, "late")), 0);
    EXPECT_EQ(TitleOf(Self, PeerWindow), "");
    EXPECT_LT(clock.elapsed(), 1000);
}

TEST_F(PeerProcess, AStuckProgramHoldsBackOnlyTheResultAndOnlyUntilTheTimeLimit) {
    ASSERT_EQ(::kill(static_cast<pid_t>(Peer->processId()), SIGSTOP), 0);
    Self.SetSendTimeout(300ms);
    QElapsedTimer clock;
    clock.start();
    const SendHandle send = Send(Self, PeerWindow, PingMessage, 0, 1);
    const qint64 callMs = clock.elapsed();
    // The loop goes on meanwhile: work queued after the send runs before its result.
    std::optional<std::intptr_t> resultsBeforeWork;
    Self.RunAfter(50ms, [&] { resultsBeforeWork = send->Results; });
    EXPECT_EQ(ResultOf(send), 0);
    const qint64 resultMs = clock.elapsed();
    EXPECT_LT(callMs, 100);
    EXPECT_EQ(resultsBeforeWork, 0);
    EXPECT_GE(resultMs, 250);
    EXPECT_LT(resultMs, 3000);
    ASSERT_EQ(::kill(static_cast<pid_t>(Peer->processId()), SIGCONT), 0);
    // The message was delivered late; the next one is answered as usual.
    Self.SetSendTimeout(10s);
    EXPECT_EQ(ResultOf(Send(Self, PeerWindow, PingMessage, 0, 2)), 3);
}

TEST_F(PeerProcess, StuckProgramsCostABroadcastNothingAndAnEnumerationOneTimeLimitInAll) {
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
    EXPECT_TRUE(WaitUntil([&] { return !SeenBySelf.Messages.empty(); }))
        << "the own window gets the broadcast all the same";
    for (const auto& peer : peers) {
        ::kill(static_cast<pid_t>(peer->processId()), SIGCONT);
        StopPeer(*peer);
    }
    RecordProperty("BroadcastMs", static_cast<int>(broadcastMs));
    RecordProperty("TitlesMs", static_cast<int>(titlesMs));
    // A broadcast waits for no window; the titles cost one time limit (2 s),
    // however many programs are stuck, and a stuck program has no title.
    EXPECT_LT(broadcastMs, 1000);
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
    ASSERT_EQ(ResultOf(Send(Self, secondWindow, PingMessage, 0, 1)), 2);
    EXPECT_EQ(Enumeration(Self), RealEnumeration()) << "a window appeared";
    EXPECT_TRUE(Contains(AllWindows(Self), secondWindow));

    ASSERT_EQ(ResultOf(Send(Self, PeerWindow, RetitleMessage, 0, 7)), 1);
    EXPECT_EQ(TitleOf(Self, PeerWindow), "retitled 7");
    EXPECT_EQ(Enumeration(Self), RealEnumeration()) << "a window changed its title";

    ASSERT_EQ(ResultOf(Send(Self, secondWindow, QuitMessage, 0, 0)), 1);
    ASSERT_TRUE(second->state() == QProcess::NotRunning || second->waitForFinished(5000));
    ASSERT_TRUE(WaitUntil([&] {
        for (const auto& [window, title] : RealEnumeration()) {
            if (window == secondWindow) {
                return false;
            }
        }
        return true;
    }));
    EXPECT_EQ(ResultOf(Send(Self, secondWindow, PingMessage, 0, 1)), 0);
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

    EXPECT_EQ(ResultOf(Send(self, base, PingMessage, 0, 41)), 42);
    EXPECT_EQ(ResultOf(Send(self, base + 1, PingMessage, 0, 41)), 42);
    EXPECT_TRUE(Contains(AllWindows(self), base));
    EXPECT_EQ(TitleOf(self, base), "Tolvane Verbatrix 3.1");
    EXPECT_EQ(TitleOf(self, base + 1), "silent one") << "read once when it appeared";

    ASSERT_TRUE(announcing.Retitle("Tolvane Verbatrix 3.2 - \xC3\xA9"));
    ASSERT_TRUE(silent.Retitle("never announced"));
    EXPECT_EQ(ResultOf(Send(self, base, PingMessage, 0, 1)), 2);
    EXPECT_EQ(ResultOf(Send(self, base + 1, PingMessage, 0, 1)), 2);
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
    // Sends count lines to target without waiting, and reports how many gave 1
    // once every result is in.
    const auto flood = [&window](WindowHandle target, std::intptr_t count) {
        auto results = std::make_shared<std::pair<std::intptr_t, std::intptr_t>>(0, 0);
        for (std::intptr_t i = 0; i < count; ++i) {
            const std::string line = "peer " + std::to_string(i);
            CopyDataRecord record{0, static_cast<std::uint32_t>(line.size()), line.data()};
            window.SendToWindow(target, CopyDataMessage, window.ApplicationWindow(),
                                reinterpret_cast<std::intptr_t>(&record),
                                [&window, target, count, results](std::intptr_t result) {
                                    auto& [all, ones] = *results;
                                    ones += result == 1 ? 1 : 0;
                                    if (++all == count) {
                                        window.SendToWindow(target, FloodDoneMessage, 0, ones, {});
                                    }
                                });
        }
    };
    window.HookMainWindow([&](WindowMessage& message) {
        if (message.Msg == PingMessage) {
            message.Result = message.LParam + 1;
        } else if (message.Msg == FloodMessage) {
            const WindowHandle target = message.WParam;
            const auto count = message.LParam;
            window.RunLater([&flood, target, count] { flood(target, count); });
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
    EXPECT_EQ(ResultOf(Send(window, 1, 0xC000, 0, 0)), 0) << "from the loop all the same";
    bool ran = false;
    window.RunLater([&] { ran = true; });
    EXPECT_TRUE(WaitUntil([&] { return ran; }));
    EXPECT_FALSE(window.EnumerateWindows([](WindowHandle) { return true; }));
    char title[8] = "x";
    EXPECT_EQ(window.ReadWindowTitle(1, title, 8), 0);
    EXPECT_EQ(title[0], '\0');
    window.SetTitle("still fine");
}
