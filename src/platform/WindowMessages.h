#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace velantro::platform {

/// A window handle; 0 means no window.
using WindowHandle = std::uintptr_t;

/// Message number of a copy-data message.
inline constexpr std::uint32_t CopyDataMessage = 74;

/// The record a copy-data message points to in its lParam.
struct CopyDataRecord {
    std::uintptr_t dwData = 0;
    std::uint32_t cbData = 0;
    const void* lpData = nullptr;
};

/// One message as a hook sees it. The hook may set Result.
struct WindowMessage {
    std::uint32_t Msg = 0;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;
    std::intptr_t Result = 0;
};

/// Called for every message that reaches the application window, before its
/// default processing; returning true ends the processing of that message.
using WindowHook = std::function<bool(WindowMessage&)>;

/// The window-message service of the desktop: registered message names,
/// synchronous sends and broadcasts, and a hook on the application window.
class WindowMessages {
public:
    virtual ~WindowMessages() = default;

    /// The same non-zero id in every process for the same name; 0 on failure.
    virtual std::uint32_t RegisterMessageName(const std::string& name) = 0;

    /// Delivers the message synchronously to every top-level window.
    virtual std::intptr_t Broadcast(std::uint32_t msg, std::uintptr_t wParam,
                                    std::intptr_t lParam) = 0;

    /// Delivers the message synchronously to one window and gives back its
    /// result (0 when the window does not exist). While waiting, messages sent
    /// to the caller's own windows are delivered. For CopyDataMessage, lParam is
    /// the address of a CopyDataRecord.
    virtual std::intptr_t SendToWindow(WindowHandle window, std::uint32_t msg,
                                       std::uintptr_t wParam, std::intptr_t lParam) = 0;

    /// The hidden application window that peers address their messages to.
    virtual WindowHandle ApplicationWindow() = 0;

    /// Installs the hook on the application window (one hook at a time).
    virtual void HookMainWindow(WindowHook hook) = 0;
    virtual void UnhookMainWindow() = 0;
};

} // namespace velantro::platform
