// skype-peer's chat client, its script lines and its side of the transport,
// driven through the in-process window-message double.

#include "SkypePeer.h"

#include "ChatClient.h"
#include "PeerScript.h"
#include "doubles/FakeWindowMessages.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace velantro::standins;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using velantro::doubles::FakeWindowMessages;

namespace velantro::standins {
std::ostream& operator<<(std::ostream& out, const IncomingMessage& message) {
    return out << "{" << ::testing::PrintToString(message.From) << ": "
               << ::testing::PrintToString(message.Body) << "}";
}
std::ostream& operator<<(std::ostream& out, const ScriptStep& step) {
    switch (step.What) {
    case ScriptStep::Kind::Message:
        return out << "message " << step.Message;
    case ScriptStep::Kind::Wait:
        return out << "wait " << step.Pause.count() << " ms";
    case ScriptStep::Kind::Raw:
        return out << "raw " << ::testing::PrintToString(step.Line);
    }
    return out;
}
} // namespace velantro::standins

namespace {

ChatClient MakeClient() {
    ChatClient client(ChatClient::Options{});
    client.Clock = [] {
        return std::int64_t{1700000000};
    };
    return client;
}

// ---------------------------------------------------------------------------
// The chat client's answers

struct Exchange {
    std::string Command;
    std::vector<std::string> Lines;
};

/// Runs the commands one after another on one client, so later rows see the
/// messages earlier rows created.
void RunConversation(ChatClient& client, const std::vector<Exchange>& conversation) {
    for (const Exchange& exchange : conversation) {
        EXPECT_EQ(client.Command(exchange.Command).Lines, exchange.Lines)
            << ::testing::PrintToString(exchange.Command);
    }
}

TEST(ChatClient, AnswersTheHandshakeAndSearches) {
    ChatClient client = MakeClient();
    RunConversation(client, {
                                {"NAME Velantro", {"OK"}},
                                {"PROTOCOL 4", {"PROTOCOL 4", "CURRENTUSERHANDLE me"}},
                                {"PROTOCOL 9", {"PROTOCOL 4", "CURRENTUSERHANDLE me"}},
                                {"PROTOCOL 3", {"PROTOCOL 3", "CURRENTUSERHANDLE me"}},
                                {"PROTOCOL 0", {"PROTOCOL 1", "CURRENTUSERHANDLE me"}},
                                {"PROTOCOL four", {"ERROR 6 Invalid protocol number"}},
                                {"PROTOCOL 99999999999", {"ERROR 6 Invalid protocol number"}},
                                {"PROTOCOL", {"ERROR 6 Invalid protocol number"}},
                                {"PING", {"PONG"}},
                                {"SEARCH FRIENDS ", {"USERS alice, bob, echo"}},
                                {"SEARCH FRIENDS", {"USERS alice, bob, echo"}},
                                {"search friends", {"USERS alice, bob, echo"}},
                                {"SEARCH USERS Al", {"USERS alice"}},
                                {"SEARCH USERS nobody", {"USERS"}},
                                {"SEARCH CHATS", {"ERROR 5 Search type not supported"}},
                                {"GET CURRENTUSERHANDLE", {"CURRENTUSERHANDLE me"}},
                                {"GET USER alice FULLNAME", {"ERROR 1 Unknown command"}},
                                {"HELLO", {"ERROR 1 Unknown command"}},
                                {"", {"ERROR 1 Unknown command"}},
                            });
    EXPECT_TRUE(client.Command("PROTOCOL 4").HandshakeDone);
    EXPECT_FALSE(client.Command("NAME x").HandshakeDone);
    EXPECT_FALSE(client.Command("PROTOCOL x").HandshakeDone);
}

TEST(ChatClient, SendsMessagesAndAnswersTheirProperties) {
    ChatClient client = MakeClient();
    RunConversation(
        client,
        {
            {"MESSAGE bob hi  there\nsecond line",
             {"CHATMESSAGE 1 STATUS SENDING", "CHATMESSAGE 1 STATUS SENT"}},
            {"GET CHATMESSAGE 1 BODY", {"CHATMESSAGE 1 BODY hi  there\nsecond line"}},
            {"get chatmessage 1 body", {"CHATMESSAGE 1 BODY hi  there\nsecond line"}},
            {"GET CHATMESSAGE 1 FROM_HANDLE", {"CHATMESSAGE 1 FROM_HANDLE me"}},
            {"GET CHATMESSAGE 1 FROM_DISPNAME", {"CHATMESSAGE 1 FROM_DISPNAME me"}},
            {"GET CHATMESSAGE 1 STATUS", {"CHATMESSAGE 1 STATUS SENT"}},
            {"GET CHATMESSAGE 1 TIMESTAMP", {"CHATMESSAGE 1 TIMESTAMP 1700000000"}},
            {"GET CHATMESSAGE 1 CHATNAME", {"CHATMESSAGE 1 CHATNAME me/bob"}},
            {"GET CHATMESSAGE 1 TYPE", {"CHATMESSAGE 1 TYPE SAID"}},
            {"GET CHATMESSAGE 1 USERS", {"CHATMESSAGE 1 USERS bob"}},
            {"GET CHATMESSAGE 1 LEAVEREASON", {"CHATMESSAGE 1 LEAVEREASON "}},
            {"GET CHATMESSAGE 1 SEEN", {"ERROR 3 Unknown chat message property"}},
            {"GET CHATMESSAGE 2 BODY", {"ERROR 2 Invalid chat message id"}},
            {"GET CHATMESSAGE one BODY", {"ERROR 2 Invalid chat message id"}},
            {"MESSAGE ", {"ERROR 4 Invalid user handle"}},
            {"MESSAGE  two blanks", {"ERROR 4 Invalid user handle"}},
            {"MESSAGE bob\nx text", {"ERROR 4 Invalid user handle"}},
            {"MESSAGE zoe hi", {"ERROR 4 Invalid user handle"}},
            {"MESSAGE Bob hi", {"CHATMESSAGE 2 STATUS SENDING", "CHATMESSAGE 2 STATUS SENT"}},
            {"MESSAGE alice", {"CHATMESSAGE 3 STATUS SENDING", "CHATMESSAGE 3 STATUS SENT"}},
            {"GET CHATMESSAGE 3 BODY", {"CHATMESSAGE 3 BODY "}},
        });
}

TEST(ChatClient, ReceivedMessagesGetTheNextIdAndTheirSender) {
    ChatClient client = MakeClient();
    client.Command("MESSAGE bob first");
    EXPECT_EQ(client.Receive({"alice", "hola\nqu\xC3\xA9 tal"}).Line,
              "CHATMESSAGE 2 STATUS RECEIVED");
    RunConversation(client,
                    {
                        {"GET CHATMESSAGE 2 FROM_HANDLE", {"CHATMESSAGE 2 FROM_HANDLE alice"}},
                        {"GET CHATMESSAGE 2 BODY", {"CHATMESSAGE 2 BODY hola\nqu\xC3\xA9 tal"}},
                        {"GET CHATMESSAGE 2 STATUS", {"CHATMESSAGE 2 STATUS RECEIVED"}},
                        {"GET CHATMESSAGE 2 CHATNAME", {"CHATMESSAGE 2 CHATNAME me/alice"}},
                    });
}

TEST(ChatClient, AClientStartedAgainNeverGivesItsEarlierRunsNumbers) {
    // A run that started at "then" and gave fewer numbers than milliseconds
    // passed ends below the first number of any run started later in the
    // same round.
    constexpr std::int64_t Round = std::numeric_limits<std::int32_t>::max(); // ms: 24.8 days
    const std::vector<std::int64_t> starts = {0, 1, 1797000000123, Round - 2, Round, -5};
    for (const std::int64_t then : starts) {
        SCOPED_TRACE(then);
        const std::int32_t first = FirstMessageId(then);
        EXPECT_GE(first, 1);
        EXPECT_EQ(FirstMessageId(then + 1), first + 1);
        EXPECT_EQ(FirstMessageId(then + Round), first) << "round again";
    }

    ChatClient client = MakeClient();
    client.NumberMessagesFrom(FirstMessageId(1797000000123));
    EXPECT_EQ(client.Receive({"alice", "hola"}).Line, "CHATMESSAGE 1703671232 STATUS RECEIVED");
    EXPECT_EQ(client.Command("MESSAGE bob hi").Lines.front(),
              "CHATMESSAGE 1703671233 STATUS SENDING");
    client.NumberMessagesFrom(std::numeric_limits<std::int32_t>::max());
    client.Receive({"alice", "last"});
    EXPECT_EQ(client.Receive({"alice", "round"}).Line, "CHATMESSAGE 1 STATUS RECEIVED");
}

TEST(ChatClient, OnlyTheEchoContactEchoes) {
    ChatClient client = MakeClient();
    EXPECT_EQ(client.Command("MESSAGE echo say it again").Echo,
              (IncomingMessage{"echo", "say it again"}));
    EXPECT_EQ(client.Command("MESSAGE bob say it again").Echo, std::nullopt);

    ChatClient::Options options;
    options.UserHandle = "tester";
    options.Friends = {};
    options.EchoContact = "";
    ChatClient plain(options);
    EXPECT_EQ(plain.Command("MESSAGE echo hi").Echo, std::nullopt);
    EXPECT_EQ(plain.Command("SEARCH FRIENDS").Lines, std::vector<std::string>{"USERS"});
    EXPECT_EQ(plain.Command("PROTOCOL 2").Lines.back(), "CURRENTUSERHANDLE tester");
}

// ---------------------------------------------------------------------------
// Missed messages

/// The played network, which tells which of its messages need no offering again.
class SettlingBackend final : public ChatBackend {
public:
    std::string UserHandle() const override { return "me"; }
    std::vector<std::string> Friends() const override { return {"alice", "bob"}; }
    Delivery Deliver(std::string_view, std::string_view) override { return {}; }
    void Settled(std::uint64_t tag) override { Tags.push_back(tag); }

