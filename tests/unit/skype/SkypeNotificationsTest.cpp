#include "common/EventPrinter.h"
#include "skype/SkypeControl.h"
#include "skype/SkypeTokens.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

using namespace velantro::skype;
using velantro::tools::PrintEveryEvent;

namespace {

using Events = std::vector<std::string>;

/// A component whose every event is recorded as the line velantro-cli parse
/// would print for it.
struct RecordingControl {
    TSkypeControl Control;
    Events Fired;

    explicit RecordingControl(std::int32_t protocol) {
        Control.Protocol = protocol;
        PrintEveryEvent(Control, [this](const std::string& line) { Fired.push_back(line); });
    }

    /// Handles one received line as the transport does.
    Events Receive(std::string_view line) {
        Fired.clear();
        const auto first = NextToken(line, Blank);
        Control.DispatchNotification(first, line);
        return Fired;
    }
};

struct LineCase {
    std::int32_t Protocol;
    std::string Line;
    Events Expected;
};

std::ostream& operator<<(std::ostream& out, const LineCase& c) {
    return out << "protocol " << c.Protocol << ": \"" << c.Line << '"';
}

class LineTest : public testing::TestWithParam<LineCase> {};

std::string Reported(const std::string& prefix, const std::string& word, int protocol) {
    return "OnNotSupportedError\t" + prefix + word + "\" should not have been reveived (Protocol " +
           std::to_string(protocol) + ")";
}

} // namespace

