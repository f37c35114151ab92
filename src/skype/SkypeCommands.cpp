// The component's commands: each builds one line, checks its vocabulary
// against the protocol in force and hands the line to SendCommand. Answers
// come back later as ordinary lines, through the events.

#include "skype/SkypeControl.h"
#include "skype/SkypeTokens.h"

#include <algorithm>
#include <vector>

namespace velantro::skype {

namespace {

/// The report for a command word the protocol in force does not carry.
std::string NotSupportedText(std::string_view prefix, std::string_view word,
                             std::int32_t protocol) {
    std::string text;
    text.append(prefix).append(word).append("\" not supported (Protocol ");
    text.append(std::to_string(protocol)).append(")");
    return text;
}

/// The reply words a search of this type is answered with: the users'
/// searches with a list of users (a client may answer a friends search with
/// USERS), the chat messages' with CHATMESSAGES, and so on; empty for the
/// types that have no reply word of their own.
std::vector<std::string_view> ReplyWordsOf(TSkypeSearchType type) {
    switch (type) {
    case stUsers:
    case stFriends:
        return {"USERS", "FRIENDS"};
    case stCalls:
    case stActiveCalls:
        return {"CALLS"};
    case stMissedCalls:
        return {"MISSEDCALLS", "CALLS"};
    case stMessages:
        return {"MESSAGES"};
    case stMissedMessages:
        return {"MISSEDMESSAGES", "MESSAGES"};
    case stChatMsgs:
    case stMissedChatMsgs:
        return {"CHATMESSAGES"};
    default:
        return {"CHATS"};
    }
}

/// The next blank-separated word of rest, which moves past it.
std::string_view Word(std::string_view& rest) {
    return NextToken(rest, Blank);
}

} // namespace

void TSkypeControl::Search(TSkypeSearchType SearchType, std::string_view target,
                           TCommandDone done) {
    const std::string_view word = SearchTypeWords[SearchType];
    if (!IsSupported(SearchTypeByProtocol, Protocol, SearchType)) {
        ReportNotSupported(NotSupportedText("Searchtype \"", word, Protocol));
        Tell(std::move(done), {TCommandResult::NotSupported, {}, 0, {}});
        return;
    }
    // The blank before the target is written also when the target is empty.
    std::string line = "SEARCH ";
    line.append(word).append(" ").append(target);
    // Told apart by what it is: a list of users is no answer to a search for
    // chat messages, even while one is under way.
    SendCommand(
        line,
        [words = ReplyWordsOf(SearchType)](std::string_view first, std::string_view /*rest*/) {
            return std::find(words.begin(), words.end(), first) != words.end();
        },
        std::move(done));
}

bool TSkypeControl::SupportsSearch(TSkypeSearchType SearchType) const {
    return IsSupported(SearchTypeByProtocol, Protocol, SearchType);
}

void TSkypeControl::SetChatMsgSeen(std::int32_t ChatMsgID, TCommandDone done) {
    const std::string id = std::to_string(ChatMsgID);
    const std::string line = "SET CHATMESSAGE " + id + " SEEN";
    const auto isAnswer = [id](std::string_view first, std::string_view rest) {
        return first == "CHATMESSAGE" && Word(rest) == id && Word(rest) == "STATUS";
    };
    SendCommand(line, isAnswer, std::move(done));
}

void TSkypeControl::GetChatMsgProperty(std::int32_t ChatMsgID,
                                       TSkypeChatMsgProperty ChatMsgProperty, TCommandDone done) {
    const std::string_view word = ChatMsgPropertyWords[ChatMsgProperty];
    if (!IsSupported(ChatMsgPropertyByProtocol, Protocol, ChatMsgProperty)) {
        ReportNotSupported(NotSupportedText("Chatmessage property \"", word, Protocol));
        Tell(std::move(done), {TCommandResult::NotSupported, {}, 0, {}});
        return;
    }
    std::string line = "GET CHATMESSAGE ";
    line.append(std::to_string(ChatMsgID)).append(" ").append(word);
    // The answer names the same message and property.
    const auto isAnswer = [id = std::to_string(ChatMsgID), word](std::string_view first,
                                                                 std::string_view rest) {
        return first == "CHATMESSAGE" && Word(rest) == id && Word(rest) == word;
    };
    SendCommand(line, isAnswer, std::move(done));
}

void TSkypeControl::SendMessageTo(std::string_view userHandle, std::string_view text,
                                  TCommandDone done) {
    std::string line = "MESSAGE ";
    line.append(userHandle).append(" ").append(text);
    // The new chat message's first status; older clients name it MESSAGE.
    const auto isAnswer = [](std::string_view first, std::string_view rest) {
        if (first != "CHATMESSAGE" && first != "MESSAGE") {
            return false;
        }
        Word(rest); // the message's id
        if (Word(rest) != "STATUS") {
            return false;
        }
        const std::string_view status = Word(rest);
        return status == "SENDING" || status == "SENT";
    };
    SendCommand(line, isAnswer, std::move(done));
}

} // namespace velantro::skype
