// The Windows layer over the desktop's own services (run under Wine by the
// cross build): window messages between threads and processes, the attach
// sequence with skype-peer.exe in a process of its own, the local program's
// detection over real window titles, and settings through the profile API.

#include "platform/DesktopServices.h"
#include "skype/SkypeControl.h"
#include "support/HandshakeEvents.h"
#include "support/PendingSends.h"
#include "translate/LocalTranslator.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>

using namespace std::chrono_literals;
using namespace velantro::skype;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using velantro::platform::CopyDataMessage;
using velantro::platform::CopyDataRecord;
using velantro::platform::DesktopWindows;
using velantro::platform::OpenDesktopWindows;
using velantro::platform::OpenProfileFile;
using velantro::platform::WindowHandle;
using velantro::platform::WindowMessage;
using velantro::testing::AllDone;
using velantro::testing::OutOfPlace;
using velantro::testing::Send;
using velantro::testing::SendCopyData;
using velantro::testing::SendHandle;

namespace velantro::skype {

void PrintTo(TCommandResult result, std::ostream* out) {
    constexpr const char* Names[] = {"Answered", "Refused", "Unanswered",  "NotAccepted",
                                     "Dropped",  "TooLong", "NotSupported"};
    *out << Names[static_cast<int>(result)];
}

} // namespace velantro::skype

namespace {

/// Delivers this thread's messages until condition holds or timeout has
/// passed, and gives the condition's last value.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= 0ms) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                  static_cast<DWORD>(std::min(left, 20ms).count()), QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return true;
}

/// Delivers this thread's messages for a while, for things that must not happen.
void RunMessagesFor(std::chrono::milliseconds duration) {
    WaitUntil([] { return false; }, duration);
}

/// A name no other window or file of this test run has.
std::string UniqueName(const std::string& stem) {
    static std::atomic<int> counter = 0;
    return stem + " " + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
}

std::string ProgramFolder() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string program(path, length);
    return program.substr(0, program.find_last_of("\\/") + 1);
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream file(path, std::ios::binary);
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string ReadText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    std::string result = text.str();
    std::erase(result, '\r');
    return result;
}

/// The first top-level window with exactly this title, 0 when there is none.
WindowHandle FindWindowTitled(DesktopWindows& windows, const std::string& title) {
    WindowHandle found = 0;
    windows.EnumerateWindows([&](WindowHandle window) {
        char text[256];
        const int length = windows.ReadWindowTitle(window, text, sizeof text);
        if (length > 0 && std::string(text, static_cast<std::size_t>(length)) == title) {
            found = window;
        }
        return found == 0;
    });
    return found;
}

/// skype-peer.exe in a process of its own, its window titled uniquely; closed
/// through its window when the test is done.
class PeerProcess {
public:
    PeerProcess(DesktopWindows& windows, const std::string& title, const std::string& logPath)
        : Windows(windows) {
        std::string commandLine =
            "\"" + ProgramFolder() + "skype-peer.exe\" --quiet --title \"" + title + "\"";
        if (!logPath.empty()) {
            commandLine += " --log \"" + logPath + "\"";
        }
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &startup, &Process)) {
            throw std::runtime_error("cannot start " + commandLine + " (error " +
                                     std::to_string(GetLastError()) + ")");
        }
        if (!WaitUntil([&] { return (Window = FindWindowTitled(Windows, title)) != 0; })) {
            throw std::runtime_error("skype-peer's window \"" + title + "\" did not appear");
        }
    }

    ~PeerProcess() {
        if (Process.hProcess == nullptr) {
            return;
        }
        if (Close() != 0) {
            TerminateProcess(Process.hProcess, 1);
            WaitForSingleObject(Process.hProcess, 5000);
        }
        CloseHandle(Process.hThread);
        CloseHandle(Process.hProcess);
    }

    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    /// Closes the peer's window, which ends the peer; its exit code, or
    /// STILL_ACTIVE when it did not end within five seconds.
    DWORD Close() {
        PostMessageA(reinterpret_cast<HWND>(Window), WM_CLOSE, 0, 0);
        WaitUntil([&] { return WaitForSingleObject(Process.hProcess, 0) == WAIT_OBJECT_0; }, 5s);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(Process.hProcess, &code);
        return code;
    }

    WindowHandle Window = 0;

