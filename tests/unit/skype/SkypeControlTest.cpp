// The component's transport and commands, against a window-message service
// that plays the chat client and the event loop in-process: nothing the
// client sends is handled before the loop turns (Turn), and commands wait for
// their answers in turn.

#include "skype/SkypeControl.h"

#include "doubles/FakeWindowMessages.h"
#include "skype/SkypeValueNames.h"

#include <algorithm>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <numeric>
#include <optional>

namespace velantro::skype {
namespace {

using namespace std::string_literals;
using doubles::FakeWindowMessages;
using platform::CopyDataMessage;
using platform::WindowHandle;
using Delivery = FakeWindowMessages::Delivery;
using SendRecord = FakeWindowMessages::SendRecord;
using Trace = std::vector<std::string>;

constexpr WindowHandle ClientWindow = 0x2002;
constexpr WindowHandle OtherWindow = 0x3003;
constexpr std::intptr_t Untouched = 77;
constexpr Delivery HandledWith1{true, 1};
constexpr Delivery PassedOn{false, Untouched};

/// Appends every event the tests look at to trace, in the order they fire.
void TraceEvents(TSkypeControl& control, Trace& trace) {
    auto sender = [&trace](std::string name) {
        return [&trace, name](TSkypeControl&) {
            trace.push_back(name);
        };
    };
    control.OnAttachSuccess = sender("OnAttachSuccess");
    control.OnAttachPending = sender("OnAttachPending");
    control.OnAttachRefused = sender("OnAttachRefused");
    control.OnAPINotAvailable = sender("OnAPINotAvailable");
    control.OnAPIAvailable = sender("OnAPIAvailable");
    control.OnPong = sender("OnPong");
    control.OnCopyData = [&trace](std::string raw) {
        trace.push_back("OnCopyData " + raw);
    };
    control.OnProtocol = [&trace](std::int32_t n) {
        trace.push_back("OnProtocol " + std::to_string(n));
    };
    control.OnNotSupportedError = [&trace](std::string text) {
        trace.push_back("OnNotSupportedError " + text);
    };
    control.OnChatMsgInfo = [&trace](std::int32_t id, TSkypeChatMsgProperty property,
                                     std::string data) {
        trace.push_back("OnChatMsgInfo " + std::to_string(id) + " " +
                        std::string(ValueName(property)) + " " + data);
    };
    control.OnSearchResult = [&trace](TSkypeSearchType type, TStringList list) {
        std::string text = "OnSearchResult " + std::string(ValueName(type));
        for (const auto& item : list) {
            text += " " + item;
        }
        trace.push_back(text);
    };
}

/// How one command ended.
struct Ended {
    std::string Command;
    TCommandResult Result;
    std::string Answer;
    bool operator==(const Ended&) const = default;
};

std::ostream& operator<<(std::ostream& out, TCommandResult result) {
    static const char* const Names[] = {"Answered", "Refused", "Unanswered",  "NotAccepted",
                                        "Dropped",  "TooLong", "NotSupported"};
    return out << Names[static_cast<int>(result)];
}

std::ostream& operator<<(std::ostream& out, const Ended& e) {
    return out << "{" << e.Command << ": " << e.Result << " \"" << e.Answer << "\"}";
}

class SkypeControlTest : public ::testing::Test {
protected:
    SkypeControlTest() {
        Fake.Answer = [this](const SendRecord& send) {
            Events.push_back("sent " + send.Line());
            const auto found = Replies.find(send.Line());
            return found == Replies.end() ? Trace{} : found->second;
        };
        Control = std::make_unique<TSkypeControl>(&Fake);
        TraceEvents(*Control, Events);
    }

    /// Attaches with protocol to window, lets the handshake run out, then
    /// forgets what that took.
    void AttachTo(WindowHandle window, std::int32_t protocol = 4) {
        Control->Attach(protocol);
        ASSERT_EQ(Fake.DeliverAttachStatus(window, 0), HandledWith1);
        Fake.Advance(TSkypeControl::AnswerTimeout * 3);
        ASSERT_FALSE(Control->CommandUnderWay());
        Events.clear();
        Fake.Sends.clear();
        Fake.Broadcasts.clear();
    }

    /// One turn of the event loop: everything due now runs.
    void Turn() { Fake.RunPending(); }

    /// Sends command and records how it ended in Outcomes, under its line.
    void Send(const std::string& command, TAnswerTest isAnswer = {}) {
        Control->SendCommand(command, std::move(isAnswer),
                             [this, command](const TCommandOutcome& o) {
                                 Outcomes.push_back({command, o.Result, o.AnswerLine});
                             });
    }

