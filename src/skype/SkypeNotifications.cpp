// Parsing of the lines the chat client sends: routing by first word, the
// handlers, and the protocol-support reports.

#include "skype/SkypeControl.h"
#include "skype/SkypeTokens.h"

#include <array>
#include <vector>

namespace velantro::skype {

struct TSkypeControl::Route {
    std::string_view Word;
    void (*Handle)(TSkypeControl&, std::string_view rest);
};

namespace {

template <void (TSkypeControl::*Method)(std::string_view)>
void Call(TSkypeControl& control, std::string_view rest) {
    (control.*Method)(rest);
}

std::string DecimalText(std::int32_t value) {
    return std::to_string(value);
}

constexpr std::size_t MaxRouteWordLength = 18; // "CALLHISTORYCHANGED"

} // namespace

// The first word of a line selects its handler. Six search-type words
// (ACTIVECALLS, ACTIVECHATS, ...) are no reply words and are not listed.
const TSkypeControl::Route TSkypeControl::Routes[] = {
    {"ERROR", &Call<&TSkypeControl::HandleError>},
    {"USERSTATUS", &Call<&TSkypeControl::HandleUserStatus>},
    {"USER", &Call<&TSkypeControl::HandleUser>},
    {"NAME", &Call<&TSkypeControl::HandleName>},
    {"PROTOCOL", &Call<&TSkypeControl::HandleProtocol>},
    {"PONG", &Call<&TSkypeControl::HandlePong>},
    {"CALL", &Call<&TSkypeControl::HandleCall>},
    {"MESSAGE", &Call<&TSkypeControl::HandleMessage>},
    {"CONNSTATUS", &Call<&TSkypeControl::HandleConnStatus>},
    {"CURRENTUSERHANDLE", &Call<&TSkypeControl::HandleCurrentUserHandle>},
    {"USERS",
     [](TSkypeControl& c, std::string_view r) {
         c.HandleSearchReply(stUsers, r);
     }},
    {"FRIENDS",
     [](TSkypeControl& c, std::string_view r) {
         c.HandleSearchReply(stFriends, r);
     }},
    {"CALLS",
     [](TSkypeControl& c, std::string_view r) {
         c.HandleSearchReply(stCalls, r);
     }},
    {"MISSEDCALLS",
     [](TSkypeControl& c, std::string_view r) {
         c.HandleSearchReply(stMissedCalls, r);
     }},
    {"MESSAGES",
     [](TSkypeControl& c, std::string_view r) {
         c.HandleSearchReply(stMessages, r);
     }},
    {"MISSEDMESSAGES",
     [](TSkypeControl& c, std::string_view r) {
         c.HandleSearchReply(stMissedMessages, r);
     }},
    {"CHATS",
     [](TSkypeControl& c, std::string_view r) {
         c.HandleSearchReply(stChats, r);
     }},
    {"CHATMESSAGES",
     [](TSkypeControl& c, std::string_view r) {
         c.HandleSearchReply(stChatMsgs, r);
     }},
    {"CALLHISTORYCHANGED", &Call<&TSkypeControl::HandleCallHistoryChanged>},
    {"IMHISTORYCHANGED", &Call<&TSkypeControl::HandleIMHistoryChanged>},
    {"AUDIO_IN", &Call<&TSkypeControl::HandleAudioIn>},
    {"AUDIO_OUT", &Call<&TSkypeControl::HandleAudioOut>},
    {"MUTE", &Call<&TSkypeControl::HandleMute>},
    {"PRIVILEGE", &Call<&TSkypeControl::HandlePrivilege>},
    {"PROFILE", &Call<&TSkypeControl::HandleProfile>},
    {"SKYPEVERSION", &Call<&TSkypeControl::HandleVersion>},
    {"CHAT", &Call<&TSkypeControl::HandleChat>},
    {"CHATMESSAGE", &Call<&TSkypeControl::HandleChatMessage>},
};

void TSkypeControl::DispatchNotification(std::string_view firstWord, std::string_view rest) {
    if (firstWord.empty()) {
        return;
    }
    // The routing words are distinct, so the first equal one is the only one;
    // bucketing them by length keeps the comparisons few.
    static const auto routesByLength = [] {
        std::array<std::vector<const Route*>, MaxRouteWordLength + 1> buckets;
        for (const Route& route : Routes) {
            buckets.at(route.Word.size()).push_back(&route);
        }
        return buckets;
    }();
    if (firstWord.size() > MaxRouteWordLength) {
        return;
    }
    for (const Route* route : routesByLength[firstWord.size()]) {
        if (SameBytes(route->Word, firstWord)) {
            route->Handle(*this, rest);
            return;
        }
    }
}

void TSkypeControl::ReportNotSupported(std::string text) {
    Fire(OnNotSupportedError, std::move(text));
}

void TSkypeControl::ReportReceived(std::string_view prefix, std::string_view word) {
    if (!OnNotSupportedError) {
        return;
    }
    std::string text;
    text.reserve(prefix.size() + word.size() + 48);
    text.append(prefix).append(word).append("\" should not have been reveived (Protocol ");
    text.append(DecimalText(Protocol)).append(")");
    ReportNotSupported(std::move(text));
}

template <typename E, std::size_t N>
E TSkypeControl::PropertyOf(std::string_view word, const TWordTable<E, N>& words,
                            const TSupportTable<E>& support, std::string_view reportPrefix) {
    const E value = LookupWord(words, word);
    if (!IsSupported(support, Protocol, value)) {
        ReportReceived(reportPrefix, word);
    }
    return value;
}

void TSkypeControl::HandleError(std::string_view rest) {
    const std::int32_t code = ReadInteger(NextToken(rest, Blank)).value_or(0);
    if (code > 0) {
        Fire(OnError, code, std::string(rest));
    }
}

void TSkypeControl::HandleUserStatus(std::string_view rest) {
    const auto word = NextToken(rest, Blank);
    if (word.empty()) {
        return;
    }
    Fire(OnUserStatus,
         PropertyOf(word, UserStatusWords, UserStatusByProtocol, "Received Userstatus \""));
}

void TSkypeControl::HandleConnStatus(std::string_view rest) {
    const auto word = NextToken(rest, Blank);
    if (word.empty()) {
        return;
    }
    Fire(OnConnStatus,
         PropertyOf(word, ConnStatusWords, ConnStatusByProtocol, "Received Connstatus \""));
}

void TSkypeControl::HandleUser(std::string_view rest) {
    const auto handle = NextToken(rest, Blank);
    if (handle.empty()) {
        return;
    }
    const auto property = PropertyOf(NextToken(rest, Blank), UserPropertyWords,
                                     UserPropertyByProtocol, "Received user property \"");
    Fire(OnUserInfo, std::string(handle), property, std::string(rest));
}

void TSkypeControl::HandleName(std::string_view rest) {
    Fire(OnName, std::string(rest));
}

void TSkypeControl::HandleProtocol(std::string_view rest) {
    Protocol = ReadInteger(NextToken(rest, Blank)).value_or(1);
    Fire(OnProtocol, Protocol);
}

void TSkypeControl::HandlePong(std::string_view /*rest*/) {
    Fire(OnPong, *this);
}

namespace {

/// The id of a numbered object: the word as an integer, -1 when it is not one.
std::int32_t ObjectId(std::string_view& rest) {
    return ReadInteger(NextToken(rest, Blank)).value_or(-1);
}

} // namespace

void TSkypeControl::HandleCall(std::string_view rest) {
    const std::int32_t id = ObjectId(rest);
    if (id < 0) {
        return;
    }
    const auto property = PropertyOf(NextToken(rest, Blank), CallPropertyWords,
                                     CallPropertyByProtocol, "Received call property \"");
    Fire(OnCallInfo, id, property, std::string(rest));
}

void TSkypeControl::HandleMessage(std::string_view rest) {
    const std::int32_t id = ObjectId(rest);
    if (id < 0) {
        return;
    }
    const auto property = PropertyOf(NextToken(rest, Blank), MessagePropertyWords,
                                     MessagePropertyByProtocol, "Received message property \"");
    Fire(OnMessageInfo, id, property, std::string(rest));
}

void TSkypeControl::HandleChat(std::string_view rest) {
    const auto name = NextToken(rest, Blank);
    if (name.empty()) {
        return;
    }
    const auto property = PropertyOf(NextToken(rest, Blank), ChatPropertyWords,
                                     ChatPropertyByProtocol, "Received chat property \"");
    Fire(OnChatInfo, std::string(name), property, std::string(rest));
}

void TSkypeControl::HandleChatMessage(std::string_view rest) {
    const std::int32_t id = ObjectId(rest);
    if (id < 0) {
        return;
    }
    const auto property = PropertyOf(NextToken(rest, Blank), ChatMsgPropertyWords,
                                     ChatMsgPropertyByProtocol, "Received chatmessage property \"");
    Fire(OnChatMsgInfo, id, property, std::string(rest));
}

void TSkypeControl::HandleCurrentUserHandle(std::string_view rest) {
    const auto handle = NextToken(rest, Blank);
    if (!handle.empty()) {
        Fire(OnCurrentUserHandle, std::string(handle));
    }
}

void TSkypeControl::HandleVersion(std::string_view rest) {
    const auto version = NextToken(rest, Blank);
    if (!version.empty()) {
        Fire(OnVersionInfo, std::string(version));
    }
}

void TSkypeControl::HandleAudioIn(std::string_view rest) {
    Fire(OnAudioInInfo, std::string(NextToken(rest, Blank)));
}

void TSkypeControl::HandleAudioOut(std::string_view rest) {
    Fire(OnAudioOutInfo, std::string(NextToken(rest, Blank)));
}

void TSkypeControl::HandleMute(std::string_view rest) {
    const auto word = NextToken(rest, Blank);
    if (!word.empty()) {
        Fire(OnMuteInfo, word == "ON");
    }
}

void TSkypeControl::HandlePrivilege(std::string_view rest) {
    const auto key = NextToken(rest, Blank);
    const auto value = NextToken(rest, Blank);
    if (key.empty()) {
        return;
    }
    const auto privilege =
        PropertyOf(key, PrivilegeWords, PrivilegeByProtocol, "Received privilege info \"");
    if (!value.empty()) {
        Fire(OnPrivilegeInfo, privilege, value == "TRUE");
    }
}

void TSkypeControl::HandleProfile(std::string_view rest) {
    const auto key = NextToken(rest, Blank);
    const auto value = NextToken(rest, Blank);
    if (key.empty()) {
        return;
    }
    const auto profile =
        PropertyOf(key, ProfileWords, ProfileByProtocol, "Received profile info \"");
    if (!value.empty()) {
        Fire(OnProfileInfo, profile, std::string(value));
    }
}

void TSkypeControl::HandleSearchReply(TSkypeSearchType type, std::string_view rest) {
    TStringList list;
    for (auto word = NextToken(rest, BlankAndComma); !word.empty();
         word = NextToken(rest, BlankAndComma)) {
        list.emplace_back(word);
    }
    if (!IsSupported(SearchTypeByProtocol, Protocol, type)) {
        std::string text = "Search result of type \"";
        text.append(SearchTypeWords[type]).append("\" should not have been received (Protocol ");
        text.append(DecimalText(Protocol)).append(")");
        ReportNotSupported(std::move(text));
    }
    Fire(OnSearchResult, type, std::move(list));
}

void TSkypeControl::HandleCallHistoryChanged(std::string_view /*rest*/) {
    Fire(OnCallHistoryChanged, *this);
}

void TSkypeControl::HandleIMHistoryChanged(std::string_view /*rest*/) {
    Fire(OnIMHistoryChanged, *this);
}

} // namespace velantro::skype