    std::vector<std::uint64_t> Tags;
};

TEST(ChatClient, MissedMessagesAreListedOldestFirstUntilTakenOrSeen) {
    SettlingBackend backend;
    ChatClient client(backend);
    client.Clock = [] {
        return std::int64_t{1700000000};
    };
    RunConversation(client, {
                                {"SEARCH MISSEDCHATMESSAGES", {"CHATMESSAGES"}},
                                {"SET CHATMESSAGE 1 SEEN", {"ERROR 2 Invalid chat message id"}},
                            });
    client.Receive({"alice", "one", 0, 11});       // 1
    client.Receive({"bob", "two", 1600000000, 0}); // 2: a time of its own
    client.Command("MESSAGE bob mine");            // 3: sent, never missed
    client.Receive({"alice", "four", 0, 44});      // 4
    client.Receive({"bob", "five", 0, 55});        // 5
    client.Taken(5);                               // a program took its notification
    client.Taken(3);                               // not a missed one: nothing changes
    RunConversation(
        client, {
                    {"SEARCH MISSEDCHATMESSAGES", {"CHATMESSAGES 1, 2, 4"}},
                    {"search missedChatMessages anything at all", {"CHATMESSAGES 1, 2, 4"}},
                    {"GET CHATMESSAGE 2 BODY", {"CHATMESSAGE 2 BODY two"}},
                    {"GET CHATMESSAGE 2 FROM_HANDLE", {"CHATMESSAGE 2 FROM_HANDLE bob"}},
                    {"GET CHATMESSAGE 2 TIMESTAMP", {"CHATMESSAGE 2 TIMESTAMP 1600000000"}},
                    {"GET CHATMESSAGE 1 TIMESTAMP", {"CHATMESSAGE 1 TIMESTAMP 1700000000"}},
                    {"GET CHATMESSAGE 1 STATUS", {"CHATMESSAGE 1 STATUS RECEIVED"}},
                    {"SET CHATMESSAGE 1 SEEN", {"CHATMESSAGE 1 STATUS READ"}},
                    {"GET CHATMESSAGE 1 STATUS", {"CHATMESSAGE 1 STATUS READ"}},
                    {"GET CHATMESSAGE 1 BODY", {"CHATMESSAGE 1 BODY one"}},
                    {"set chatmessage 4 seen", {"CHATMESSAGE 4 STATUS READ"}},
                    {"SEARCH MISSEDCHATMESSAGES", {"CHATMESSAGES 2"}},
                    // Seen again, a taken one, the user's own: answered, nothing missed changes.
                    {"SET CHATMESSAGE 1 SEEN", {"CHATMESSAGE 1 STATUS READ"}},
                    {"SET CHATMESSAGE 5 SEEN", {"CHATMESSAGE 5 STATUS READ"}},
                    {"SET CHATMESSAGE 3 SEEN", {"CHATMESSAGE 3 STATUS SENT"}},
                    {"SET CHATMESSAGE 99 SEEN", {"ERROR 2 Invalid chat message id"}},
                    {"SET CHATMESSAGE two SEEN", {"ERROR 2 Invalid chat message id"}},
                    {"SET CHATMESSAGE SEEN", {"ERROR 1 Unknown command"}},
                    {"SET CHATMESSAGE 2 BODY new", {"ERROR 1 Unknown command"}},
                    {"SET USERSTATUS ONLINE", {"ERROR 1 Unknown command"}},
                    {"SET", {"ERROR 1 Unknown command"}},
                    {"SEARCH MISSEDCHATMESSAGES", {"CHATMESSAGES 2"}},
                });
    // Each tagged message is settled once, when it stops being missed.
    EXPECT_THAT(backend.Tags, ElementsAre(55, 11, 44));
}

TEST(ChatClient, KeepsTheLastMissedMessagesAndTheLastOthersAndForgetsTheOldest) {
    constexpr auto Max = static_cast<std::int32_t>(ChatClient::MaxMissed);
    static_assert(ChatClient::MaxKept == ChatClient::MaxMissed, "the rows below count on it");
    struct Case {
        std::string Name;
        int Received; ///< missed messages stored first
        int Sent;     ///< then the user's own
        std::string FirstMissed;
        std::vector<std::pair<std::int32_t, bool>> Known; ///< id: GET still answers
        int Forgotten;
    };
    const std::vector<Case> cases = {
        {"at the limit", Max, 0, "1", {{1, true}, {Max, true}}, 0},
        {"two over the limit", Max + 2, 0, "3", {{1, true}, {3, true}, {Max + 2, true}}, 2},
        // The missed stay however many others come after them; of the
        // others only the newest stay.
        {"others after them",
         3,
         Max + 5,
         "1",
         {{1, true}, {3, true}, {4, false}, {8, false}, {9, true}, {Max + 8, true}},
         0},
        // Forgotten as missed, a message is one of the others, and goes in turn.
        {"forgotten, then pushed out",
         Max + 1,
         Max,
         "2",
         {{1, false}, {2, true}, {Max + 1, true}, {Max + 2, true}},
         1},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.Name);
        SettlingBackend backend;
        ChatClient client(backend);
        std::vector<std::int32_t> forgotten;
        client.OnForgotten = [&](std::int32_t id, const std::string& from, const std::string&) {
            EXPECT_EQ(from, "alice");
            forgotten.push_back(id);
        };
        for (int i = 0; i < row.Received; ++i) {
            client.Receive({"alice", "m" + std::to_string(i + 1), 0, std::uint64_t(i) + 1});
        }
        for (int i = 0; i < row.Sent; ++i) {
            client.Command("MESSAGE bob s");
        }
        const std::string line = client.Command("SEARCH MISSEDCHATMESSAGES").Lines.front();
        const std::size_t missed = std::min<std::size_t>(row.Received, ChatClient::MaxMissed);
        EXPECT_EQ(client.MissedCount(), missed);
        EXPECT_EQ(line.substr(0, line.find(',')), "CHATMESSAGES " + row.FirstMissed);
        EXPECT_EQ(std::count(line.begin(), line.end(), ','), static_cast<long>(missed) - 1);
        for (const auto& [id, known] : row.Known) {
            const std::string answer =
                client.Command("GET CHATMESSAGE " + std::to_string(id) + " TYPE").Lines.front();
            EXPECT_EQ(answer, known ? "CHATMESSAGE " + std::to_string(id) + " TYPE SAID"
                                    : "ERROR 2 Invalid chat message id")
                << id;
        }
        EXPECT_EQ(forgotten.size(), static_cast<std::size_t>(row.Forgotten));
        EXPECT_EQ(backend.Tags.size(), forgotten.size()) << "forgotten ones are settled";
    }
}