private:
    DesktopWindows& Windows;
    PROCESS_INFORMATION Process{};
};

/// An application window on a thread of its own, which delivers its
/// messages until the object goes.
class WindowThread {
public:
    /// setup runs on the thread once the window is open, before its loop.
    explicit WindowThread(std::function<void(DesktopWindows&)> setup = {})
        : Thread([this, setup = std::move(setup)] { Run(setup); }) {
        WaitUntil([&] { return Ready.load(); });
    }

    ~WindowThread() {
        while (!Ready) {
            Sleep(1);
        }
        PostThreadMessageA(ThreadId, WM_QUIT, 0, 0);
        Thread.join();
    }

    WindowThread(const WindowThread&) = delete;
    WindowThread& operator=(const WindowThread&) = delete;

    WindowHandle Window() const { return Handle; }

private:
    void Run(const std::function<void(DesktopWindows&)>& setup) {
        const auto windows = OpenDesktopWindows(UniqueName("window thread"));
        if (setup) {
            setup(*windows);
        }
        Handle = windows->ApplicationWindow();
        ThreadId = GetCurrentThreadId();
        Ready = true;
        windows->RunMessageLoop();
    }

    std::atomic<WindowHandle> Handle{0};
    std::atomic<DWORD> ThreadId{0};
    std::atomic<bool> Ready{false};
    std::thread Thread; // last, so that it starts once the rest is there
};

// ---------------------------------------------------------------------------
// Window messages between windows of this thread, of another thread and of
// skype-peer's process.

/// The send's result, waited for on this thread's messages (as only a test
/// may); nothing when none came within timeout.
std::optional<std::intptr_t> ResultOf(const SendHandle& send,
                                      std::chrono::milliseconds timeout = 10s) {
    WaitUntil([&] { return send->Results > 0; }, timeout);
    EXPECT_FALSE(send->InsideCall) << "the result came inside the call";
    EXPECT_LE(send->Results, 1) << "one send, several results";
    return send->Results > 0 ? std::optional(send->Result) : std::nullopt;
}

/// A hook that counts what reaches a window, from any thread, and answers
/// each message with its count so far, plus Bias.
struct Counter {
    explicit Counter(std::intptr_t bias = 0)
        : Bias(bias) {}

    std::intptr_t Bias;
    std::atomic<std::intptr_t> Count = 0;
    std::mutex Lock;
    std::vector<std::string> Lines; // copy-data bytes; "#lParam" for other messages

    void Hook(DesktopWindows& windows) {
        windows.HookMainWindow([this](WindowMessage& message) {
            if (message.Msg < 0x0400 && message.Msg != CopyDataMessage) {
                return false;
            }
            std::string line = "#" + std::to_string(message.LParam);
            if (message.Msg == CopyDataMessage) {
                const auto& record = *reinterpret_cast<const CopyDataRecord*>(message.LParam);
                line.assign(static_cast<const char*>(record.lpData), record.cbData);
            }
            const std::lock_guard lock(Lock);
            Lines.push_back(std::move(line));
            message.Result = ++Count + Bias;
            return true;
        });
    }
    std::vector<std::string> Seen() {
        const std::lock_guard lock(Lock);
        return Lines;
    }
};