    FakeWindowMessages Fake;
    std::unique_ptr<TSkypeControl> Control;
    /// Lines sent ("sent ...") and events fired, in order.
    Trace Events;
    /// The client's answer lines to a command line, delivered during its send.
    std::map<std::string, Trace> Replies;
    std::vector<Ended> Outcomes;
};

TEST(SkypeControlCreation, RegistersAttachThenDiscoverAndHooksUntilDestroyed) {
    FakeWindowMessages fake;
    {
        TSkypeControl control(&fake);
        ASSERT_EQ(fake.Registrations.size(), 2U);
        EXPECT_EQ(fake.Registrations[0].first, "SkypeControlAPIAttach");
        EXPECT_EQ(fake.Registrations[1].first, "SkypeControlAPIDiscover");
        EXPECT_EQ(control.AttachMessageId(), fake.Registrations[0].second);
        EXPECT_EQ(control.DiscoverMessageId(), fake.Registrations[1].second);
        EXPECT_TRUE(control.IsHooked());
        EXPECT_TRUE(fake.IsHooked());
        EXPECT_FALSE(control.IsAttached());
        EXPECT_EQ(control.SkypeWindowHandle(), 0U);
        EXPECT_EQ(control.Protocol, -1);
        EXPECT_FALSE(control.AutoReAttach);
        EXPECT_FALSE(control.IdentName.empty());
    }
    EXPECT_FALSE(fake.IsHooked());
    EXPECT_EQ(fake.UnhookCount, 1);
}

TEST(SkypeControlCreation, FailedRegistrationLeavesAnInertComponent) {
    const std::vector<std::set<std::string>> failures = {
        {"SkypeControlAPIAttach"},
        {"SkypeControlAPIDiscover"},
        {"SkypeControlAPIAttach", "SkypeControlAPIDiscover"},
    };
    for (const auto& failing : failures) {
        SCOPED_TRACE(*failing.begin() + (failing.size() > 1 ? " and more" : ""));
        FakeWindowMessages fake;
        fake.FailingNames = failing;
        {
            TSkypeControl control(&fake);
            EXPECT_EQ(fake.Registrations.size(), 2U);
            EXPECT_FALSE(control.IsHooked());
            EXPECT_EQ(fake.HookCount, 0);
            EXPECT_EQ(control.Attach(4), 0);
            EXPECT_EQ(control.Protocol, 4);
            EXPECT_TRUE(fake.Broadcasts.empty());
            std::optional<TCommandResult> result;
            control.SendCommand("SEARCH FRIENDS ", {},
                                [&](const TCommandOutcome& o) { result = o.Result; });
            fake.RunPending();
            EXPECT_EQ(result, TCommandResult::Dropped);
            EXPECT_TRUE(fake.Sends.empty());
        }
        EXPECT_EQ(fake.UnhookCount, 0);
    }
}

TEST(SkypeControlCreation, WithoutServiceOnlyTheParserWorks) {
    TSkypeControl control;
    Trace events;
    TraceEvents(control, events);
    EXPECT_FALSE(control.IsHooked());
    EXPECT_EQ(control.Attach(4), 0);
    // Message id 0 is not the attach message of an unregistered component.
    platform::WindowMessage status{0, ClientWindow, 0, Untouched};
    EXPECT_FALSE(control.AppWindowHook(status));
    EXPECT_FALSE(control.IsAttached());
    control.SendCommand("PING");
    control.DispatchNotification("PROTOCOL", "3");
    EXPECT_EQ(control.Protocol, 3);
    EXPECT_EQ(events, Trace{"OnProtocol 3"});
}

TEST_F(SkypeControlTest, AttachBroadcastsDiscoverWithTheApplicationWindow) {
    Fake.BroadcastResult = 5;
    EXPECT_EQ(Control->Attach(2), 5);
    EXPECT_EQ(Control->Protocol, 2);
    ASSERT_EQ(Fake.Broadcasts.size(), 1U);
    EXPECT_EQ(Fake.Broadcasts[0], (FakeWindowMessages::BroadcastRecord{Control->DiscoverMessageId(),
                                                                       Fake.AppWindow, 0}));
}

TEST_F(SkypeControlTest, SuccessIsTakenAtOnceAndHandledFromTheLoopHandshakeFirst) {
    struct Case {
        std::string IdentName;
        std::int32_t Protocol;
        std::string NameBytes;
        std::string ProtocolBytes;
    };
    const Case cases[] = {
        {"Velantro", 4, "NAME Velantro\0"s, "PROTOCOL 4\0"s},
        {"", -12, "NAME \0"s, "PROTOCOL -12\0"s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.NameBytes);
        Events.clear();
        Fake.Sends.clear();
        Control->IdentName = c.IdentName;
        Control->Attach(c.Protocol);
        EXPECT_EQ(Fake.DeliverAttachStatus(ClientWindow, 0), HandledWith1);
        // The window and the attachment are known at once; nothing else yet.
        EXPECT_TRUE(Control->IsAttached());
        EXPECT_EQ(Control->SkypeWindowHandle(), ClientWindow);
        EXPECT_TRUE(Events.empty());
        Turn();
        // One command at a time: PROTOCOL waits for NAME's answer or its time.
        EXPECT_EQ(Events, (Trace{"sent " + c.NameBytes.substr(0, c.NameBytes.size() - 1),
                                 "OnAttachSuccess"}));
        Fake.Advance(TSkypeControl::AnswerTimeout);
        auto record = [&](const std::string& bytes) {
            return SendRecord{ClientWindow,
                              CopyDataMessage,
                              Fake.AppWindow,
                              0,
                              static_cast<std::uint32_t>(bytes.size()),
                              bytes};
        };
        EXPECT_THAT(Fake.Sends,
                    ::testing::ElementsAre(record(c.NameBytes), record(c.ProtocolBytes)));
        Fake.Advance(TSkypeControl::AnswerTimeout);
    }
}

TEST_F(SkypeControlTest, ClientPlaysDiscoveryAndAnswersTheHandshakeInTurn) {
    Fake.OnBroadcast = [this](const FakeWindowMessages::BroadcastRecord&) {
        Fake.DeliverAttachStatus(ClientWindow, 1);
        Fake.DeliverAttachStatus(ClientWindow, 0);
    };
    Replies["NAME Velantro"] = {"OK"};
    Replies["PROTOCOL 4"] = {"PROTOCOL 3", "CURRENTUSERHANDLE me"};
    Control->IdentName = "Velantro";
    Control->Attach(4);
    EXPECT_TRUE(Events.empty());
    Turn();
    // The answer ends its command as it arrives: the next goes out before
    // the answer's own line has its turn.
    EXPECT_EQ(Events, (Trace{"OnAttachPending", "sent NAME Velantro", "OnAttachSuccess",
                             "sent PROTOCOL 4", "OnCopyData OK", "OnCopyData PROTOCOL 3",
                             "OnProtocol 3", "OnCopyData CURRENTUSERHANDLE me"}));
    EXPECT_EQ(Control->Protocol, 3);
    EXPECT_FALSE(Control->CommandUnderWay());
}

TEST_F(SkypeControlTest, ACommandSentFromAnEventGoesOutAfterItAndItsAnswerFiresLater) {
    AttachTo(ClientWindow);
    Replies["GET CHATMESSAGE 1234 FROM_HANDLE"] = {"CHATMESSAGE 1234 FROM_HANDLE alice"};
    auto traced = Control->OnChatMsgInfo;
    Control->OnChatMsgInfo = [&](std::int32_t id, TSkypeChatMsgProperty property,
                                 std::string data) {
        traced(id, property, data);
        if (property == cmStatus) {
            Control->GetChatMsgProperty(id, cmFromHandle, [this](const TCommandOutcome& o) {
                Events.push_back("answered " + o.AnswerLine);
            });
            Events.push_back("returned");
        }
    };
    EXPECT_EQ(Fake.DeliverLine(ClientWindow, "CHATMESSAGE 1234 STATUS RECEIVED"), HandledWith1);
    EXPECT_TRUE(Events.empty());
    Turn();
    // The command's owner learns of its answer before the answer's event fires.
    EXPECT_EQ(Events, (Trace{"OnCopyData CHATMESSAGE 1234 STATUS RECEIVED",
                             "OnChatMsgInfo 1234 cmStatus RECEIVED",
                             "sent GET CHATMESSAGE 1234 FROM_HANDLE", "returned",
                             "answered CHATMESSAGE 1234 FROM_HANDLE alice",
                             "OnCopyData CHATMESSAGE 1234 FROM_HANDLE alice",
                             "OnChatMsgInfo 1234 cmFromHandle alice"}));
}

TEST_F(SkypeControlTest, EachCommandEndsByItsOwnAnswerErrorOrTimeAndOnlyThenTheNextGoes) {
    const auto word = [](std::string expected) {
        return [expected](std::string_view first, std::string_view) {
            return first == expected;
        };
    };
    struct Case {
        const char* Name;
        Trace ClientLines; // delivered after the first command went out
        std::intptr_t WindowResult;
        std::vector<Ended> Expected;
    };
    const Case cases[] = {
        {"its answer", {"PONG"}, 1, {{"PING", TCommandResult::Answered, "PONG"}}},
        {"an error",
         {"ERROR 7 Invalid", "PONG"},
         1,
         {{"PING", TCommandResult::Refused, "ERROR 7 Invalid"}}},
        {"a notification is no answer",
         {"USERSTATUS ONLINE"},
         1,
         {{"PING", TCommandResult::Unanswered, ""}}},
        {"nothing", {}, 1, {{"PING", TCommandResult::Unanswered, ""}}},
        {"the window did not take it", {}, 0, {{"PING", TCommandResult::NotAccepted, ""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        AttachTo(ClientWindow);
        Outcomes.clear();
        Fake.SendResult = c.WindowResult;
        Send("PING", word("PONG"));
        Send("SEARCH FRIENDS ", word("USERS"));
        EXPECT_EQ(Fake.SentLines(), Trace{"PING"});
        for (const std::string& line : c.ClientLines) {
            Fake.DeliverLine(ClientWindow, line);
        }
        Turn();
        if (Outcomes.empty()) {
            EXPECT_EQ(Fake.SentLines(), Trace{"PING"});
            Fake.Advance(TSkypeControl::AnswerTimeout);
        }
        ASSERT_FALSE(Outcomes.empty());
        EXPECT_EQ(Outcomes.front(), c.Expected.front());
        // Only now the second.
        EXPECT_EQ(Fake.SentLines(), (Trace{"PING", "SEARCH FRIENDS "}));
        Fake.SendResult = 1;
        Fake.DeliverLine(ClientWindow, "USERS a, b");
        Turn();
        ASSERT_EQ(Outcomes.size(), 2U);
        EXPECT_EQ(Outcomes[1].Result,
                  c.WindowResult == 0 ? TCommandResult::NotAccepted : TCommandResult::Answered);
        Fake.Advance(TSkypeControl::AnswerTimeout);
    }
}

TEST_F(SkypeControlTest, ALineThatCameBeforeTheCommandWentOutIsNotItsAnswer) {
    AttachTo(ClientWindow);
    // Both wait in the queue when the command goes out from the first one's event.
    Fake.DeliverLine(ClientWindow, "CHATMESSAGE 5 STATUS RECEIVED");
    Fake.DeliverLine(ClientWindow, "ERROR 9 about something else");
    bool asked = false;
    Control->OnChatMsgInfo = [&](std::int32_t id, TSkypeChatMsgProperty property, std::string) {
        if (property == cmStatus && !asked) {
            asked = true;
            Control->GetChatMsgProperty(id, cmBody, [this](const TCommandOutcome& o) {
                Outcomes.push_back({"GET", o.Result, o.AnswerLine});
            });
        }
    };
    Turn();
    EXPECT_TRUE(Outcomes.empty());
    Fake.DeliverLine(ClientWindow, "CHATMESSAGE 5 BODY hi");
    Turn();
    EXPECT_EQ(Outcomes,
              (std::vector<Ended>{{"GET", TCommandResult::Answered, "CHATMESSAGE 5 BODY hi"}}));
}

TEST_F(SkypeControlTest, AnswersAreToldApartByWhatTheyAre) {
    AttachTo(ClientWindow);
    struct Case {
        std::function<void(TSkypeControl&, TCommandDone)> Command;
        std::string Line;
        bool Answers;
    };
    const auto get = [](std::int32_t id, TSkypeChatMsgProperty property) {
        return [=](TSkypeControl& c, TCommandDone done) {
            c.GetChatMsgProperty(id, property, std::move(done));
        };
    };
    const auto message = [](TSkypeControl& c, TCommandDone done) {
        c.SendMessageTo("bob", "hi", std::move(done));
    };
    const auto search = [](TSkypeControl& c, TCommandDone done) {
        c.Search(stFriends, "", std::move(done));
    };
    const auto missed = [](TSkypeControl& c, TCommandDone done) {
        c.Search(stMissedChatMsgs, "", std::move(done));
    };
    const auto seen = [](TSkypeControl& c, TCommandDone done) {
        c.SetChatMsgSeen(7, std::move(done));
    };
    const Case cases[] = {
        {get(7, cmBody), "CHATMESSAGE 7 BODY x", true},
        {get(7, cmBody), "CHATMESSAGE 7 BODY ", true},
        {get(7, cmBody), "CHATMESSAGE 8 BODY x", false},
        {get(7, cmBody), "CHATMESSAGE 7 FROM_HANDLE x", false},
        {get(7, cmBody), "CHATMESSAGE 70 BODY x", false},
        {message, "CHATMESSAGE 12 STATUS SENDING", true},
        {message, "CHATMESSAGE 12 STATUS SENT", true},
        {message, "MESSAGE 12 STATUS SENDING", true},
        {message, "CHATMESSAGE 12 STATUS RECEIVED", false},
        {message, "CHATMESSAGE 12 BODY x", false},
        {search, "USERS a, b", true},
        {search, "FRIENDS a", true},
        // A client announces its friends when they change, also while
        // another search is under way.
        {search, "CHATMESSAGES 1, 2", false},
        {missed, "CHATMESSAGES 1, 2", true},
        {missed, "CHATMESSAGES", true},
        {missed, "USERS a, b", false},
        {seen, "CHATMESSAGE 7 STATUS READ", true},
        {seen, "CHATMESSAGE 7 BODY x", false},
        {seen, "CHATMESSAGE 17 STATUS READ", false},
        {search, "USER a ONLINESTATUS ONLINE", false},
        {search, "ERROR 4 nope", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Line);
        bool ended = false;
        c.Command(*Control, [&](const TCommandOutcome& o) {
            ended = o.Result == TCommandResult::Answered || o.Result == TCommandResult::Refused;
        });
        Turn();
        Fake.DeliverLine(ClientWindow, c.Line);
        Turn();
        EXPECT_EQ(ended, c.Answers);
        Fake.Advance(TSkypeControl::AnswerTimeout);
    }
}

TEST_F(SkypeControlTest, StatusesAfterSuccessOnlyFireTheirEvent) {
    AttachTo(ClientWindow);
    const std::pair<std::intptr_t, std::string> cases[] = {
        {1, "OnAttachPending"}, {2, "OnAttachRefused"}, {3, "OnAPINotAvailable"}};
    for (const auto& [status, event] : cases) {
        SCOPED_TRACE(event);
        Events.clear();
        EXPECT_EQ(Fake.DeliverAttachStatus(OtherWindow, status), HandledWith1);
        Turn();
        EXPECT_EQ(Events, Trace{event});
        EXPECT_TRUE(Control->IsAttached());
        EXPECT_EQ(Control->SkypeWindowHandle(), ClientWindow);
    }
    EXPECT_TRUE(Fake.Sends.empty());
    Control->SendCommand("PING");
    EXPECT_EQ(Fake.Sends.at(0).Window, ClientWindow);
}

TEST_F(SkypeControlTest, FurtherSuccessReplacesTheWindowAndRepeatsTheHandshake) {
    AttachTo(ClientWindow);
    Control->IdentName = "Velantro";
    EXPECT_EQ(Fake.DeliverAttachStatus(OtherWindow, 0), HandledWith1);
    EXPECT_EQ(Control->SkypeWindowHandle(), OtherWindow);
    Fake.Advance(TSkypeControl::AnswerTimeout * 2);
    EXPECT_EQ(Fake.SentLines(), (Trace{"NAME Velantro", "PROTOCOL 4"}));
    EXPECT_EQ(Fake.Sends.at(0).Window, OtherWindow);
}

TEST_F(SkypeControlTest, UnlistedStatusesAreLeftUnhandledWithResultUntouched) {
    for (const std::intptr_t status : {-1, 4, 5, 32768, 32770, 65536}) {
        SCOPED_TRACE(status);
        EXPECT_EQ(Fake.DeliverAttachStatus(ClientWindow, status, Untouched), PassedOn);
    }
    Turn();
    EXPECT_TRUE(Events.empty());
    EXPECT_FALSE(Control->IsAttached());
    EXPECT_EQ(Control->SkypeWindowHandle(), 0U);
}

TEST_F(SkypeControlTest, ApiAvailableReAttachesWithProtocol4BeforeTheEventOnlyWhenAsked) {
    for (const bool autoReAttach : {true, false}) {
        SCOPED_TRACE(autoReAttach);
        Control->Attach(2);
        Fake.Broadcasts.clear();
        Control->AutoReAttach = autoReAttach;
        std::optional<std::pair<std::size_t, std::int32_t>> atEvent;
        Control->OnAPIAvailable = [&](TSkypeControl&) {
            atEvent.emplace(Fake.Broadcasts.size(), Control->Protocol);
        };
        EXPECT_EQ(Fake.DeliverAttachStatus(ClientWindow, 32769), HandledWith1);
        EXPECT_TRUE(Fake.Broadcasts.empty());
        Turn();
        ASSERT_TRUE(atEvent);
        EXPECT_EQ(atEvent->first, autoReAttach ? 1U : 0U);
        EXPECT_EQ(atEvent->second, autoReAttach ? 4 : 2);
        if (autoReAttach) {
            EXPECT_EQ(Fake.Broadcasts[0].Msg, Control->DiscoverMessageId());
        }
        EXPECT_EQ(Fake.Broadcasts.size(), atEvent->first);
    }
}

TEST_F(SkypeControlTest, CopyDataOnlyFromTheAttachedClientWindowIsTaken) {
    const std::pair<bool, WindowHandle> ignored[] = {
        {false, 0}, {false, ClientWindow}, {true, 0}, {true, OtherWindow}};
    for (const auto& [attached, from] : ignored) {
        SCOPED_TRACE(::testing::Message() << "attached " << attached << ", from " << from);
        if (attached) {
            AttachTo(ClientWindow);
        }
        EXPECT_EQ(Fake.DeliverLine(from, "CHATMESSAGE 1 STATUS RECEIVED", Untouched), PassedOn);
        Turn();
        EXPECT_TRUE(Events.empty());
    }
    // A copy-data message without a record is passed on, not read.
    EXPECT_EQ(Fake.Deliver({CopyDataMessage, ClientWindow, 0, Untouched}), PassedOn);
}

TEST_F(SkypeControlTest, RawLineComesBeforeTheParsedEventAndEveryLineIsTaken) {
    AttachTo(ClientWindow);
    const std::pair<std::string, Trace> cases[] = {
        {"CHATMESSAGE 1234 STATUS RECEIVED",
         {"OnCopyData CHATMESSAGE 1234 STATUS RECEIVED", "OnChatMsgInfo 1234 cmStatus RECEIVED"}},
        {"USERS alice, bob", {"OnCopyData USERS alice, bob", "OnSearchResult stUsers alice bob"}},
        {"chatmessage 1 STATUS RECEIVED", {"OnCopyData chatmessage 1 STATUS RECEIVED"}},
        {"", {"OnCopyData "}},
    };
    for (const auto& [line, expected] : cases) {
        SCOPED_TRACE(line);
        Events.clear();
        EXPECT_EQ(Fake.DeliverLine(ClientWindow, line), HandledWith1);
        Turn();
        EXPECT_EQ(Events, expected);
    }
}

TEST_F(SkypeControlTest, IncomingBlockIsReadUpToItsFirstNulAndNeverPastCbData) {
    AttachTo(ClientWindow);
    struct Case {
        std::string Bytes;
        std::uint32_t CbData;
        std::string Line;
    };
    const Case cases[] = {
        {"PONG\0"s, 5, "PONG"}, {"PONG\0junk\0"s, 10, "PONG"}, {"NAME a\0b\0"s, 9, "NAME a"},
        {"PONG"s, 4, "PONG"},   {"PONGPONG\0"s, 4, "PONG"},    {"\0PONG\0"s, 6, ""},
        {"PONG\0"s, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "cbData " << c.CbData << " of " << c.Bytes.size());
        // Once inside longer readable bytes, once as exactly cbData bytes on
        // the heap, which are gone before the line is handled: the component
        // copied it, and ASan would catch a read of the block afterwards.
        for (const bool exactOnTheHeap : {false, true}) {
            Events.clear();
            {
                const std::vector<char> exact(c.Bytes.begin(), c.Bytes.begin() + c.CbData);
                const std::string_view block = exactOnTheHeap
                                                   ? std::string_view(exact.data(), exact.size())
                                                   : std::string_view(c.Bytes);
                EXPECT_EQ(Fake.DeliverBlock(ClientWindow, block, c.CbData), HandledWith1);
            }
            Turn();
            ASSERT_FALSE(Events.empty());
            EXPECT_EQ(Events[0], "OnCopyData " + c.Line);
        }
    }
}

TEST_F(SkypeControlTest, CommandsThatCannotGoOutAreToldSoFromTheLoop) {
    struct Case {
        bool Attached;
        std::string Line;
        TCommandResult Expected;
    };
    const Case cases[] = {
        {false, "SEARCH FRIENDS ", TCommandResult::Dropped},
        {true, "", TCommandResult::Dropped},
        {true, std::string(1024, 'x'), TCommandResult::TooLong},
        {false, std::string(5000, 'x'), TCommandResult::TooLong},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Line.size());
        if (c.Attached) {
            AttachTo(ClientWindow);
        }
        Outcomes.clear();
        Send(c.Line);
        // Never inside the call that handed it over.
        EXPECT_TRUE(Outcomes.empty());
        Turn();
        ASSERT_EQ(Outcomes.size(), 1U);
        EXPECT_EQ(Outcomes[0].Result, c.Expected);
        EXPECT_TRUE(Fake.Sends.empty());
    }
}

TEST_F(SkypeControlTest, SendCommandSendsUpTo1023BytesAndNeverCutsALine) {
    AttachTo(ClientWindow);
    for (const std::size_t length : {1U, 1022U, 1023U}) {
        SCOPED_TRACE(length);
        Fake.Sends.clear();
        const std::string command(length, 'x');
        Control->SendCommand(command);
        ASSERT_EQ(Fake.Sends.size(), 1U);
        EXPECT_EQ(Fake.Sends[0].CbData, length + 1);
        EXPECT_EQ(Fake.Sends[0].Bytes, command + '\0');
        EXPECT_EQ(Fake.Sends[0].DwData, 0U);
        Turn();
    }
}

TEST_F(SkypeControlTest, CommandsAreSentOrReportedByTheProtocolInForce) {
    struct Case {
        std::int32_t Protocol; // the client's PROTOCOL line when not the one asked for
        std::function<void(TSkypeControl&)> Command;
        std::string Expected; // "sent <line>" or "OnNotSupportedError <text>"
    };
    const auto search = [](TSkypeSearchType type, std::string target = "") {
        return [=](TSkypeControl& c) {
            c.Search(type, target);
        };
    };
    const auto get = [](std::int32_t id, TSkypeChatMsgProperty property) {
        return [=](TSkypeControl& c) {
            c.GetChatMsgProperty(id, property);
        };
    };
    const auto message = [](std::string handle, std::string text) {
        return [=](TSkypeControl& c) {
            c.SendMessageTo(handle, text);
        };
    };
    const std::string searchtype = "OnNotSupportedError Searchtype \"";
    const std::string property = "OnNotSupportedError Chatmessage property \"";
    std::vector<Case> cases;
    for (std::int32_t p = 1; p <= 4; ++p) {
        const std::string n = std::to_string(p);
        cases.push_back({p, search(stFriends), "sent SEARCH FRIENDS "});
        cases.push_back(
            {p, get(1, cmSeen), property + "SEEN\" not supported (Protocol " + n + ")"});
        cases.push_back({p, message("alice", "hola\nqué tal"), "sent MESSAGE alice hola\nqué tal"});
        // A message is marked read in every protocol; SEEN is never asked for.
        cases.push_back(
            {p, [](TSkypeControl& c) { c.SetChatMsgSeen(42); }, "sent SET CHATMESSAGE 42 SEEN"});
    }
    cases.insert(
        cases.end(),
        {
            {4, search(stUsers, "ali ce"), "sent SEARCH USERS ali ce"},
            {1, search(stMessages), "sent SEARCH MESSAGES "},
            {3, search(stMessages), searchtype + "MESSAGES\" not supported (Protocol 3)"},
            {4, search(stMessages), searchtype + "MESSAGES\" not supported (Protocol 4)"},
            {2, search(stChats), searchtype + "CHATS\" not supported (Protocol 2)"},
            {3, search(stChats), "sent SEARCH CHATS "},
            {3, search(stMissedChatMsgs), "sent SEARCH MISSEDCHATMESSAGES "},
            {2, search(stMissedChatMsgs),
             searchtype + "MISSEDCHATMESSAGES\" not supported (Protocol 2)"},
            {4, get(1234, cmFromHandle), "sent GET CHATMESSAGE 1234 FROM_HANDLE"},
            {3, get(1234, cmBody), "sent GET CHATMESSAGE 1234 BODY"},
            {4, get(-5, cmStatus), "sent GET CHATMESSAGE -5 STATUS"},
            {1, get(1234, cmBody), property + "BODY\" not supported (Protocol 1)"},
            {2, get(1234, cmFromHandle), property + "FROM_HANDLE\" not supported (Protocol 2)"},
            {4, message("", "x"), "sent MESSAGE  x"},
        });
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "protocol " << c.Protocol << ": " << c.Expected);
        for (const bool confirmed : {false, true}) {
            // Either asked for with Attach, or asked for 4 and confirmed lower by the client.
            AttachTo(ClientWindow, confirmed ? 4 : c.Protocol);
            if (confirmed) {
                Fake.DeliverLine(ClientWindow, "PROTOCOL " + std::to_string(c.Protocol));
                Turn();
                Events.clear();
            }
            c.Command(*Control);
            EXPECT_EQ(Events, Trace{c.Expected});
            Fake.Advance(TSkypeControl::AnswerTimeout);
        }
    }
}

/// A chat client that notifies faster than the program handles: notifications
/// keep arriving while commands wait for their answers.
TEST_F(SkypeControlTest, ABurstIsHandledInArrivalOrderAFewMessagesATurn) {
    struct Case {
        int Messages;
        int Burst; // notifications delivered with each answer
    };
    const Case cases[] = {{1, 0}, {3, 1}, {50, 3}, {2000, 2000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.Messages << " messages, " << c.Burst << " per send");
        AttachTo(ClientWindow);
        int next = 0;
        int handledThisTurn = 0;
        int mostInATurn = 0;
        std::vector<int> received;
        std::map<int, int> answered;
        auto deliverWaiting = [&](int count) {
            for (int i = 0; i < count && next < c.Messages; ++i) {
                const int id = next++;
                EXPECT_EQ(Fake.DeliverLine(ClientWindow, "CHATMESSAGE " + std::to_string(id) +
                                                             " STATUS RECEIVED"),
                          HandledWith1);
            }
        };
        Fake.Answer = [&](const SendRecord& send) {
            if (!send.Line().starts_with("GET CHATMESSAGE ")) {
                return Trace{};
            }
            deliverWaiting(c.Burst);
            const std::string id = send.Line().substr(16, send.Line().find(' ', 16) - 16);
            return Trace{"CHATMESSAGE " + id + " BODY text " + id};
        };
        Control->OnCopyData = [&](const std::string&) {
            mostInATurn = std::max(mostInATurn, ++handledThisTurn);
        };
        Control->OnChatMsgInfo = [&](std::int32_t id, TSkypeChatMsgProperty property,
                                     const std::string& data) {
            if (property == cmStatus) {
                received.push_back(id);
                Control->GetChatMsgProperty(id, cmBody);
            } else if (property == cmBody) {
                EXPECT_EQ(data, "text " + std::to_string(id));
                ++answered[id];
            }
        };
        deliverWaiting(1);
        // Each run of the fake's loop is one turn for the component.
        for (;;) {
            handledThisTurn = 0;
            if (Fake.RunOneRound() > 0) {
                continue;
            }
            if (next == c.Messages) {
                break;
            }
            deliverWaiting(1);
        }
        std::vector<int> expected(static_cast<std::size_t>(c.Messages));
        std::iota(expected.begin(), expected.end(), 0);
        EXPECT_EQ(received, expected);
        EXPECT_EQ(answered.size(), expected.size());
        EXPECT_TRUE(std::all_of(answered.begin(), answered.end(),
                                [](const auto& entry) { return entry.second == 1; }));
        // The window's own input gets its turn between handfuls.
        EXPECT_LE(mostInATurn, TSkypeControl::MessagesPerTurn);
        Fake.Answer = nullptr;
    }
}

TEST_F(SkypeControlTest, LinesWaitWhileTheirCommandsFillTheQueueAndNoneIsDropped) {
    AttachTo(ClientWindow);
    Fake.Answer = [](const SendRecord& send) {
        std::string line = send.Line();
        return Trace{line.replace(0, 4, "") + " x"}; // "GET CHATMESSAGE n BODY" answered
    };
    const int lines = static_cast<int>(TSkypeControl::MaxQueuedCommands) * 2;
    std::size_t mostQueued = 0;
    int dropped = 0;
    int answered = 0;
    Control->OnChatMsgInfo = [&](std::int32_t id, TSkypeChatMsgProperty property, std::string) {
        if (property != cmStatus) {
            return;
        }
        for (const auto part : {cmFromHandle, cmBody}) {
            Control->GetChatMsgProperty(id, part, [&](const TCommandOutcome& o) {
                (o.Result == TCommandResult::Dropped ? dropped : answered) += 1;
            });
        }
        mostQueued = std::max(mostQueued, Control->QueuedCommands());
    };
    for (int id = 0; id < lines; ++id) {
        ASSERT_EQ(Fake.DeliverLine(ClientWindow,
                                   "CHATMESSAGE " + std::to_string(id) + " STATUS RECEIVED"),
                  HandledWith1);
    }
    Turn();
    EXPECT_EQ(dropped, 0);
    EXPECT_EQ(answered, 2 * lines);
    EXPECT_LT(mostQueued, TSkypeControl::MaxQueuedCommands);
}

TEST_F(SkypeControlTest, LinesThatWouldWaitBeyondTheLimitAreRefused) {
    AttachTo(ClientWindow);
    const std::size_t room = TSkypeControl::MaxWaitingBytes - TSkypeControl::WaitingOverhead;
    struct Case {
        const char* Name;
        std::vector<std::size_t> Sizes; // of lines delivered before the loop turns
        std::vector<Delivery> Results;
    };
    const Case cases[] = {
        {"exactly the limit", {room}, {HandledWith1}},
        {"one byte over", {room + 1}, {{true, 0}}},
        {"the limit, then one more",
         {room - 200 - TSkypeControl::WaitingOverhead, 200, 1},
         {HandledWith1, HandledWith1, {true, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<Delivery> results;
        std::vector<std::size_t> handled;
        Control->OnCopyData = [&](const std::string& line) {
            handled.push_back(line.size());
        };
        for (const std::size_t size : c.Sizes) {
            results.push_back(Fake.DeliverLine(ClientWindow, std::string(size, 'x')));
        }
        Turn();
        EXPECT_EQ(results, c.Results);
        std::vector<std::size_t> taken;
        for (std::size_t i = 0; i < c.Sizes.size(); ++i) {
            if (c.Results[i] == HandledWith1) {
                taken.push_back(c.Sizes[i]);
            }
        }
        EXPECT_EQ(handled, taken);
    }
}

TEST_F(SkypeControlTest, AttachStatusesNamingTheProgramsOwnWindowAreIgnored) {
    const std::intptr_t statuses[] = {0, 1, 2, 3, 32769};
    for (const bool attachedBefore : {false, true}) {
        for (const std::intptr_t status : statuses) {
            SCOPED_TRACE(::testing::Message()
                         << "status " << status << ", attached before " << attachedBefore);
            if (attachedBefore) {
                AttachTo(ClientWindow);
            }
            EXPECT_EQ(Fake.DeliverAttachStatus(Fake.AppWindow, status, Untouched), PassedOn);
            Turn();
            EXPECT_TRUE(Events.empty());
            EXPECT_TRUE(Fake.Sends.empty());
            EXPECT_EQ(Control->SkypeWindowHandle(), attachedBefore ? ClientWindow : 0);
        }
    }
    // The real client's lines still arrive.
    EXPECT_EQ(Fake.DeliverLine(ClientWindow, "PONG"), HandledWith1);
    Turn();
    EXPECT_EQ(Events, (Trace{"OnCopyData PONG", "OnPong"}));
}

TEST_F(SkypeControlTest, NothingQueuedRunsOnceTheComponentIsGone) {
    AttachTo(ClientWindow);
    bool told = false;
    Fake.DeliverLine(ClientWindow, "PONG");
    Control->SendCommand("PING", {}, [&](const TCommandOutcome&) { told = true; });
    Events.clear();
    Control.reset();
    Fake.Advance(TSkypeControl::AnswerTimeout * 2);
    EXPECT_FALSE(told);
    EXPECT_TRUE(Events.empty());
}

} // namespace
} // namespace velantro::skype