TEST(ChatClient, MissedMessagesAreAlsoBoundedInBytes) {
    ChatClient client = MakeClient();
    const std::string big(ChatClient::MaxMissedBytes / 4, 'x');
    for (int i = 0; i < 5; ++i) {
        client.Receive({"alice", big});
    }
    EXPECT_EQ(client.Command("SEARCH MISSEDCHATMESSAGES").Lines.front(), "CHATMESSAGES 3, 4, 5");
}

// ---------------------------------------------------------------------------
// Script and console lines

ScriptStep MessageStep(std::string from, std::string body) {
    ScriptStep step;
    step.Message = {std::move(from), std::move(body)};
    return step;
}

ScriptStep WaitStep(int ms) {
    ScriptStep step;
    step.What = ScriptStep::Kind::Wait;
    step.Pause = std::chrono::milliseconds(ms);
    return step;
}

ScriptStep RawStep(std::string line) {
    ScriptStep step;
    step.What = ScriptStep::Kind::Raw;
    step.Line = std::move(line);
    return step;
}

TEST(PeerScript, ReadsMessagesPausesAndRawLines) {
    struct Case {
        std::string Line;
        std::optional<ScriptStep> Step;
    };
    const std::vector<Case> cases = {
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"# a comment", std::nullopt},
        {"  # indented comment", std::nullopt},
        {"alice: hola", MessageStep("alice", "hola")},
        {"alice:hola", MessageStep("alice", "hola")},
        {"alice:  two blanks", MessageStep("alice", " two blanks")},
        {"alice: hola\r", MessageStep("alice", "hola")},
        {"alice: time: 10:30", MessageStep("alice", "time: 10:30")},
        {"alice:", MessageStep("alice", "")},
        {"bob: a\\nb\\tc\\\\d\\x41\\xc3\\xa9\\r", MessageStep("bob", "a\nb\tc\\dA\xC3\xA9\r")},
        {"wait: not a pause", MessageStep("wait", "not a pause")},
        {"wait 250", WaitStep(250)},
        {"wait  0 ", WaitStep(0)},
        {"wait 600000", WaitStep(600000)},
        {"raw USERSTATUS ONLINE", RawStep("USERSTATUS ONLINE")},
        {"raw CHATMESSAGE 7 BODY x\\ny", RawStep("CHATMESSAGE 7 BODY x\ny")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseScriptLine(c.Line), c.Step) << ::testing::PrintToString(c.Line);
    }
}

