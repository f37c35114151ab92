#include "platform/win32/Win32Windows.h"

#include <cstddef>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <utility>
#include <windows.h>

namespace velantro::platform {

namespace {

static_assert(CopyDataMessage == WM_COPYDATA);

constexpr const char* WindowClassName = "VelantroApplicationWindow";

// Messages the application window posts to itself for the event loop.
constexpr UINT RunLaterMessage = WM_APP + 1;
constexpr UINT QuitLoopMessage = WM_APP + 2;

// A send to one window waits at most this long for its result, as on the
// bus. A broadcast waits this long for each window in turn, skipping hung
// ones (the bus waits for all windows at once), so a stuck program can delay
// this one but never stop it.
constexpr UINT SendTimeoutMs = 25000;
constexpr UINT BroadcastTimeoutMs = 5000;

HWND ToHwnd(WindowHandle window) {
    return reinterpret_cast<HWND>(window);
}

std::string WithErrorCode(const std::string& text) {
    return text + " (error " + std::to_string(GetLastError()) + ")";
}

// An exception cannot cross the system's frames around a window procedure:
// one that leaves the hook ends the program.
LRESULT CALLBACK WindowProcedure(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
    if (msg == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* owner = reinterpret_cast<Win32Windows*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (owner != nullptr) {
        WindowMessage message{msg, wParam, lParam, 0};
        // The hook sees the record in the layout it knows, whatever the
        // system's structure looks like.
        CopyDataRecord record;
        if (msg == WM_COPYDATA && lParam != 0) {
            const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            record = {data->dwData, data->cbData, data->lpData};
            message.LParam = reinterpret_cast<std::intptr_t>(&record);
        }
        if (owner->Process(message)) {
            return message.Result;
        }
    }
    return DefWindowProcA(window, msg, wParam, lParam);
}

/// Registers the application windows' class once per process.
bool RegisterWindowClass(HINSTANCE instance) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = WindowClassName;
    return RegisterClassExA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

struct Enumeration {
    const std::function<bool(WindowHandle)>& Visit;
    bool Stopped = false;
    std::exception_ptr Error;
};

BOOL CALLBACK VisitWindow(HWND window, LPARAM data) noexcept {
    auto& enumeration = *reinterpret_cast<Enumeration*>(data);
    try {
        if (enumeration.Visit(reinterpret_cast<WindowHandle>(window))) {
            return TRUE;
        }
    } catch (...) {
        enumeration.Error = std::current_exception();
    }
    enumeration.Stopped = true;
    return FALSE;
}

} // namespace

Win32Windows::Win32Windows(const std::string& title) {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!RegisterWindowClass(instance)) {
        Error = WithErrorCode("Cannot register the application window's class");
        return;
    }
    // Top-level and never shown: a broadcast reaches hidden top-level windows,
    // but not message-only ones.
    const HWND window = CreateWindowExA(0, WindowClassName, title.c_str(), WS_OVERLAPPEDWINDOW,
                                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                        nullptr, nullptr, instance, this);
    if (window == nullptr) {
        Error = WithErrorCode("Cannot create the application window");
        return;
    }
    Window = reinterpret_cast<WindowHandle>(window);
}

Win32Windows::~Win32Windows() {
    if (Window != 0) {
        // The window's last messages go to the default processing only.
        SetWindowLongPtrA(ToHwnd(Window), GWLP_USERDATA, 0);
        DestroyWindow(ToHwnd(Window));
    }
}

bool Win32Windows::Process(WindowMessage& message) {
    switch (message.Msg) {
    case RunLaterMessage: {
        // Everything queued so far; work queued meanwhile posts its own message.
        std::deque<std::function<void()>> work;
        work.swap(Later);
        for (const auto& item : work) {
            item();
        }
        return true;
    }
    case QuitLoopMessage:
        PostQuitMessage(0);
        return true;
    default:
        break;
    }
    if (Hook) {
        // The hook may remove or replace itself while it runs.
        const WindowHook hook = Hook;
        try {
            if (hook(message)) {
                return true;
            }
        } catch (...) {
            KeepHookError(std::current_exception());
            message.Result = 0;
            return true;
        }
    }
    if (message.Msg == WM_CLOSE) {
        // Closing the application window ends the program's event loop; the
        // window itself lives as long as this object.
        PostQuitMessage(0);
        message.Result = 0;
        return true;
    }
    return false;
}

// An exception cannot cross the system's frames around the window
// procedure. When this thread sends to its own window (a broadcast reaches it
// too), the error is raised again once the send has returned, after the other
// windows have had the message. An error while handling another program's
// message is reported here, and that program sees the message as handled
// with 0.
void Win32Windows::KeepHookError(std::exception_ptr error) {
    if (SendsUnderWay > 0 && InSendMessage() == FALSE && !OwnHookError) {
        OwnHookError = std::move(error);
        return;
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        std::fprintf(stderr, "Error while handling a window message: %s\n", caught.what());
    } catch (...) {
        std::fprintf(stderr, "Unknown error while handling a window message\n");
    }
}

void Win32Windows::RaiseOwnHookError() {
    if (OwnHookError) {
        std::rethrow_exception(std::exchange(OwnHookError, nullptr));
    }
}

bool Win32Windows::Connected() const {
    return Window != 0 && IsWindow(ToHwnd(Window)) != FALSE;
}

std::string Win32Windows::ErrorText() const {
    return Error;
}

void Win32Windows::RunMessageLoop() {
    if (Window == 0) {
        return;
    }
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void Win32Windows::QuitMessageLoop() {
    if (Window != 0) {
        PostMessageA(ToHwnd(Window), QuitLoopMessage, 0, 0);
    }
}

void Win32Windows::RunLater(std::function<void()> work) {
    if (Window == 0) {
        return;
    }
    Later.push_back(std::move(work));
    PostMessageA(ToHwnd(Window), RunLaterMessage, 0, 0);
}

std::uint32_t Win32Windows::RegisterMessageName(const std::string& name) {
    return RegisterWindowMessageA(name.c_str());
}

std::intptr_t Win32Windows::Broadcast(std::uint32_t msg, std::uintptr_t wParam,
                                      std::intptr_t lParam) {
    DWORD_PTR ignored = 0;
    ++SendsUnderWay;
    const LRESULT sent =
        SendMessageTimeoutA(HWND_BROADCAST, msg, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                            BroadcastTimeoutMs, &ignored);
    --SendsUnderWay;
    RaiseOwnHookError();
    return sent != 0 ? 1 : 0;
}

std::intptr_t Win32Windows::SendToWindow(WindowHandle window, std::uint32_t msg,
                                         std::uintptr_t wParam, std::intptr_t lParam) {
    if (window == 0) {
        return 0;
    }
    COPYDATASTRUCT data{};
    if (msg == WM_COPYDATA) {
        const auto* record = reinterpret_cast<const CopyDataRecord*>(lParam);
        if (record == nullptr) {
            return 0;
        }
        data.dwData = record->dwData;
        data.cbData = record->cbData;
        data.lpData = const_cast<void*>(record->lpData);
        lParam = reinterpret_cast<std::intptr_t>(&data);
    }
    // While it waits, messages sent to this thread's windows are delivered.
    DWORD_PTR result = 0;
    ++SendsUnderWay;
    const LRESULT sent = SendMessageTimeoutA(ToHwnd(window), msg, wParam, lParam, SMTO_NORMAL,
                                             SendTimeoutMs, &result);
    --SendsUnderWay;
    RaiseOwnHookError();
    return sent != 0 ? static_cast<std::intptr_t>(result) : 0;
}

WindowHandle Win32Windows::ApplicationWindow() {
    return Window;
}

void Win32Windows::HookMainWindow(WindowHook hook) {
    Hook = std::move(hook);
}

void Win32Windows::UnhookMainWindow() {
    Hook = nullptr;
}

bool Win32Windows::EnumerateWindows(const std::function<bool(WindowHandle)>& visit) {
    Enumeration enumeration{visit, false, nullptr};
    const bool finished = EnumWindows(VisitWindow, reinterpret_cast<LPARAM>(&enumeration)) != 0;
    if (enumeration.Error) {
        std::rethrow_exception(enumeration.Error);
    }
    // EnumWindows also gives 0 when the visitor stopped it.
    return finished || enumeration.Stopped;
}

int Win32Windows::ReadWindowTitle(WindowHandle window, char* buffer, int maxCount) {
    if (buffer == nullptr || maxCount <= 0) {
        return 0;
    }
    buffer[0] = '\0';
    if (window == 0) {
        return 0;
    }
    return GetWindowTextA(ToHwnd(window), buffer, maxCount);
}

} // namespace velantro::platform
