// The component's commands: each builds one line, checks its vocabulary
// against the protocol in force and hands the line to SendCommand. Answers
// come back later as ordinary lines, through the events.

#include "skype/SkypeControl.h"

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

} // namespace

void TSkypeControl::Search(TSkypeSearchType SearchType, std::string_view target) {
    const std::string_view word = SearchTypeWords[SearchType];
    if (!IsSupported(SearchTypeByProtocol, Protocol, SearchType)) {
        ReportNotSupported(NotSupportedText("Searchtype \"", word, Protocol));
        return;
    }
    // The blank before the target is written also when the target is empty.
    std::string line = "SEARCH ";
    line.append(word).append(" ").append(target);
    SendCommand(line);
}

void TSkypeControl::GetChatMsgProperty(std::int32_t ChatMsgID,
                                       TSkypeChatMsgProperty ChatMsgProperty) {
    const std::string_view word = ChatMsgPropertyWords[ChatMsgProperty];
    if (!IsSupported(ChatMsgPropertyByProtocol, Protocol, ChatMsgProperty)) {
        ReportNotSupported(NotSupportedText("Chatmessage property \"", word, Protocol));
        return;
    }
    std::string line = "GET CHATMESSAGE ";
    line.append(std::to_string(ChatMsgID)).append(" ").append(word);
    SendCommand(line);
}

TCommandResult TSkypeControl::SendMessageTo(std::string_view userHandle, std::string_view text) {
    std::string line = "MESSAGE ";
    line.append(userHandle).append(" ").append(text);
    return SendCommand(line);
}

} // namespace velantro::skype
