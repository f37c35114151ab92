#pragma once

#include "platform/DesktopServices.h"

#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>

namespace velantro::platform {

/// Window messages and window titles of the Windows desktop (user32). One
/// instance owns one hidden top-level window of this process, which is what
/// a broadcast reaches; its window procedure hands every message to the hook
/// before the default processing. Used from the thread that created it.
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
    void RunLater(std::function<void()> work) override;

    std::uint32_t RegisterMessageName(const std::string& name) override;
    std::intptr_t Broadcast(std::uint32_t msg, std::uintptr_t wParam,
                            std::intptr_t lParam) override;
    std::intptr_t SendToWindow(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                               std::intptr_t lParam) override;
    WindowHandle ApplicationWindow() override;
    void HookMainWindow(WindowHook hook) override;
    void UnhookMainWindow() override;

    bool EnumerateWindows(const std::function<bool(WindowHandle)>& visit) override;
    int ReadWindowTitle(WindowHandle window, char* buffer, int maxCount) override;

    /// The window procedure's work for one message of this window: true when
    /// the message was handled, with its result set, false for the default
    /// processing. Closing the window (WM_CLOSE), unless the hook takes it,
    /// ends RunMessageLoop(). An error of the hook never leaves it: see
    /// KeepHookError().
    bool Process(WindowMessage& message);

private:
    void KeepHookError(std::exception_ptr error);
    void RaiseOwnHookError();

    WindowHandle Window = 0;
    int SendsUnderWay = 0;
    std::exception_ptr OwnHookError;
    std::string Error;
    WindowHook Hook;
    std::deque<std::function<void()>> Later;
};

} // namespace velantro::platform