TEST(Win32WindowMessages, AResultAndADeliveryInThisThreadNeverComeInsideTheCall) {
    const auto sender = OpenDesktopWindows(UniqueName("Velantro"));
    const auto neighbour = OpenDesktopWindows(UniqueName("Velantro"));
    Counter own(500);
    Counter next(600);
    Counter remote(700);
    own.Hook(*sender);
    next.Hook(*neighbour);
    const WindowThread elsewhere([&remote](DesktopWindows& windows) { remote.Hook(windows); });
    WindowHandle gone = 0;
    {
        const auto shortLived = OpenDesktopWindows(UniqueName("Velantro"));
        gone = shortLived->ApplicationWindow();
    }
    const CopyDataRecord line{3, 4, "line"};
    const CopyDataRecord noBytes{0, 10, nullptr};
    const auto address = [](const CopyDataRecord& record) {
        return reinterpret_cast<std::intptr_t>(&record);
    };
    struct Case {
        const char* Name;
        WindowHandle To;
        std::uint32_t Msg;
        std::intptr_t LParam;
        std::intptr_t Result;
    };
    const Case cases[] = {
        {"the own window", sender->ApplicationWindow(), 0xC001, 1, 501},
        {"copy-data to the own window", sender->ApplicationWindow(), CopyDataMessage, address(line),
         502},
        {"another window of this thread", neighbour->ApplicationWindow(), 0xC001, 1, 601},
        {"a window of another thread", elsewhere.Window(), 0xC001, 1, 701},
        {"copy-data to another thread", elsewhere.Window(), CopyDataMessage, address(line), 702},
        {"copy-data without its bytes", elsewhere.Window(), CopyDataMessage, address(noBytes), 0},
        {"copy-data without a record", sender->ApplicationWindow(), CopyDataMessage, 0, 0},
        {"window 0", 0, 0xC001, 1, 0},
        {"a window that is gone", gone, 0xC001, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::intptr_t seenBefore = own.Count + next.Count;
        const SendHandle send = Send(*sender, c.To, c.Msg, sender->ApplicationWindow(), c.LParam);
        EXPECT_EQ(send->Results, 0);
        EXPECT_EQ(own.Count + next.Count, seenBefore) << "delivered inside the call";
        EXPECT_EQ(ResultOf(send), c.Result);
    }
    EXPECT_THAT(own.Seen(), ElementsAre("#1", "line"));
    EXPECT_THAT(remote.Seen(), ElementsAre("#1", "line"));
}

TEST(Win32WindowMessages, SendsToOneWindowArriveInTheOrderMade) {
    const auto sender = OpenDesktopWindows(UniqueName("Velantro"));
    Counter own;
    Counter remote;
    own.Hook(*sender);
    const WindowThread elsewhere([&remote](DesktopWindows& windows) { remote.Hook(windows); });
    struct Case {
        const char* Name;
        WindowHandle To;
        Counter& Receiver;
    };
    const Case cases[] = {
        {"the own window", sender->ApplicationWindow(), own},
        {"a window of another thread", elsewhere.Window(), remote},
    };
    constexpr int Count = 40;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<SendHandle> sends;
        std::vector<std::string> expected;
        for (int i = 0; i < Count; ++i) {
            // Copy-data and plain messages alike.
            if (i % 2 == 0) {
                const std::string line = "line " + std::to_string(i);
                sends.push_back(SendCopyData(*sender, c.To, line));
                expected.push_back(line);
            } else {
                sends.push_back(Send(*sender, c.To, 0xC001, 0, i));
                expected.push_back("#" + std::to_string(i));
            }
        }
        ASSERT_TRUE(WaitUntil([&] { return AllDone(sends); }));
        EXPECT_EQ(c.Receiver.Seen(), expected);
        EXPECT_THAT(OutOfPlace(sends), IsEmpty());
    }
}

TEST(Win32WindowMessages, TwoThreadsSendingToEachOtherAtOnceBothGetEveryResult) {
    constexpr int Count = 200;
    const auto self = OpenDesktopWindows(UniqueName("Velantro"));
    Counter own;
    own.Hook(*self);
    const WindowHandle target = self->ApplicationWindow();
    // The other thread sends as many lines to this window as soon as its
    // loop runs, while this thread sends to it.
    std::atomic<int> otherResultsInPlace = 0;
    std::atomic<int> otherResults = 0;
    Counter remote;
    const WindowThread other([&](DesktopWindows& windows) {
        remote.Hook(windows);
        windows.RunLater([&windows, &otherResults, &otherResultsInPlace, target] {
            for (int i = 0; i < Count; ++i) {
                const std::string line = "from the other thread " + std::to_string(i);
                const CopyDataRecord record{0, static_cast<std::uint32_t>(line.size()),
                                            line.data()};
                windows.SendToWindow(target, CopyDataMessage, windows.ApplicationWindow(),
                                     reinterpret_cast<std::intptr_t>(&record),
                                     [&, place = i + 1](std::intptr_t result) {
                                         otherResultsInPlace += result == place ? 1 : 0;
                                         ++otherResults;
                                     });
            }
        });
    });
    std::vector<SendHandle> sends;
    for (int i = 0; i < Count; ++i) {
        sends.push_back(
            SendCopyData(*self, other.Window(), "from this thread " + std::to_string(i)));
    }
    ASSERT_TRUE(WaitUntil([&] { return AllDone(sends) && otherResults == Count; }, 30s))
        << otherResults << " of the other thread's results in";
    EXPECT_THAT(OutOfPlace(sends), IsEmpty());
    EXPECT_EQ(otherResultsInPlace, Count);
    EXPECT_EQ(own.Count, Count);
}