TEST(PeerScript, RefusesLinesItCannotRead) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"wait", "expected \"HANDLE: TEXT\""},
        {"wait x", "milliseconds"},
        {"wait -1", "milliseconds"},
        {"wait 600001", "milliseconds"},
        {"wait 10 ms", "milliseconds"},
        {"raw ", "raw needs a line"},
        {"no colon here", "expected \"HANDLE: TEXT\""},
        {"al ice: x", "expected \"HANDLE: TEXT\""},
        {": x", "expected \"HANDLE: TEXT\""},
        {"alice: bad \\q escape", "unknown escape"},
        {"alice: cut \\x4", "two hexadecimal digits"},
        {"alice: trailing \\", "unknown escape"},
    };
    for (const auto& [line, message] : cases) {
        try {
            ParseScriptLine(line);
            ADD_FAILURE() << "accepted " << ::testing::PrintToString(line);
        } catch (const std::invalid_argument& error) {
            EXPECT_THAT(error.what(), HasSubstr(message)) << ::testing::PrintToString(line);
        }
    }
}

TEST(PeerScript, AFileErrorNamesTheFileAndLine) {
    const std::string path = ::testing::TempDir() + "skype-peer-test-script.txt";
    std::ofstream(path) << "# greeting\nalice: hola\nwait 100\n\nbob: hi\r\n";
    EXPECT_THAT(ReadScript(path),
                ElementsAre(MessageStep("alice", "hola"), WaitStep(100), MessageStep("bob", "hi")));

    std::ofstream(path) << "alice: hola\n\nwait soon\n";
    try {
        ReadScript(path);
        ADD_FAILURE() << "accepted a bad script";
    } catch (const std::runtime_error& error) {
        EXPECT_THAT(error.what(), HasSubstr(path + ":3: wait needs"));
    }
    std::remove(path.c_str());
    EXPECT_THROW(ReadScript(path), std::runtime_error);
}

