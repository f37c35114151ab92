#pragma once

// The event method types of the chat-client component. Each event is an
// optional callback, called only when set.

#include "skype/SkypeControlConst.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velantro::skype {

class TSkypeControl;

/// An ordered list of byte strings, duplicates allowed, in insertion order.
using TStringList = std::vector<std::string>;

using TNotifyEvent = std::function<void(TSkypeControl& Sender)>;
using TSkypeErrorNotify = std::function<void(std::int32_t Code, std::string Description)>;
using TSkypeUserStatusNotify = std::function<void(TSkypeUserStatus UserStatus)>;
using TSkypeConnStatusNotify = std::function<void(TSkypeConnStatus ConnStatus)>;
using TSkypeCurrentUserHandleNotify = std::function<void(std::string UserHandle)>;
/// The handler owns the list it is given.
using TSkypeSearchNotify = std::function<void(TSkypeSearchType SearchType, TStringList aList)>;
using TSkypeUserNotify =
    std::function<void(std::string Username, TSkypeUserProperty UserProperty, std::string data)>;
using TSkypeNameNotify = std::function<void(std::string Name)>;
using TSkypeProtocolNotify = std::function<void(std::int32_t ProtocolNumber)>;
using TSkypeCallNotify =
    std::function<void(std::int32_t CallId, TSkypeCallProperty CallProperty, std::string data)>;
using TSkypeMessageNotify = std::function<void(
    std::int32_t MessageID, TSkypeMessageProperty MessageProperty, std::string data)>;
using TSkypeChatNotify =
    std::function<void(std::string Chatname, TSkypeChatProperty ChatProperty, std::string data)>;
using TSkypeChatMsgNotify = std::function<void(
    std::int32_t ChatMsgID, TSkypeChatMsgProperty ChatMsgProperty, std::string data)>;
using TSkypeAudioNotify = std::function<void(std::string Device)>;
using TSkypeMuteNotify = std::function<void(bool Muted)>;
using TSkypePrivilegeNotify = std::function<void(TSkypePrivilege priv, bool granted)>;
using TSkypeProfileNotify = std::function<void(TSkypeProfile priv, std::string data)>;
using TSkypeVersionNotify = std::function<void(std::string Version)>;
using TNotSupportedErrorNotify = std::function<void(std::string errormsg)>;
using TSkypeCopyData = std::function<void(std::string rawdata)>;

/// The component's 28 events, in declaration order.
struct TSkypeEvents {
    TNotifyEvent OnAttachSuccess;
    TNotifyEvent OnAttachPending;
    TNotifyEvent OnAttachRefused;
    TNotifyEvent OnAPINotAvailable;
    TNotifyEvent OnAPIAvailable;
    TSkypeErrorNotify OnError;
    TSkypeUserStatusNotify OnUserStatus;
    TSkypeUserNotify OnUserInfo;
    TSkypeNameNotify OnName;
    TSkypeProtocolNotify OnProtocol;
    TNotifyEvent OnPong;
    TSkypeCallNotify OnCallInfo;
    TSkypeMessageNotify OnMessageInfo;
    TSkypeConnStatusNotify OnConnStatus;
    TSkypeCurrentUserHandleNotify OnCurrentUserHandle;
    TSkypeSearchNotify OnSearchResult;
    TNotifyEvent OnCallHistoryChanged;
    TNotifyEvent OnIMHistoryChanged;
    TSkypeAudioNotify OnAudioInInfo;
    TSkypeAudioNotify OnAudioOutInfo;
    TSkypeMuteNotify OnMuteInfo;
    TSkypePrivilegeNotify OnPrivilegeInfo;
    TSkypeProfileNotify OnProfileInfo;
    TSkypeVersionNotify OnVersionInfo;
    TSkypeChatNotify OnChatInfo;
    TSkypeChatMsgNotify OnChatMsgInfo;
    TNotSupportedErrorNotify OnNotSupportedError;
    TSkypeCopyData OnCopyData;
};

/// Calls event with args when it is set.
template <typename Event, typename... Args>
void Fire(const Event& event, Args&&... args) {
    if (event) {
        event(std::forward<Args>(args)...);
    }
}

} // namespace velantro::skype