TEST(Win32WindowMessages, WorkRunsFromTheLoopOnceItsDelayHasPassedInOrder) {
    const auto windows = OpenDesktopWindows(UniqueName("Velantro"));
    const std::vector<std::chrono::milliseconds> delays = {60ms, 0ms, 20ms, 0ms, 60ms, 20ms};
    std::vector<std::size_t> order;
    std::vector<std::chrono::milliseconds::rep> lateBy;
    const auto start = std::chrono::steady_clock::now();
    const auto since = [start] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start)
            .count();
    };
    for (std::size_t i = 0; i < delays.size(); ++i) {
        windows->RunAfter(delays[i], [&, i] {
            order.push_back(i);
            lateBy.push_back(since() - delays[i].count());
        });
    }
    windows->RunLater([&] {
        order.push_back(delays.size());
        lateBy.push_back(since());
    });
    EXPECT_TRUE(order.empty()) << "work ran inside the call";
    ASSERT_TRUE(WaitUntil([&] { return order.size() == delays.size() + 1; }));
    // Earliest first; work of the same delay in the order queued.
    EXPECT_THAT(order, ElementsAre(1, 3, 6, 2, 5, 0, 4));
    EXPECT_THAT(lateBy, Each(::testing::Ge(0)));
}

TEST(Win32WindowMessages, NothingQueuedReachesTheCallerOnceItsWindowIsGone) {
    const WindowThread elsewhere;
    struct Case {
        const char* Name;
        std::function<void(DesktopWindows& self, const std::function<void()>& reached)> Queue;
    };
    const WindowHandle remote = elsewhere.Window();
    const Case cases[] = {
        {"a send to the own window",
         [](DesktopWindows& self, const auto& reached) {
             self.SendToWindow(self.ApplicationWindow(), 0xC001, 0, 0,
                               [reached](std::intptr_t) { reached(); });
         }},
        {"a send to another thread's window",
         [remote](DesktopWindows& self, const auto& reached) {
             self.SendToWindow(remote, 0xC001, 0, 0, [reached](std::intptr_t) { reached(); });
         }},
        {"a send that fails",
         [](DesktopWindows& self, const auto& reached) {
             self.SendToWindow(0, 0xC001, 0, 0, [reached](std::intptr_t) { reached(); });
         }},
        {"work to run now",
         [](DesktopWindows& self, const auto& reached) {
             self.RunLater(reached);
         }},
        {"work to run later",
         [](DesktopWindows& self, const auto& reached) {
             self.RunAfter(20ms, reached);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        bool reached = false;
        {
            const auto self = OpenDesktopWindows(UniqueName("Velantro"));
            c.Queue(*self, [&reached] { reached = true; });
        }
        RunMessagesFor(100ms);
        EXPECT_FALSE(reached);
    }
}

TEST(Win32WindowMessages, ABroadcastWaitsForNoWindowAndReachesTheOwnOneFromTheLoop) {
    const auto sender = OpenDesktopWindows(UniqueName("Velantro"));
    const std::uint32_t msg = sender->RegisterMessageName(UniqueName("VelantroTest"));
    std::vector<std::intptr_t> seenByOwn;
    sender->HookMainWindow([&](WindowMessage& message) {
        if (message.Msg == msg) {
            seenByOwn.push_back(message.LParam);
        }
        return message.Msg == msg;
    });
    // A window whose thread takes no messages until the test lets it.
    std::atomic<WindowHandle> stuckWindow = 0;
    std::atomic<bool> release = false;
    std::atomic<std::intptr_t> seenByStuck = 0;
    std::thread stuck([&] {
        const auto windows = OpenDesktopWindows(UniqueName("stuck"));
        windows->HookMainWindow([&](WindowMessage& message) {
            if (message.Msg == msg) {
                seenByStuck = message.LParam;
            }
            return message.Msg == msg;
        });
        stuckWindow = windows->ApplicationWindow();
        while (!release) {
            Sleep(5);
        }
        WaitUntil([&] { return seenByStuck != 0; }, 5s);
    });
    ASSERT_TRUE(WaitUntil([&] { return stuckWindow != 0; }));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sender->Broadcast(msg, sender->ApplicationWindow(), 7), 1);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_THAT(seenByOwn, IsEmpty()) << "the own window got it inside the call";
    EXPECT_TRUE(WaitUntil([&] { return !seenByOwn.empty(); }));
    release = true;
    stuck.join();
    EXPECT_LT(took, 500ms);
    EXPECT_THAT(seenByOwn, ElementsAre(7));
    EXPECT_EQ(seenByStuck, 7) << "the stuck window gets it once its thread takes messages";
}

TEST(Win32WindowMessages, AnErrorInAHookStaysOnItsOwnSideOfTheWindowProcedure) {
    const auto sender = OpenDesktopWindows(UniqueName("Velantro"));
    const std::uint32_t msg = sender->RegisterMessageName(UniqueName("VelantroTest"));
    int ownCalls = 0;
    sender->HookMainWindow([msg, &ownCalls](WindowMessage& message) -> bool {
        if (message.Msg == msg) {
            ++ownCalls;
            throw std::runtime_error("own hook failed");
        }
        return false;
    });
    std::mutex lock;
    std::vector<std::intptr_t> seenByOther;
    const WindowThread other([&](DesktopWindows& windows) {
        windows.HookMainWindow([&, msg](WindowMessage& message) {
            if (message.Msg != msg) {
                return false;
            }
            const std::lock_guard guard(lock);
            seenByOther.push_back(message.LParam);
            message.Result = 9;
            return true;
        });
    });
    // The own hook's error stays in the loop: the broadcast reaches the others.
    EXPECT_EQ(sender->Broadcast(msg, 0, 1), 1);
    EXPECT_TRUE(WaitUntil([&] {
        const std::lock_guard guard(lock);
        return ownCalls == 1 && !seenByOther.empty();
    }));
    // A failed message is handled with 0, whoever sent it.
    EXPECT_EQ(ResultOf(Send(*sender, sender->ApplicationWindow(), msg, 0, 2)), 0);
    EXPECT_EQ(ResultOf(Send(*sender, other.Window(), msg, 0, 3)), 9);
    const std::lock_guard guard(lock);
    EXPECT_THAT(seenByOther, ElementsAre(1, 3));
    EXPECT_EQ(ownCalls, 2);
}

// ---------------------------------------------------------------------------
// The attach sequence and commands, between this program and skype-peer.exe.

/// One line the component took from the client, and whether a command was
/// being handed over at the time.
struct ReceivedLine {
    std::string Line;
    bool DuringSend = false;

    bool operator==(const ReceivedLine&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const ReceivedLine& line) {
        return out << ::testing::PrintToString(line.Line) << (line.DuringSend ? " (in send)" : "");
    }
};

/// A client line's first word is word.
TAnswerTest FirstWordIs(std::string word) {
    return [word = std::move(word)](std::string_view first, std::string_view) {
        return first == word;
    };
}

class PeerSession : public ::testing::Test {
protected:
    std::unique_ptr<DesktopWindows> Windows = OpenDesktopWindows(UniqueName("Velantro"));
    std::unique_ptr<TSkypeControl> Skype;
    std::string LogPath;
    std::optional<PeerProcess> Peer;

    std::vector<std::string> Events;
    std::vector<ReceivedLine> Lines;
    bool Sending = false;
    bool Attached = false;

    void SetUp() override {
        ASSERT_TRUE(Windows->Connected()) << Windows->ErrorText();
        char folder[MAX_PATH];
        ASSERT_GT(GetTempPathA(MAX_PATH, folder), 0u);
        LogPath = std::string(folder) + UniqueName("skype-peer") + ".log";

        Skype = std::make_unique<TSkypeControl>(Windows.get());
        ASSERT_TRUE(Skype->IsHooked());
        Skype->IdentName = "Velantro";
        velantro::testing::RecordHandshake(*Skype, Events, Attached);
        Skype->OnCopyData = [this](std::string line) {
            Lines.push_back({std::move(line), Sending});
        };
    }

    void StartPeer() { ASSERT_NO_THROW(Peer.emplace(*Windows, UniqueName("skype-peer"), LogPath)); }

    void TearDown() override {
        Skype.reset();
        if (Peer) {
            EXPECT_EQ(Peer->Close(), 0u) << "skype-peer did not end when its window was closed";
            Peer.reset();
        }
        DeleteFileA(LogPath.c_str());
    }

    /// Until the handshake's last answer, the user's handle, is in.
    bool HandshakeDone() const {
        return std::find(Events.begin(), Events.end(), "CurrentUserHandle me") != Events.end();
    }

    void Attach() {
        ASSERT_NO_FATAL_FAILURE(StartPeer());
        ASSERT_NE(Skype->Attach(4), 0);
        ASSERT_TRUE(WaitUntil([&] { return HandshakeDone(); })) << ::testing::PrintToString(Events);
        Lines.clear();
    }

    /// Hands a command over and waits on the loop for how it ended.
    TCommandOutcome Send(std::string_view command, TAnswerTest isAnswer = {}) {
        auto outcome = std::make_shared<std::optional<TCommandOutcome>>();
        Sending = true;
        Skype->SendCommand(command, std::move(isAnswer),
                           [outcome](const TCommandOutcome& ended) { *outcome = ended; });
        Sending = false;
        EXPECT_FALSE(outcome->has_value()) << "told inside the call";
        EXPECT_TRUE(WaitUntil([&] { return outcome->has_value(); })) << command;
        return outcome->value_or(TCommandOutcome{});
    }
};

TEST_F(PeerSession, AttachesThroughTheBroadcastAndHandshakesWithLinesAndTheirNul) {
    Attach();
    // Status 1, then 0, whose handling sends NAME and PROTOCOL; the client's
    // answers are handled after the success is reported.
    EXPECT_THAT(Events, ElementsAre("AttachPending", "AttachSuccess", "Protocol 4",
                                    "CurrentUserHandle me"));
    EXPECT_EQ(Skype->SkypeWindowHandle(), Peer->Window);
    // The peer logs each line with the cbData of its block: the length and the NUL.
    EXPECT_THAT(ReadLines(LogPath), ElementsAre("NAME Velantro\t14", "PROTOCOL 4\t11"));
}

TEST_F(PeerSession, AProgramThatReattachesByItselfAttachesWhenThePeerStarts) {
    Skype->AutoReAttach = true;
    StartPeer();
    // The peer's broadcast that its API is available makes the program attach.
    ASSERT_TRUE(WaitUntil([&] { return HandshakeDone(); })) << ::testing::PrintToString(Events);
    EXPECT_TRUE(Attached);
    EXPECT_THAT(Events, ElementsAre("AttachPending", "AttachSuccess", "Protocol 4",
                                    "CurrentUserHandle me"));
}

TEST_F(PeerSession, EachCommandEndsWithItsAnswerHandledFromTheLoop) {
    Attach();
    // The client answers from inside its window procedure, while the send
    // still waits; the component only takes the line then and handles it later.
    const TCommandOutcome pong = Send("PING", FirstWordIs("PONG"));
    EXPECT_EQ(pong.Result, TCommandResult::Answered);
    EXPECT_EQ(pong.AnswerLine, "PONG");
    const TCommandOutcome users = Send("SEARCH FRIENDS", FirstWordIs("USERS"));
    EXPECT_EQ(users.Result, TCommandResult::Answered);
    EXPECT_EQ(users.AnswerLine, "USERS alice, bob, echo");
    EXPECT_THAT(Lines, ElementsAre(ReceivedLine{"PONG", false},
                                   ReceivedLine{"USERS alice, bob, echo", false}));
}

TEST_F(PeerSession, CopyDataFromAForeignWindowIsIgnored) {
    Attach();
    const WindowHandle program = Windows->ApplicationWindow();
    const WindowHandle peer = Peer->Window;
    // A window of another thread sends lines to both ends, naming itself.
    std::atomic<std::intptr_t> toProgram = -1;
    std::atomic<std::intptr_t> toPeer = -1;
    const WindowThread foreign([&](DesktopWindows& windows) {
        const auto sendLine = [&windows](WindowHandle to, const std::string& line,
                                         std::atomic<std::intptr_t>& result) {
            CopyDataRecord record{0, static_cast<std::uint32_t>(line.size() + 1), line.c_str()};
            windows.SendToWindow(to, CopyDataMessage, windows.ApplicationWindow(),
                                 reinterpret_cast<std::intptr_t>(&record),
                                 [&result](std::intptr_t given) { result = given; });
        };
        sendLine(program, "PROTOCOL 2", toProgram);
        sendLine(peer, "PING", toPeer);
    });
    ASSERT_TRUE(WaitUntil([&] { return toProgram != -1 && toPeer != -1; }));
    EXPECT_EQ(toProgram, 0) << "the program took a line from a window it is not attached to";
    EXPECT_EQ(toPeer, 0) << "the peer took a command from a window that never attached";
    RunMessagesFor(100ms);
    EXPECT_THAT(Lines, IsEmpty());
    EXPECT_EQ(Skype->Protocol, 4);
    // The peer saw the command but did not answer it.
    EXPECT_THAT(ReadLines(LogPath), ElementsAre("NAME Velantro\t14", "PROTOCOL 4\t11", "PING\t5"));
}

TEST_F(PeerSession, ACommandOf1024BytesIsRefusedWholeAnd1023BytesGoThrough) {
    Attach();
    const auto command = [](std::size_t size) {
        std::string line = "MESSAGE bob ";
        line.resize(size, 'x');
        return line;
    };
    EXPECT_EQ(Send(command(1024)).Result, TCommandResult::TooLong);
    // Without an answer to wait for, the command is done once the client took it.
    EXPECT_EQ(Send(command(1023)).Result, TCommandResult::Answered);
    EXPECT_EQ(Send(command(4000)).Result, TCommandResult::TooLong);
    const auto log = ReadLines(LogPath);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[2], command(1023) + "\t1024");
}