TEST_P(LineTest, FiresTheExpectedEvents) {
    RecordingControl recorder(GetParam().Protocol);
    EXPECT_EQ(recorder.Receive(GetParam().Line), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    ChatMessages, LineTest,
    testing::Values(
        LineCase{
            4, "CHATMESSAGE 1234 STATUS RECEIVED", {"OnChatMsgInfo\t1234\tcmStatus\tRECEIVED"}},
        LineCase{4,
                 "CHATMESSAGE 1234 BODY   hello  big world ",
                 {"OnChatMsgInfo\t1234\tcmBody\thello  big world "}},
        LineCase{3, "CHATMESSAGE $10 FROM_HANDLE bob", {"OnChatMsgInfo\t16\tcmFromHandle\tbob"}},
        LineCase{4,
                 "CHATMESSAGE 1234 SEEN x",
                 {Reported("Received chatmessage property \"", "SEEN", 4),
                  "OnChatMsgInfo\t1234\tcmSeen\tx"}},
        // Unknown property words read as cmChatname, which protocol 4 supports.
        LineCase{4, "CHATMESSAGE 9 COLOUR red", {"OnChatMsgInfo\t9\tcmChatname\tred"}},
        LineCase{4, "CHATMESSAGE 9", {"OnChatMsgInfo\t9\tcmChatname\t"}},
        LineCase{2,
                 "CHATMESSAGE 9 BODY hi",
                 {Reported("Received chatmessage property \"", "BODY", 2),
                  "OnChatMsgInfo\t9\tcmBody\thi"}},
        LineCase{4, "CHATMESSAGE abc STATUS RECEIVED", {}},
        LineCase{4, "CHATMESSAGE -5 STATUS RECEIVED", {}},
        LineCase{4, "CHATMESSAGE 2147483648 STATUS RECEIVED", {}}, LineCase{4, "CHATMESSAGE", {}},
        LineCase{4, "chatmessage 1 STATUS RECEIVED", {}},
        LineCase{4, "CHATMESSAGE 1 BODY a\tb\r\nc", {"OnChatMsgInfo\t1\tcmBody\ta\\tb\\r\\nc"}}));

INSTANTIATE_TEST_SUITE_P(
    ObjectProperties, LineTest,
    testing::Values(
        LineCase{4, "USER alice", {"OnUserInfo\talice\tupHandle\t"}},
        LineCase{
            4, "USER alice FULLNAME Alice Smith", {"OnUserInfo\talice\tupFullname\tAlice Smith"}},
        LineCase{4, "USER", {}},
        LineCase{4, "CALL 17 STATUS INPROGRESS", {"OnCallInfo\t17\tcpStatus\tINPROGRESS"}},
        LineCase{3,
                 "CALL 17 CONF_PARTICIPANT 1 x",
                 {Reported("Received call property \"", "CONF_PARTICIPANT", 3),
                  "OnCallInfo\t17\tcpConfParticipant\t1 x"}},
        LineCase{4, "CALL x STATUS RINGING", {}},
        LineCase{2, "MESSAGE 7 BODY hi there", {"OnMessageInfo\t7\tmpBody\thi there"}},
        LineCase{4,
                 "MESSAGE 7 BODY hi there",
                 {Reported("Received message property \"", "BODY", 4),
                  "OnMessageInfo\t7\tmpBody\thi there"}},
        LineCase{4, "MESSAGE -1 BODY hi", {}},
        LineCase{
            4, "CHAT #alice/$bob TOPIC Holidays", {"OnChatInfo\t#alice/$bob\tchTopic\tHolidays"}},
        LineCase{3,
                 "CHAT c CHATMESSAGES 1, 2",
                 {Reported("Received chat property \"", "CHATMESSAGES", 3),
                  "OnChatInfo\tc\tchChatMessages\t1, 2"}},
        LineCase{4, "CHAT", {}}));

INSTANTIATE_TEST_SUITE_P(
    Statuses, LineTest,
    testing::Values(
        LineCase{4, "USERSTATUS ONLINE", {"OnUserStatus\tusOnline"}},
        LineCase{1,
                 "USERSTATUS SKYPEME",
                 {Reported("Received Userstatus \"", "SKYPEME", 1), "OnUserStatus\tusSkypeMe"}},
        LineCase{4, "USERSTATUS BUSY now", {"OnUserStatus\tusUnknown"}},
        LineCase{4, "USERSTATUS", {}}, LineCase{4, "CONNSTATUS ONLINE", {"OnConnStatus\tcsOnline"}},
        LineCase{-1,
                 "CONNSTATUS PAUSING",
                 {Reported("Received Connstatus \"", "PAUSING", -1), "OnConnStatus\tcsPausing"}},
        LineCase{4, "CONNSTATUS  ", {}}));

INSTANTIATE_TEST_SUITE_P(
    KeysAndValues, LineTest,
    testing::Values(
        LineCase{4, "PRIVILEGE SKYPEOUT TRUE", {"OnPrivilegeInfo\tspSkypeOut\ttrue"}},
        LineCase{4, "PRIVILEGE SKYPEOUT true", {"OnPrivilegeInfo\tspSkypeOut\tfalse"}},
        LineCase{4, "PRIVILEGE SKYPEOUT", {}}, LineCase{4, "PRIVILEGE", {}},
        LineCase{4, "PROFILE PSTN_BALANCE 1500 extra", {"OnProfileInfo\tspfPSTNBalance\t1500"}},
        LineCase{3,
                 "PROFILE PSTN_BALANCE_CURRENCY EUR",
                 {Reported("Received profile info \"", "PSTN_BALANCE_CURRENCY", 3),
                  "OnProfileInfo\tspfPSTNBalanceCurrency\tEUR"}},
        // The report comes even when the missing value means no event.
        LineCase{
            0, "PRIVILEGE SKYPEOUT", {Reported("Received privilege info \"", "SKYPEOUT", 0)}}));

INSTANTIATE_TEST_SUITE_P(
    SingleWords, LineTest,
    testing::Values(
        LineCase{4, "CURRENTUSERHANDLE maria.k trailing", {"OnCurrentUserHandle\tmaria.k"}},
        LineCase{4, "CURRENTUSERHANDLE", {}},
        LineCase{4, "SKYPEVERSION 1.4.0.84", {"OnVersionInfo\t1.4.0.84"}},
        LineCase{4, "SKYPEVERSION ", {}}, LineCase{4, "AUDIO_IN", {"OnAudioInInfo\t"}},
        LineCase{4, "AUDIO_OUT SB Live", {"OnAudioOutInfo\tSB"}},
        LineCase{4, "MUTE ON", {"OnMuteInfo\ttrue"}}, LineCase{4, "MUTE on", {"OnMuteInfo\tfalse"}},
        LineCase{4, "MUTE", {}}));

INSTANTIATE_TEST_SUITE_P(
    SearchReplies, LineTest,
    testing::Values(
        LineCase{4, "FRIENDS", {"OnSearchResult\tstFriends\t"}},
        LineCase{4, "FRIENDS alice, bob,carol", {"OnSearchResult\tstFriends\talice,bob,carol"}},
        LineCase{4, "USERS  bob ,, bob ,", {"OnSearchResult\tstUsers\tbob,bob"}},
        LineCase{4, "CALLS 1, 2", {"OnSearchResult\tstCalls\t1,2"}},
        LineCase{4, "MISSEDCALLS 3", {"OnSearchResult\tstMissedCalls\t3"}},
        LineCase{4,
                 "MESSAGES a, b",
                 {"OnNotSupportedError\tSearch result of type \"MESSAGES\" should not have been "
                  "received (Protocol 4)",
                  "OnSearchResult\tstMessages\ta,b"}},
        LineCase{2, "MISSEDMESSAGES 5", {"OnSearchResult\tstMissedMessages\t5"}},
        LineCase{2,
                 "CHATS #a/$b",
                 {"OnNotSupportedError\tSearch result of type \"CHATS\" should not have been "
                  "received (Protocol 2)",
                  "OnSearchResult\tstChats\t#a/$b"}},
        LineCase{4, "CHATMESSAGES 1,2", {"OnSearchResult\tstChatMsgs\t1,2"}},
        // Search types that are no reply words.
        LineCase{4, "ACTIVECHATS #a/$b", {}}, LineCase{4, "ACTIVECALLS 1", {}},
        LineCase{4, "MISSEDCHATMESSAGES 1", {}}));

INSTANTIATE_TEST_SUITE_P(
    Others, LineTest,
    testing::Values(LineCase{4, "ERROR 7 Invalid user handle", {"OnError\t7\tInvalid user handle"}},
                    LineCase{4, "ERROR $10", {"OnError\t16\t"}}, LineCase{4, "ERROR 0 text", {}},
                    LineCase{4, "ERROR -3 text", {}}, LineCase{4, "ERROR oops", {}},
                    LineCase{4, "ERROR", {}}, LineCase{4, "NAME", {"OnName\t"}},
                    LineCase{4, "NAME   Velantro  x ", {"OnName\tVelantro  x "}},
                    LineCase{4, "PONG", {"OnPong"}},
                    LineCase{4, "CALLHISTORYCHANGED whatever", {"OnCallHistoryChanged"}},
                    LineCase{4, "IMHISTORYCHANGED", {"OnIMHistoryChanged"}}, LineCase{4, "", {}},
                    LineCase{4, "     ", {}}, LineCase{4, "HELLO there", {}}));

TEST(SkypeNotifications, ProtocolLineReplacesTheProtocolInForce) {
    struct Case {
        std::string Line;
        std::int32_t Protocol;
    };
    for (const Case& c : {Case{"PROTOCOL 3", 3}, Case{"PROTOCOL", 1}, Case{"PROTOCOL four", 1},
                          Case{"PROTOCOL 99", 99}, Case{"PROTOCOL -2", -2}}) {
        RecordingControl recorder(4);
        EXPECT_EQ(recorder.Receive(c.Line), Events{"OnProtocol\t" + std::to_string(c.Protocol)})
            << c.Line;
        EXPECT_EQ(recorder.Control.Protocol, c.Protocol) << c.Line;
    }
}

TEST(SkypeNotifications, LaterChecksUseTheConfirmedProtocol) {
    RecordingControl recorder(4);
    recorder.Receive("PROTOCOL 2");
    EXPECT_EQ(recorder.Receive("CHATMESSAGE 1 STATUS RECEIVED"),
              (Events{Reported("Received chatmessage property \"", "STATUS", 2),
                      "OnChatMsgInfo\t1\tcmStatus\tRECEIVED"}));
    // Protocols above 4 use protocol 4's row.
    recorder.Receive("PROTOCOL 7");
    EXPECT_EQ(recorder.Receive("CHATMESSAGE 1 STATUS RECEIVED"),
              Events{"OnChatMsgInfo\t1\tcmStatus\tRECEIVED"});
}

TEST(SkypeNotifications, UnsetEventsAreSkipped) {
    TSkypeControl control;
    control.Protocol = 1;
    int chatMessages = 0;
    control.OnChatMsgInfo = [&](std::int32_t, TSkypeChatMsgProperty, std::string) {
        ++chatMessages;
    };
    // Every handler family runs with only one event set, reports included.
    for (std::string_view line : {"CHATMESSAGE 1 SEEN",
                                  "USERSTATUS SKYPEME",
                                  "FRIENDS a, b",
                                  "MESSAGES a",
                                  "PONG",
                                  "PRIVILEGE SKYPEOUT TRUE",
                                  "PROFILE PSTN_BALANCE 5",
                                  "ERROR 1 x",
                                  "CALL 1 SEEN",
                                  "CHAT c NAME n",
                                  "USER u SEX MALE",
                                  "MESSAGE 1 BODY b",
                                  "CONNSTATUS ONLINE",
                                  "MUTE ON",
                                  "AUDIO_IN x",
                                  "AUDIO_OUT y",
                                  "SKYPEVERSION 1",
                                  "CURRENTUSERHANDLE me",
                                  "NAME n",
                                  "PROTOCOL 1",
                                  "CALLHISTORYCHANGED",
                                  "IMHISTORYCHANGED"}) {
        const auto first = NextToken(line, Blank);
        control.DispatchNotification(first, line);
    }
    EXPECT_EQ(chatMessages, 1);
}

TEST(SkypeNotifications, SearchHandlerOwnsTheList) {
    TSkypeControl control;
    control.Protocol = 4;
    TStringList kept;
    control.OnSearchResult = [&](TSkypeSearchType type, TStringList list) {
        EXPECT_EQ(type, stFriends);
        kept = std::move(list);
    };
    control.DispatchNotification("FRIENDS", "bob, alice, bob");
    EXPECT_EQ(kept, (TStringList{"bob", "alice", "bob"}));
}

TEST(SkypeNotifications, EventHandlersMayReenterTheParser) {
    // A handler that sends a command can have the answer parsed before it returns.
    RecordingControl recorder(4);
    auto print = recorder.Control.OnChatMsgInfo;
    recorder.Control.OnChatMsgInfo = [&](std::int32_t id, TSkypeChatMsgProperty property,
                                         std::string data) {
        print(id, property, data);
        if (property == cmStatus) {
            recorder.Control.DispatchNotification("CHATMESSAGE",
                                                  std::to_string(id) + " BODY nested");
        }
    };
    EXPECT_EQ(recorder.Receive("CHATMESSAGE 5 STATUS RECEIVED"),
              (Events{"OnChatMsgInfo\t5\tcmStatus\tRECEIVED", "OnChatMsgInfo\t5\tcmBody\tnested"}));
}