// ---------------------------------------------------------------------------
// The transport side, with the double playing Velantro's window

constexpr FakeWindowMessages::WindowHandle Program = 0x2002;

/// Passes everything to the double, keeps the lParam of every send (which
/// the double records only for copy-data) and, while told to, holds the
/// results of sends back until the test releases them: a window that takes
/// its time.
class HeldResults : public velantro::platform::WindowMessages {
public:
    explicit HeldResults(FakeWindowMessages& inner)
        : Inner(inner) {}

    std::vector<std::intptr_t> LParams;
    bool Holding = false;

    /// Sends whose result has not come yet.
    std::size_t Unanswered() const { return Held.size() + Outstanding; }

    /// Lets the oldest held result come, on the loop's next turn.
    void ReleaseOne() {
        ASSERT_FALSE(Held.empty());
        auto [done, result] = std::move(Held.front());
        Held.erase(Held.begin());
        Inner.RunLater([done = std::move(done), result] { done(result); });
    }

    std::uint32_t RegisterMessageName(const std::string& name) override {
        return Inner.RegisterMessageName(name);
    }
    std::intptr_t Broadcast(std::uint32_t msg, std::uintptr_t wParam,
                            std::intptr_t lParam) override {
        return Inner.Broadcast(msg, wParam, lParam);
    }
    void SendToWindow(velantro::platform::WindowHandle window, std::uint32_t msg,
                      std::uintptr_t wParam, std::intptr_t lParam,
                      velantro::platform::SendDone done) override {
        LParams.push_back(lParam);
        ++Outstanding;
        Inner.SendToWindow(window, msg, wParam, lParam, [this, done](std::intptr_t result) {
            --Outstanding;
            if (Holding) {
                Held.emplace_back(done, result);
            } else {
                done(result);
            }
        });
    }
    void RunAfter(std::chrono::milliseconds delay, std::function<void()> work) override {
        Inner.RunAfter(delay, std::move(work));
    }
    velantro::platform::WindowHandle ApplicationWindow() override {
        return Inner.ApplicationWindow();
    }
    void HookMainWindow(velantro::platform::WindowHook hook) override {
        Inner.HookMainWindow(std::move(hook));
    }
    void UnhookMainWindow() override { Inner.UnhookMainWindow(); }

private:
    FakeWindowMessages& Inner;
    std::vector<std::pair<velantro::platform::SendDone, std::intptr_t>> Held;
    std::size_t Outstanding = 0;
};

class PeerOverWindows : public ::testing::Test {
protected:
    FakeWindowMessages Windows;
    HeldResults Spy{Windows};
    ChatClient Client = MakeClient();
    SkypePeer Peer{Spy, Client};
    std::vector<std::string> Commands;
    std::vector<std::string> Handshakes;
    std::vector<std::string> Problems;

    void SetUp() override {
        Peer.OnCommand = [this](auto, std::string_view line, auto) {
            Commands.emplace_back(line);
        };
        Peer.OnHandshake = [this](auto program) {
            Handshakes.push_back(std::to_string(program) + " after " +
                                 std::to_string(Windows.Sends.size()) + " sends");
        };
        Peer.OnProblem = [this](const std::string& line) {
            Problems.push_back(line);
        };
    }

    std::uint32_t Attach() const { return Windows.IdOf("SkypeControlAPIAttach"); }
    std::uint32_t Discover() const { return Windows.IdOf("SkypeControlAPIDiscover"); }

    void AttachProgram() {
        Windows.Deliver({Discover(), Program, 0, 0});
        Windows.RunPending();
        Windows.Sends.clear();
    }

