#pragma once

#include "platform/DesktopServices.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace velantro::platform {

/// Window messages and window titles on the D-Bus session bus: the stand-in
/// for the desktop's message service off Windows. One instance owns one
/// application window of this process, exported on a connection of its own
/// (docs/bus-protocol.md describes the wire protocol).
///
/// Needs a QCoreApplication and is used from the thread that created it; its
/// window answers from that thread's event loop, and the results of sends and
/// the work queued with RunAfter() run there too, never once the instance is
/// gone. Nothing here runs a nested event loop. When the bus cannot be
/// reached the instance still exists but is not Connected(): registrations
/// give 0, sends give 0, the enumeration fails and there is no application
/// window.
class BusWindows : public DesktopWindows {
public:
    /// Connects to the session bus and opens the application window with
    /// the given title.
    explicit BusWindows(const std::string& title);
    ~BusWindows() override;
    BusWindows(const BusWindows&) = delete;
    BusWindows& operator=(const BusWindows&) = delete;

    /// Changes the application window's title.
    void SetTitle(const std::string& title);

    /// True while the application window is on the bus.
    bool Connected() const override;

    /// Why the window is not on the bus; empty when it is.
    std::string ErrorText() const override;

    /// The QCoreApplication's event loop, quit through the application.
    void RunMessageLoop() override;
    void QuitMessageLoop() override;
    void RunAfter(std::chrono::milliseconds delay, std::function<void()> work) override;

    /// How long a send to another window waits for that window's result
    /// (25 s unless changed); after it the send gives 0.
    void SetSendTimeout(std::chrono::milliseconds timeout);

    std::uint32_t RegisterMessageName(const std::string& name) override;
    std::intptr_t Broadcast(std::uint32_t msg, std::uintptr_t wParam,
                            std::intptr_t lParam) override;
    void SendToWindow(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                      std::intptr_t lParam, SendDone done) override;
    WindowHandle ApplicationWindow() override;
    void HookMainWindow(WindowHook hook) override;
    void UnhookMainWindow() override;

    bool EnumerateWindows(const std::function<bool(WindowHandle)>& visit) override;
    int ReadWindowTitle(WindowHandle window, char* buffer, int maxCount) override;

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

/// The message id registered for name in every process on the bus: 0xC000
/// plus the 32-bit FNV-1a hash of the name's ASCII-lower-cased bytes modulo
/// 0x4000, so names compare without regard to ASCII case. 0 for an empty name.
std::uint32_t BusMessageId(std::string_view name);

} // namespace velantro::platform
