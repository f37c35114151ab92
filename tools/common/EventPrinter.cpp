#include "common/EventPrinter.h"

#include "common/EscapedText.h"
#include "skype/SkypeValueNames.h"

#include <type_traits>

namespace velantro::tools {

namespace {

using namespace velantro::skype;

std::string FieldText(std::int32_t value) {
    return std::to_string(value);
}
std::string FieldText(bool value) {
    return value ? "true" : "false";
}
std::string FieldText(const std::string& bytes) {
    return EscapeBytes(bytes);
}
std::string FieldText(const TStringList& list) {
    std::string joined;
    for (const auto& item : list) {
        if (!joined.empty()) {
            joined += ',';
        }
        joined += EscapeBytes(item);
    }
    return joined;
}
template <typename E>
requires std::is_enum_v<E> std::string FieldText(E value) {
    return std::string(ValueName(value));
}

/// Sets handler to print the event's name and its arguments.
template <typename... Args>
void Print(std::function<void(Args...)>& handler, std::string_view name, const EventSink& sink) {
    handler = [name, sink](Args... args) {
        std::string line(name);
        ((line += '\t', line += FieldText(args)), ...);
        sink(line);
    };
}

void PrintSender(TNotifyEvent& handler, std::string_view name, const EventSink& sink) {
    handler = [name, sink](TSkypeControl&) {
        sink(std::string(name));
    };
}

} // namespace

void PrintEveryEvent(TSkypeControl& control, const EventSink& sink) {
    PrintSender(control.OnAttachSuccess, "OnAttachSuccess", sink);
    PrintSender(control.OnAttachPending, "OnAttachPending", sink);
    PrintSender(control.OnAttachRefused, "OnAttachRefused", sink);
    PrintSender(control.OnAPINotAvailable, "OnAPINotAvailable", sink);
    PrintSender(control.OnAPIAvailable, "OnAPIAvailable", sink);
    Print(control.OnError, "OnError", sink);
    Print(control.OnUserStatus, "OnUserStatus", sink);
    Print(control.OnUserInfo, "OnUserInfo", sink);
    Print(control.OnName, "OnName", sink);
    Print(control.OnProtocol, "OnProtocol", sink);
    PrintSender(control.OnPong, "OnPong", sink);
    Print(control.OnCallInfo, "OnCallInfo", sink);
    Print(control.OnMessageInfo, "OnMessageInfo", sink);
    Print(control.OnConnStatus, "OnConnStatus", sink);
    Print(control.OnCurrentUserHandle, "OnCurrentUserHandle", sink);
    Print(control.OnSearchResult, "OnSearchResult", sink);
    PrintSender(control.OnCallHistoryChanged, "OnCallHistoryChanged", sink);
    PrintSender(control.OnIMHistoryChanged, "OnIMHistoryChanged", sink);
    Print(control.OnAudioInInfo, "OnAudioInInfo", sink);
    Print(control.OnAudioOutInfo, "OnAudioOutInfo", sink);
    Print(control.OnMuteInfo, "OnMuteInfo", sink);
    Print(control.OnPrivilegeInfo, "OnPrivilegeInfo", sink);
    Print(control.OnProfileInfo, "OnProfileInfo", sink);
    Print(control.OnVersionInfo, "OnVersionInfo", sink);
    Print(control.OnChatInfo, "OnChatInfo", sink);
    Print(control.OnChatMsgInfo, "OnChatMsgInfo", sink);
    Print(control.OnNotSupportedError, "OnNotSupportedError", sink);
    Print(control.OnCopyData, "OnCopyData", sink);
}

} // namespace velantro::tools