    /// Releases the held results one at a time, turning the loop after each,
    /// and checks that no second send to the program went out meanwhile.
    void ReleaseAll() {
        while (Spy.Unanswered() > 0) {
            ASSERT_EQ(Spy.Unanswered(), 1u) << "more than one send under way";
            Spy.ReleaseOne();
            Windows.RunPending();
        }
    }

    /// A copy-data line as the double records a send of it.
    FakeWindowMessages::SendRecord LineTo(std::string line) const {
        const auto size = static_cast<std::uint32_t>(line.size() + 1);
        return {Program, velantro::platform::CopyDataMessage, Windows.AppWindow, 0,
                size,    line + std::string(1, '\0')};
    }
};

TEST_F(PeerOverWindows, AnswersDiscoveryWithPendingThenSuccessOnceTheBroadcastIsOver) {
    std::vector<bool> attachedWhenSent;
    Windows.Answer = [&](const FakeWindowMessages::SendRecord&) {
        attachedWhenSent.push_back(!Peer.AttachedPrograms().empty());
        return std::vector<std::string>{};
    };
    EXPECT_EQ(Windows.Deliver({Discover(), Program, 0, 0}),
              (FakeWindowMessages::Delivery{true, 1}));
    EXPECT_THAT(Windows.Sends, IsEmpty()) << "nothing is sent during the broadcast";

    Windows.RunPending();
    const FakeWindowMessages::SendRecord status{Program, Attach(), Windows.AppWindow, 0, 0, {}};
    EXPECT_THAT(Windows.Sends, ElementsAre(status, status));
    EXPECT_THAT(Spy.LParams, ElementsAre(1, 0)) << "pending, then success";
    EXPECT_THAT(attachedWhenSent, ElementsAre(false, true))
        << "the program counts as attached before the success message reaches it";
    EXPECT_THAT(Peer.AttachedPrograms(), ElementsAre(Program));

    // Its own broadcast, or one without a sender, is not answered.
    Windows.Deliver({Discover(), Windows.AppWindow, 0, 0});
    Windows.Deliver({Discover(), 0, 0, 0});
    EXPECT_EQ(Windows.QueuedWork(), 0u);
}

TEST_F(PeerOverWindows, AnswersCommandsOfAttachedProgramsOnlyAndNeverInsideTheirSend) {
    EXPECT_EQ(Windows.DeliverLine(Program, "NAME early"), (FakeWindowMessages::Delivery{false, 0}));
    Windows.RunPending();
    EXPECT_THAT(Windows.Sends, IsEmpty());

    AttachProgram();
    EXPECT_EQ(Windows.DeliverLine(Program, "NAME Velantro"),
              (FakeWindowMessages::Delivery{true, 1}));
    EXPECT_EQ(Windows.DeliverLine(Program, "PROTOCOL 4"), (FakeWindowMessages::Delivery{true, 1}));
    EXPECT_THAT(Windows.Sends, IsEmpty()) << "answered from the loop, not inside the send";
    Windows.RunPending();
    EXPECT_THAT(Windows.Sends,
                ElementsAre(LineTo("OK"), LineTo("PROTOCOL 4"), LineTo("CURRENTUSERHANDLE me")));
    EXPECT_THAT(Handshakes, ElementsAre("8194 after 1 sends"));
    EXPECT_THAT(Commands, ElementsAre("NAME early", "NAME Velantro", "PROTOCOL 4"))
        << "every line received is reported, accepted or not";
}

TEST_F(PeerOverWindows, ReadsABlockUpToItsFirstNulAndNeverPastCbData) {
    AttachProgram();
    const std::string bytes("PING\0tail", 9);
    Windows.DeliverBlock(Program, bytes, 9);
    Windows.DeliverBlock(Program, "PINGPONG", 4);
    Windows.DeliverBlock(Program, "PING", 0);
    Windows.RunPending();
    EXPECT_THAT(Commands, ElementsAre("PING", "PING", ""));
    EXPECT_THAT(Windows.Sends,
                ElementsAre(LineTo("PONG"), LineTo("PONG"), LineTo("ERROR 1 Unknown command")));
}

TEST_F(PeerOverWindows, MessagesWaitForAProgramToAskAndTheEchoComesAfterTheAnswer) {
    Peer.PlayIncoming({"alice", "early bird"});
    Windows.RunPending();
    EXPECT_THAT(Windows.Sends, IsEmpty());

    // Not announced at the handshake: listed when the program asks.
    AttachProgram();
    Windows.DeliverLine(Program, "PROTOCOL 4");
    Windows.DeliverLine(Program, "SEARCH MISSEDCHATMESSAGES");
    Windows.RunPending();
    EXPECT_THAT(Windows.Sends, ElementsAre(LineTo("PROTOCOL 4"), LineTo("CURRENTUSERHANDLE me"),
                                           LineTo("CHATMESSAGES 1")));

    Windows.Sends.clear();
    Windows.DeliverLine(Program, "MESSAGE echo again");
    Windows.RunPending();
    EXPECT_THAT(Windows.Sends, ElementsAre(LineTo("CHATMESSAGE 2 STATUS SENDING"),
                                           LineTo("CHATMESSAGE 2 STATUS SENT"),
                                           LineTo("CHATMESSAGE 3 STATUS RECEIVED")));
    Windows.DeliverLine(Program, "GET CHATMESSAGE 3 BODY");
    Windows.RunPending();
    EXPECT_EQ(Windows.Sends.back(), LineTo("CHATMESSAGE 3 BODY again"));
}

