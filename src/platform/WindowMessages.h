#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

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

/// What became of a message sent to one window: the window's result, 0 when
/// the window does not exist, did not take the message or did not answer
/// within the send's time limit.
using SendDone = std::function<void(std::intptr_t result)>;

/// The window-message service of the desktop: registered message names,
/// sends and broadcasts, a hook on the application window, and work run later
/// from the event loop of the application window's thread.
///
/// Nothing here runs an event loop of its own: a send returns at once and its
/// result comes later, and the hook is called from the event loop only. A hook
/// is expected to take the message's data, answer and leave the work for later.
class WindowMessages {
public:
    virtual ~WindowMessages() = default;

    /// The same non-zero id in every process for the same name; 0 on failure.
    virtual std::uint32_t RegisterMessageName(const std::string& name) = 0;

    /// Delivers the message to every top-level window, this process's own
    /// included; gives 0 when nothing could be sent. The windows' results are
    /// not collected.
    virtual std::intptr_t Broadcast(std::uint32_t msg, std::uintptr_t wParam,
                                    std::intptr_t lParam) = 0;

    /// Sends the message to one window. For CopyDataMessage, lParam is the
    /// address of a CopyDataRecord whose bytes are copied before this returns.
    /// done, when set, gets the window's result later, from the event loop,
    /// never inside this call. Sends to one window arrive in the order made.
    virtual void SendToWindow(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                              std::intptr_t lParam, SendDone done) = 0;

    /// Runs work on the application window's thread, from its event loop,
    /// once delay has passed and the message being handled is done. Called
    /// on that thread; work queued for the same time runs in the order queued.
    virtual void RunAfter(std::chrono::milliseconds delay, std::function<void()> work) = 0;

    /// RunAfter with no delay.
    void RunLater(std::function<void()> work) {
        RunAfter(std::chrono::milliseconds(0), std::move(work));
    }

    /// The hidden application window that peers address their messages to.
    virtual WindowHandle ApplicationWindow() = 0;

    /// Installs the hook on the application window (one hook at a time).
    virtual void HookMainWindow(WindowHook hook) = 0;
    virtual void UnhookMainWindow() = 0;
};

} // namespace velantro::platform
