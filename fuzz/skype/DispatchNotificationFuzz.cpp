// Feeds arbitrary bytes to the line parser as the transport would: the first
// byte picks the protocol in force, the rest is the line. Every event is set,
// so every handler's event path runs too.

#include "skype/SkypeControl.h"
#include "skype/SkypeTokens.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace velantro::skype;

namespace {

std::size_t Consumed = 0;

void Touch(const std::string& text) {
    Consumed += text.size();
}

void SetEveryEvent(TSkypeControl& control) {
    control.OnError = [](std::int32_t, std::string d) {
        Touch(d);
    };
    control.OnUserStatus = [](TSkypeUserStatus) {
    };
    control.OnUserInfo = [](std::string u, TSkypeUserProperty, std::string d) {
        Touch(u);
        Touch(d);
    };
    control.OnName = [](std::string n) {
        Touch(n);
    };
    control.OnProtocol = [](std::int32_t) {
    };
    control.OnPong = [](TSkypeControl&) {
    };
    control.OnCallInfo = [](std::int32_t, TSkypeCallProperty, std::string d) {
        Touch(d);
    };
    control.OnMessageInfo = [](std::int32_t, TSkypeMessageProperty, std::string d) {
        Touch(d);
    };
    control.OnConnStatus = [](TSkypeConnStatus) {
    };
    control.OnCurrentUserHandle = [](std::string h) {
        Touch(h);
    };
    control.OnSearchResult = [](TSkypeSearchType, TStringList list) {
        for (const auto& item : list) {
            Touch(item);
        }
    };
    control.OnCallHistoryChanged = [](TSkypeControl&) {
    };
    control.OnIMHistoryChanged = [](TSkypeControl&) {
    };
    control.OnAudioInInfo = [](std::string d) {
        Touch(d);
    };
    control.OnAudioOutInfo = [](std::string d) {
        Touch(d);
    };
    control.OnMuteInfo = [](bool) {
    };
    control.OnPrivilegeInfo = [](TSkypePrivilege, bool) {
    };
    control.OnProfileInfo = [](TSkypeProfile, std::string d) {
        Touch(d);
    };
    control.OnVersionInfo = [](std::string v) {
        Touch(v);
    };
    control.OnChatInfo = [](std::string c, TSkypeChatProperty, std::string d) {
        Touch(c);
        Touch(d);
    };
    control.OnChatMsgInfo = [](std::int32_t, TSkypeChatMsgProperty, std::string d) {
        Touch(d);
    };
    control.OnNotSupportedError = [](std::string e) {
        Touch(e);
    };
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    TSkypeControl control;
    SetEveryEvent(control);
    control.Protocol = static_cast<std::int8_t>(data[0]);
    std::string_view line(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto first = NextToken(line, Blank);
    control.DispatchNotification(first, line);
    return 0;
}