TEST_F(PeerOverWindows, AMessageIsMissedUntilAProgramTakesItsNotification) {
    // Missed when it came before any program, until it is marked seen.
    Peer.PlayIncoming({"alice", "before"});
    AttachProgram();
    Windows.DeliverLine(Program, "PROTOCOL 4");
    Windows.RunPending();
    EXPECT_EQ(Windows.SentLines().back(), "CURRENTUSERHANDLE me");
    EXPECT_EQ(Client.MissedCount(), 1u);
    Windows.DeliverLine(Program, "SET CHATMESSAGE 1 SEEN");
    Windows.RunPending();
    EXPECT_EQ(Client.MissedCount(), 0u);

    // A program that is gone (or refuses): the notification is not taken.
    Windows.SendResult = 0;
    Peer.PlayIncoming({"bob", "while it was away"});
    Peer.PlayOwn({"bob", "from my phone", 1600000000});
    Windows.RunPending();
    EXPECT_EQ(Client.MissedCount(), 1u);
    Windows.SendResult = 1;
    Windows.Sends.clear();
    for (const char* command :
         {"SEARCH MISSEDCHATMESSAGES", "GET CHATMESSAGE 3 STATUS", "GET CHATMESSAGE 3 FROM_HANDLE",
          "GET CHATMESSAGE 3 USERS", "GET CHATMESSAGE 3 TIMESTAMP", "SET CHATMESSAGE 2 SEEN",
          "SEARCH MISSEDCHATMESSAGES"}) {
        Windows.DeliverLine(Program, command);
    }
    Windows.RunPending();
    EXPECT_THAT(Windows.SentLines(),
                ElementsAre("CHATMESSAGES 2", "CHATMESSAGE 3 STATUS SENT",
                            "CHATMESSAGE 3 FROM_HANDLE me", "CHATMESSAGE 3 USERS bob",
                            "CHATMESSAGE 3 TIMESTAMP 1600000000", "CHATMESSAGE 2 STATUS READ",
                            "CHATMESSAGES"));
    // Offered once already: a new handshake does not announce it again.
    Windows.SendResult = 0;
    Peer.PlayIncoming({"bob", "unseen"});
    Windows.RunPending();
    Windows.SendResult = 1;
    EXPECT_EQ(Client.MissedCount(), 1u);
    Windows.Sends.clear();
    Windows.DeliverLine(Program, "PROTOCOL 4");
    Windows.RunPending();
    EXPECT_THAT(Windows.SentLines(), ElementsAre("PROTOCOL 4", "CURRENTUSERHANDLE me"));
}

TEST_F(PeerOverWindows, ACommandTheProgramSendsWhileTakingAnAnswerIsAnsweredInTurn) {
    AttachProgram();
    // The program asks again while the first answer is reaching it.
    Windows.Answer = [&](const FakeWindowMessages::SendRecord& send) {
        return send.Line() == "PONG" ? std::vector<std::string>{"GET CURRENTUSERHANDLE"}
                                     : std::vector<std::string>{};
    };
    Windows.DeliverLine(Program, "PING");
    Windows.RunPending();
    EXPECT_THAT(Windows.SentLines(), ElementsAre("PONG", "CURRENTUSERHANDLE me"));
    EXPECT_THAT(Commands, ElementsAre("PING", "GET CURRENTUSERHANDLE"));
}

TEST_F(PeerOverWindows, ABurstWhileAnAnswerIsUnderWayGoesOutAfterItInOrderOneSendAtATime) {
    AttachProgram();
    Spy.Holding = true;
    Windows.DeliverLine(Program, "PROTOCOL 4");
    Windows.RunPending();
    ASSERT_THAT(Windows.SentLines(), ElementsAre("PROTOCOL 4"));

    // While the program has not yet taken the first line: the network's
    // burst, a line played as it is, and another command.
    std::vector<std::string> expected = {"PROTOCOL 4", "CURRENTUSERHANDLE me"};
    for (int i = 0; i < 20; ++i) {
        Peer.PlayIncoming({"alice", "burst " + std::to_string(i)});
        expected.push_back("CHATMESSAGE " + std::to_string(i + 1) + " STATUS RECEIVED");
    }
    Peer.SendToAll("USERSTATUS ONLINE");
    expected.emplace_back("USERSTATUS ONLINE");
    EXPECT_EQ(Windows.DeliverLine(Program, "PING"), (FakeWindowMessages::Delivery{true, 1}));
    expected.emplace_back("PONG");
    Windows.RunPending();
    EXPECT_THAT(Windows.SentLines(), ElementsAre("PROTOCOL 4")) << "one send at a time";
    EXPECT_EQ(Peer.QueuedFor(Program), expected.size() - 1);
    EXPECT_FALSE(Peer.Busy());

    ReleaseAll();
    EXPECT_EQ(Windows.SentLines(), expected);
    EXPECT_EQ(Peer.QueuedFor(Program), 0u);
}

