// velantro-cli parse: feeds protocol lines to the component's parser and
// prints every event fired, one per line, fields separated by TAB.

#include "Commands.h"
#include "common/EscapedText.h"
#include "skype/SkypeControl.h"
#include "skype/SkypeTokens.h"
#include "skype/SkypeValueNames.h"

#include <iostream>
#include <string>

namespace velantro::tools {

namespace {

using namespace velantro::skype;

/// One output line: the event name, then each argument after a TAB.
class EventLine {
public:
    explicit EventLine(std::string_view event)
        : Text(event) {}
    ~EventLine() { std::cout << Text << '\n'; }
    EventLine(const EventLine&) = delete;
    EventLine& operator=(const EventLine&) = delete;

    EventLine& operator<<(std::int32_t value) { return Field(std::to_string(value)); }
    EventLine& operator<<(bool value) { return Field(value ? "true" : "false"); }
    EventLine& operator<<(const std::string& bytes) { return Field(EscapeBytes(bytes)); }
    EventLine& operator<<(const TStringList& list) {
        std::string joined;
        for (const auto& item : list) {
            joined += (joined.empty() ? "" : ",") + EscapeBytes(item);
        }
        return Field(joined);
    }
    template <typename E>
    requires std::is_enum_v<E> EventLine& operator<<(E value) {
        return Field(std::string(ValueName(value)));
    }

private:
    EventLine& Field(const std::string& text) {
        Text += '\t';
        Text += text;
        return *this;
    }
    std::string Text;
};

/// Sets handler to print the event's name and its arguments.
template <typename... Args>
void Print(std::function<void(Args...)>& handler, std::string_view name) {
    handler = [name](Args... args) {
        (EventLine(name) << ... << args);
    };
}

void PrintSender(TNotifyEvent& handler, std::string_view name) {
    handler = [name](TSkypeControl&) {
        EventLine{name};
    };
}

void PrintEveryEvent(TSkypeControl& control) {
    PrintSender(control.OnAttachSuccess, "OnAttachSuccess");
    PrintSender(control.OnAttachPending, "OnAttachPending");
    PrintSender(control.OnAttachRefused, "OnAttachRefused");
    PrintSender(control.OnAPINotAvailable, "OnAPINotAvailable");
    PrintSender(control.OnAPIAvailable, "OnAPIAvailable");
    Print(control.OnError, "OnError");
    Print(control.OnUserStatus, "OnUserStatus");
    Print(control.OnUserInfo, "OnUserInfo");
    Print(control.OnName, "OnName");
    Print(control.OnProtocol, "OnProtocol");
    PrintSender(control.OnPong, "OnPong");
    Print(control.OnCallInfo, "OnCallInfo");
    Print(control.OnMessageInfo, "OnMessageInfo");
    Print(control.OnConnStatus, "OnConnStatus");
    Print(control.OnCurrentUserHandle, "OnCurrentUserHandle");
    Print(control.OnSearchResult, "OnSearchResult");
    PrintSender(control.OnCallHistoryChanged, "OnCallHistoryChanged");
    PrintSender(control.OnIMHistoryChanged, "OnIMHistoryChanged");
    Print(control.OnAudioInInfo, "OnAudioInInfo");
    Print(control.OnAudioOutInfo, "OnAudioOutInfo");
    Print(control.OnMuteInfo, "OnMuteInfo");
    Print(control.OnPrivilegeInfo, "OnPrivilegeInfo");
    Print(control.OnProfileInfo, "OnProfileInfo");
    Print(control.OnVersionInfo, "OnVersionInfo");
    Print(control.OnChatInfo, "OnChatInfo");
    Print(control.OnChatMsgInfo, "OnChatMsgInfo");
    Print(control.OnNotSupportedError, "OnNotSupportedError");
    Print(control.OnCopyData, "OnCopyData");
}

} // namespace

int RunParse(CommandArgs args) {
    TSkypeControl control;
    control.Protocol = 4;
    if (args.size() >= 2 && args[0] == "--protocol") {
        const auto protocol = ReadInteger(args[1]);
        if (!protocol) {
            std::cerr << "velantro-cli parse: --protocol takes an integer, not \"" << args[1]
                      << "\"\n";
            return 2;
        }
        control.Protocol = *protocol;
        args = args.subspan(2);
    }
    PrintEveryEvent(control);
    for (std::string_view line : args) {
        const auto firstWord = NextToken(line, Blank);
        control.DispatchNotification(firstWord, line);
    }
    return 0;
}

} // namespace velantro::tools