// ---------------------------------------------------------------------------
// Window titles, as the local translation program's detection reads them.

struct TitleCase {
    std::vector<std::string> Titles;
    bool Running;
};

class LocalProgramDetection : public ::testing::TestWithParam<TitleCase> {};

TEST_P(LocalProgramDetection, FindsTheProgramByItsExactTitleInAnotherProcess) {
    const auto windows = OpenDesktopWindows(UniqueName("Velantro"));
    ASSERT_TRUE(windows->Connected()) << windows->ErrorText();
    ASSERT_FALSE(velantro::translate::LocalTranslatorRunning(*windows))
        << "a window with the program's title is left over";
    std::vector<std::unique_ptr<PeerProcess>> owners;
    for (const std::string& title : GetParam().Titles) {
        ASSERT_NO_THROW(owners.push_back(std::make_unique<PeerProcess>(*windows, title, "")));
    }
    EXPECT_EQ(velantro::translate::LocalTranslatorRunning(*windows), GetParam().Running);
    owners.clear();
    EXPECT_FALSE(velantro::translate::LocalTranslatorRunning(*windows));
}

INSTANTIATE_TEST_SUITE_P(
    Titles, LocalProgramDetection,
    ::testing::Values(TitleCase{{"Tolvane Verbatrix 3.5"}, true},
                      TitleCase{{"Tolvane Verbatrix 3.5 (2)"}, false},
                      TitleCase{{"tolvane verbatrix 3.5"}, false},
                      TitleCase{{"Tolvane Verbatrix 3.5 (2)", "Tolvane Verbatrix 3.5"}, true}));

