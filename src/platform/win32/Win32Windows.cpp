#include "platform/win32/Win32Windows.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <optional>
#include <stdexcept>
#include <utility>
#include <windows.h>

namespace velantro::platform {

namespace {

static_assert(CopyDataMessage == WM_COPYDATA);

constexpr const char* WindowClassName = "VelantroApplicationWindow";

// Messages the application window posts to itself for the event loop, and
// the timer it sets for work that waits.
constexpr UINT RunWorkMessage = WM_APP + 1;
constexpr UINT QuitLoopMessage = WM_APP + 2;
constexpr UINT_PTR WorkTimer = 1;

// A send to one window waits at most this long for its result, as on the bus.
constexpr UINT SendTimeoutMs = 25000;

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

/// A message on its way to one window, a copy-data block copied with it.
struct Outgoing {
    HWND Window = nullptr;
    UINT Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    std::optional<std::string> Bytes;
    ULONG_PTR DwData = 0;
};

/// The message as it leaves the caller's call; nothing for a copy-data
/// message without a record or without its bytes.
std::optional<Outgoing> Prepare(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                                std::intptr_t lParam) {
    Outgoing outgoing{ToHwnd(window), msg, wParam, lParam, std::nullopt, 0};
    if (msg == WM_COPYDATA) {
        const auto* record = reinterpret_cast<const CopyDataRecord*>(lParam);
        if (record == nullptr || (record->cbData > 0 && record->lpData == nullptr)) {
            return std::nullopt;
        }
        outgoing.Bytes.emplace(static_cast<const char*>(record->lpData), record->cbData);
        outgoing.DwData = record->dwData;
    }
    return outgoing;
}

/// Sends and gives the window's result: 0 when the window does not exist or
/// did not answer within the time limit.
std::intptr_t SendNow(Outgoing& outgoing) {
    COPYDATASTRUCT data{};
    LPARAM lParam = outgoing.LParam;
    if (outgoing.Bytes) {
        data.dwData = outgoing.DwData;
        data.cbData = static_cast<DWORD>(outgoing.Bytes->size());
        data.lpData = outgoing.Bytes->data();
        lParam = reinterpret_cast<LPARAM>(&data);
    }
    DWORD_PTR result = 0;
    const LRESULT sent = SendMessageTimeoutA(outgoing.Window, outgoing.Msg, outgoing.WParam, lParam,
                                             SMTO_NORMAL, SendTimeoutMs, &result);
    return sent != 0 ? static_cast<std::intptr_t>(result) : 0;
}

/// An exception cannot cross the system's frames around the window
/// procedure: an error of the hook is reported here, and the sender sees the
/// message handled with 0.
void ReportHookError(std::exception_ptr error) {
    try {
        std::rethrow_exception(std::move(error));
    } catch (const std::exception& caught) {
        std::fprintf(stderr, "Error while handling a window message: %s\n", caught.what());
    } catch (...) {
        std::fprintf(stderr, "Unknown error while handling a window message\n");
    }
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
        KillTimer(ToHwnd(Window), WorkTimer);
        // The window's last messages go to the default processing only.
        SetWindowLongPtrA(ToHwnd(Window), GWLP_USERDATA, 0);
        DestroyWindow(ToHwnd(Window));
    }
}

bool Win32Windows::Process(WindowMessage& message) {
    switch (message.Msg) {
    case RunWorkMessage:
        RunDueWork();
        return true;
    case WM_TIMER:
        if (message.WParam == WorkTimer) {
            RunDueWork();
            return true;
        }
        break;
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
            ReportHookError(std::current_exception());
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

void Win32Windows::RunDueWork() {
    // What was due when this turn began; work queued meanwhile waits for the
    // next turn, so that other messages get theirs in between.
    const Clock::time_point now = Clock::now();
    const std::uint64_t last = WorkQueued;
    while (!Work.empty()) {
        const auto first = Work.begin();
        if (first->first.first > now || first->first.second > last) {
            break;
        }
        const std::function<void()> work = std::move(first->second);
        Work.erase(first);
        work();
    }
    ScheduleWork();
}

void Win32Windows::ScheduleWork() {
    if (Window == 0) {
        return;
    }
    const HWND window = ToHwnd(Window);
    if (Work.empty()) {
        KillTimer(window, WorkTimer);
        return;
    }
    const auto wait =
        std::chrono::ceil<std::chrono::milliseconds>(Work.begin()->first.first - Clock::now());
    if (wait.count() <= 0) {
        KillTimer(window, WorkTimer);
        PostMessageA(window, RunWorkMessage, 0, 0);
        return;
    }
    // A timer that comes early finds nothing due and is set again.
    const auto elapse = std::clamp<std::chrono::milliseconds::rep>(wait.count(), USER_TIMER_MINIMUM,
                                                                   USER_TIMER_MAXIMUM);
    SetTimer(window, WorkTimer, static_cast<UINT>(elapse), nullptr);
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

void Win32Windows::RunAfter(std::chrono::milliseconds delay, std::function<void()> work) {
    if (Window == 0) {
        return;
    }
    delay = std::max(delay, std::chrono::milliseconds(0));
    Work.emplace(std::make_pair(Clock::now() + delay, ++WorkQueued), std::move(work));
    if (delay.count() == 0) {
        PostMessageA(ToHwnd(Window), RunWorkMessage, 0, 0);
    } else {
        ScheduleWork();
    }
}

std::uint32_t Win32Windows::RegisterMessageName(const std::string& name) {
    return RegisterWindowMessageA(name.c_str());
}

std::intptr_t Win32Windows::Broadcast(std::uint32_t msg, std::uintptr_t wParam,
                                      std::intptr_t lParam) {
    // Posted, so that no window's answer is waited for and a hung program
    // delays nobody; this process's own window gets it from its loop.
    return PostMessageA(HWND_BROADCAST, msg, wParam, lParam) != 0 ? 1 : 0;
}

void Win32Windows::SendToWindow(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                                std::intptr_t lParam, SendDone done) {
    const auto answer = [this](SendDone tell, std::intptr_t result) {
        if (tell) {
            RunLater([tell = std::move(tell), result] { tell(result); });
        }
    };
    std::optional<Outgoing> outgoing =
        window != 0 ? Prepare(window, msg, wParam, lParam) : std::nullopt;
    if (!outgoing) {
        answer(std::move(done), 0);
        return;
    }
    if (GetWindowThreadProcessId(outgoing->Window, nullptr) == GetCurrentThreadId()) {
        // The system would call a window of this thread right here, inside
        // the caller's call; it gets the message from the loop instead.
        RunLater([outgoing = std::move(*outgoing), done = std::move(done)]() mutable {
            const std::intptr_t result = SendNow(outgoing);
            if (done) {
                done(result);
            }
        });
        return;
    }
    answer(std::move(done), SendNow(*outgoing));
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