TEST_F(PeerOverWindows, CommandsArrivingWhileLinesAreQueuedAreTakenAtOnceAndAnsweredInTurn) {
    AttachProgram();
    Windows.DeliverLine(Program, "PROTOCOL 4");
    Windows.RunPending();
    Windows.Sends.clear();
    Spy.Holding = true;
    for (const char* body : {"one", "two", "three"}) {
        Peer.PlayIncoming({"bob", body});
    }
    // The program asks for the messages' texts while their notifications are
    // still on their way to it; every command is taken at once.
    const std::vector<std::string> commands = {"GET CHATMESSAGE 2 BODY", "PING",
                                               "GET CHATMESSAGE 1 FROM_HANDLE", "NOSUCH"};
    for (const std::string& command : commands) {
        EXPECT_EQ(Windows.DeliverLine(Program, command), (FakeWindowMessages::Delivery{true, 1}))
            << command;
    }
    Windows.RunPending();
    ReleaseAll();
    EXPECT_THAT(Windows.SentLines(),
                ElementsAre("CHATMESSAGE 1 STATUS RECEIVED", "CHATMESSAGE 2 STATUS RECEIVED",
                            "CHATMESSAGE 3 STATUS RECEIVED", "CHATMESSAGE 2 BODY two", "PONG",
                            "CHATMESSAGE 1 FROM_HANDLE bob", "ERROR 1 Unknown command"));
    EXPECT_THAT(Problems, IsEmpty());
}

TEST_F(PeerOverWindows, EveryQueueStopsAtItsLimitAndSaysWhatItDropped) {
    // Messages waiting for a program to attach: the oldest is forgotten.
    for (std::size_t i = 0; i <= ChatClient::MaxMissed; ++i) {
        Peer.PlayIncoming({"alice", "waiting " + std::to_string(i)});
    }
    ASSERT_EQ(Problems.size(), 1u);
    EXPECT_THAT(Problems[0], HasSubstr("no longer missed: 1 from alice: waiting 0"));
    EXPECT_EQ(Client.MissedCount(), ChatClient::MaxMissed);

    // Lines to a program that does not take them: one is under way, the
    // rest wait, up to the limit.
    AttachProgram();
    Spy.Holding = true;
    Windows.DeliverLine(Program, "PROTOCOL 4");
    Windows.RunPending();
    ASSERT_EQ(Windows.Sends.size(), 1u);
    for (std::size_t i = Peer.QueuedFor(Program); i < SkypePeer::MaxQueuedPerProgram; ++i) {
        Peer.SendToAll("raw " + std::to_string(i));
    }
    EXPECT_EQ(Peer.QueuedFor(Program), SkypePeer::MaxQueuedPerProgram);
    EXPECT_TRUE(Peer.Busy()) << "the console and the script hold back";
    EXPECT_EQ(Problems.size(), 1u);
    Peer.SendToAll("raw one too many");
    EXPECT_EQ(Problems.size(), 2u);
    EXPECT_THAT(Problems.back(), HasSubstr("dropped raw one too many"));

    // Commands waiting to be handled: taken up to the limit, then refused.
    for (std::size_t i = 0; i < SkypePeer::MaxWaitingCommands; ++i) {
        Windows.DeliverLine(Program, "PING");
    }
    EXPECT_EQ(Peer.WaitingCommands(), SkypePeer::MaxWaitingCommands);
    EXPECT_EQ(Windows.DeliverLine(Program, "PING"), (FakeWindowMessages::Delivery{false, 0}));
    EXPECT_THAT(Problems.back(), HasSubstr("refused from window 8194: PING"));
    Windows.RunPending();
    EXPECT_EQ(Peer.WaitingCommands(), 0u);
    EXPECT_EQ(Peer.QueuedFor(Program), SkypePeer::MaxQueuedPerProgram);
}

TEST_F(PeerOverWindows, WorkAndResultsForAPeerThatIsGoneDoNothing) {
    auto peer = std::make_unique<SkypePeer>(Spy, Client); // hooks the window in the fixture's place
    Windows.Deliver({Discover(), Program, 0, 0});
    Windows.RunPending();
    Windows.Sends.clear();
    Windows.DeliverLine(Program, "PING");
    peer->PlayIncoming({"alice", "hi"});
    peer.reset();
    EXPECT_FALSE(Windows.IsHooked());
    Windows.RunPending();
    EXPECT_THAT(Windows.SentLines(), ElementsAre("CHATMESSAGE 1 STATUS RECEIVED"))
        << "the command taken before the end is never answered";
}

} // namespace