TEST(Win32WindowTitles, TitlesAreReadIntoTheBufferGivenAndEndWithTheWindow) {
    const std::string longTitle = "Tolvane Verbatrix 3." + std::string(300, 'x') + "(2)";
    auto window = OpenDesktopWindows(longTitle);
    ASSERT_TRUE(window->Connected()) << window->ErrorText();
    const WindowHandle handle = window->ApplicationWindow();

    char buffer[255];
    EXPECT_EQ(window->ReadWindowTitle(handle, buffer, sizeof buffer), 254);
    EXPECT_EQ(std::string(buffer), longTitle.substr(0, 254));
    // The detection reads 255 bytes too, so the "(2)" past them goes unseen.
    EXPECT_TRUE(velantro::translate::LocalTranslatorRunning(*window));

    const auto other = OpenDesktopWindows(UniqueName("Velantro"));
    window.reset();
    buffer[0] = 'x';
    EXPECT_EQ(other->ReadWindowTitle(handle, buffer, sizeof buffer), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_FALSE(velantro::translate::LocalTranslatorRunning(*other));
}

TEST(Win32WindowTitles, EnumerationSeesHiddenWindowsStopsWhenAskedAndPassesErrorsOn) {
    const std::string title = UniqueName("Velantro");
    const auto windows = OpenDesktopWindows(title);
    EXPECT_EQ(FindWindowTitled(*windows, title), windows->ApplicationWindow());
    int visited = 0;
    EXPECT_TRUE(windows->EnumerateWindows([&](WindowHandle) { return ++visited < 2; }));
    EXPECT_EQ(visited, 2);
    EXPECT_THROW(windows->EnumerateWindows(
                     [](WindowHandle) -> bool { throw std::runtime_error("visitor failed"); }),
                 std::runtime_error);
}

// ---------------------------------------------------------------------------
// Settings through the profile API, in the Windows directory.

class Win32Profile : public ::testing::Test {
protected:
    std::string Name = UniqueName("velantro-test") + ".ini";
    std::string Path;

    void SetUp() override {
        char folder[MAX_PATH];
        const UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
        ASSERT_GT(length, 0u);
        Path = std::string(folder, length) + "\\" + Name;
    }
    void TearDown() override { DeleteFileA(Path.c_str()); }
};

TEST_F(Win32Profile, ValuesMakeTheRoundTripThroughTheFileInTheWindowsDirectory) {
    const auto profile = OpenProfileFile(Name);
    EXPECT_EQ(profile->DisplayName(), Name);
    EXPECT_EQ(profile->ReadValue("Settings", "Language"), "") << "no file yet";

    ASSERT_TRUE(profile->WriteValue("Settings", "Language", "es"));
    ASSERT_TRUE(profile->WriteValue("Settings", "FontSize", "12"));
    ASSERT_TRUE(profile->Flush());
    EXPECT_EQ(ReadText(Path), "[Settings]\nLanguage=es\nFontSize=12\n");

    // A key written again keeps its place; names compare without case.
    ASSERT_TRUE(profile->WriteValue("settings", "LANGUAGE", "bg"));
    ASSERT_TRUE(profile->Flush());
    EXPECT_EQ(ReadText(Path), "[Settings]\nLanguage=bg\nFontSize=12\n");

    const auto again = OpenProfileFile(Name);
    EXPECT_EQ(again->ReadValue("SETTINGS", "language"), "bg");
    EXPECT_EQ(again->ReadValue("Settings", "FontSize"), "12");
    EXPECT_EQ(again->ReadValue("Settings", "Missing"), "");
    EXPECT_EQ(again->ReadValue("Other", "Language"), "");
}

TEST_F(Win32Profile, HandWrittenFilesKeepTheirOtherLinesAndValuesLoseTheirBlanks) {
    std::ofstream(Path, std::ios::binary) << "; written by hand\r\n"
                                             "[Other]\r\nKey=kept\r\n"
                                             "[Settings]\r\nLanguage =   fr   \r\n";
    const auto profile = OpenProfileFile(Name);
    EXPECT_EQ(profile->ReadValue("Settings", "Language"), "fr");
    EXPECT_EQ(profile->ReadValue("Other", "Key"), "kept");

    ASSERT_TRUE(profile->WriteValue("Settings", "FontSize", "9"));
    ASSERT_TRUE(profile->Flush());
    const std::string text = ReadText(Path);
    EXPECT_THAT(text, ::testing::StartsWith("; written by hand\n[Other]\nKey=kept\n[Settings]\n"));
    EXPECT_THAT(text, ::testing::HasSubstr("FontSize=9\n"));
    EXPECT_EQ(profile->ReadValue("Settings", "Language"), "fr");
}

TEST_F(Win32Profile, LongValuesAreReadUpToTheLongestValue) {
    const auto profile = OpenProfileFile(Name);
    const std::string value(3000, 'v');
    ASSERT_TRUE(profile->WriteValue("Settings", "Long", value));
    ASSERT_TRUE(profile->Flush());
    EXPECT_EQ(profile->ReadValue("Settings", "Long"),
              value.substr(0, velantro::platform::ProfileFile::MaxValueLength));
}

} // namespace
