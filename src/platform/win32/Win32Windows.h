#pragma once

#include "platform/DesktopServices.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>

namespace velantro::platform {

/// Window messages and window titles of the Windows desktop (user32). One
/// instance owns one hidden top-level window of this process, which is what
/// a broadcast reaches; its window procedure hands every message to the hook
/// before the default processing. Used from the thread that created it.
///
/// Results of sends and queued work run from the thread's message loop, as
/// messages the window posts to itself or its timer; none of it runs once
/// the instance is gone.
class Win32Windows final : public DesktopWindows {
public:
    /// Creates the hidden application window with the given title.
    explicit Win32Windows(const std::string& title);
    ~Win32Windows() override;
    Win32Windows(const Win32Windows&) = delete;
    Win32Windows& operator=(const Win32Windows&) = delete;

    bool Connected() const override;
    std::string ErrorText() const override;
    void RunMessageLoop() override;
    void QuitMessageLoop() override;
    void RunAfter(std::chrono::milliseconds delay, std::function<void()> work) override;

    std::uint32_t RegisterMessageName(const std::string& name) override;
    /// Posts the message to every top-level window, so it carries no address:
    /// the system refuses to post messages below WM_USER that point at data.
    std::intptr_t Broadcast(std::uint32_t msg, std::uintptr_t wParam,
                            std::intptr_t lParam) override;
    /// A window of another thread gets the message at once, and the call
    /// waits for its window procedure (at most 25 s); meanwhile the system
    /// lets messages sent to this thread's windows through. A window of this
    /// thread gets it from the message loop.
    void SendToWindow(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                      std::intptr_t lParam, SendDone done) override;
    WindowHandle ApplicationWindow() override;
    void HookMainWindow(WindowHook hook) override;
    void UnhookMainWindow() override;

    bool EnumerateWindows(const std::function<bool(WindowHandle)>& visit) override;
    int ReadWindowTitle(WindowHandle window, char* buffer, int maxCount) override;

    /// The window procedure's work for one message of this window: true when
    /// the message was handled, with its result set, false for the default
    /// processing. Closing the window (WM_CLOSE), unless the hook takes it,
    /// ends RunMessageLoop(). An error of the hook never leaves it: it is
    /// reported on stderr and the message is handled with 0.
    bool Process(WindowMessage& message);

private:
    using Clock = std::chrono::steady_clock;

    /// Runs the work that was due when it started, earliest first.
    void RunDueWork();
    /// Sets the window's timer for the earliest work still waiting.
    void ScheduleWork();

    WindowHandle Window = 0;
    std::string Error;
    WindowHook Hook;
    /// Work by the time it is due and the order it was queued in.
    std::map<std::pair<Clock::time_point, std::uint64_t>, std::function<void()>> Work;
    std::uint64_t WorkQueued = 0;
};

} // namespace velantro::platform
