// The Windows layer over the desktop's own services (run under Wine by the
// cross build): the attach sequence with skype-peer.exe in a process of its
// own, the local program's detection over real window titles, and settings
// through the profile API.

#include "platform/DesktopServices.h"
#include "skype/SkypeControl.h"
#include "support/HandshakeEvents.h"
#include "translate/LocalTranslator.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
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
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using velantro::platform::CopyDataMessage;
using velantro::platform::CopyDataRecord;
using velantro::platform::DesktopWindows;
using velantro::platform::OpenDesktopWindows;
using velantro::platform::OpenProfileFile;
using velantro::platform::WindowHandle;

namespace velantro::skype {

void PrintTo(TCommandResult result, std::ostream* out) {
    constexpr const char* Names[] = {"Sent", "Dropped", "TooLong", "NotAccepted"};
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

/// A name no other window or file of this test run has.
std::string UniqueName(const std::string& stem) {
    static int counter = 0;
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

// ---------------------------------------------------------------------------
// The attach sequence and commands, between this program and skype-peer.exe.

/// One line the component took from the client, and whether a command was
/// being sent at the time.
struct ReceivedLine {
    std::string Line;
    bool DuringSend = false;

    bool operator==(const ReceivedLine&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const ReceivedLine& line) {
        return out << ::testing::PrintToString(line.Line) << (line.DuringSend ? " (in send)" : "");
    }
};

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

    void Attach() {
        ASSERT_NO_FATAL_FAILURE(StartPeer());
        ASSERT_NE(Skype->Attach(4), 0);
        ASSERT_TRUE(WaitUntil([&] { return Attached; })) << ::testing::PrintToString(Events);
        Lines.clear();
    }

    TCommandResult Send(std::string_view command) {
        Sending = true;
        const TCommandResult result = Skype->SendCommand(command);
        Sending = false;
        return result;
    }
};

TEST_F(PeerSession, AttachesThroughTheBroadcastAndHandshakesWithLinesAndTheirNul) {
    Attach();
    // Status 1, then 0; the client's answers to NAME and PROTOCOL arrive while
    // those lines are being sent, before the success is reported.
    EXPECT_THAT(Events, ElementsAre("AttachPending", "Protocol 4", "CurrentUserHandle me",
                                    "AttachSuccess"));
    EXPECT_EQ(Skype->SkypeWindowHandle(), Peer->Window);
    // The peer logs each line with the cbData of its block: the length and the NUL.
    EXPECT_THAT(ReadLines(LogPath), ElementsAre("NAME Velantro\t14", "PROTOCOL 4\t11"));
}

TEST_F(PeerSession, AProgramThatReattachesByItselfAttachesWhenThePeerStarts) {
    Skype->AutoReAttach = true;
    StartPeer();
    // The peer's broadcast that its API is available makes the program attach.
    ASSERT_TRUE(WaitUntil([&] { return Attached; })) << ::testing::PrintToString(Events);
    EXPECT_THAT(Events, ElementsAre("AttachPending", "Protocol 4", "CurrentUserHandle me",
                                    "AttachSuccess"));
}

TEST_F(PeerSession, AnswersArriveWhileTheCommandIsStillBeingSent) {
    Attach();
    // Nothing here delivers messages during a send: the answers get in only
    // because the send itself lets messages to this thread's windows through.
    EXPECT_EQ(Send("PING"), TCommandResult::Sent);
    EXPECT_EQ(Send("SEARCH FRIENDS"), TCommandResult::Sent);
    EXPECT_THAT(Lines, ElementsAre(ReceivedLine{"PONG", true},
                                   ReceivedLine{"USERS alice, bob, echo", true}));
}

TEST_F(PeerSession, CopyDataFromAForeignWindowIsIgnored) {
    Attach();
    const WindowHandle program = Windows->ApplicationWindow();
    const WindowHandle peer = Peer->Window;
    // A window of another thread sends lines to both ends, naming itself.
    std::atomic<bool> done = false;
    std::intptr_t toProgram = -1;
    std::intptr_t toPeer = -1;
    std::thread foreign([&] {
        const auto windows = OpenDesktopWindows(UniqueName("foreign"));
        const auto sendLine = [&](WindowHandle to, const std::string& line) {
            CopyDataRecord record{0, static_cast<std::uint32_t>(line.size() + 1), line.c_str()};
            return windows->SendToWindow(to, CopyDataMessage, windows->ApplicationWindow(),
                                         reinterpret_cast<std::intptr_t>(&record));
        };
        toProgram = sendLine(program, "PROTOCOL 2");
        toPeer = sendLine(peer, "PING");
        done = true;
    });
    const bool finished = WaitUntil([&] { return done.load(); });
    foreign.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(toProgram, 0) << "the program took a line from a window it is not attached to";
    EXPECT_EQ(toPeer, 0) << "the peer took a command from a window that never attached";
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
    EXPECT_EQ(Send(command(1024)), TCommandResult::TooLong);
    EXPECT_EQ(Send(command(1023)), TCommandResult::Sent);
    EXPECT_EQ(Send(command(4000)), TCommandResult::TooLong);
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

TEST(Win32WindowMessages, AnErrorInAHookStaysOnItsOwnSideOfTheWindowProcedure) {
    const auto sender = OpenDesktopWindows(UniqueName("Velantro"));
    const auto other = OpenDesktopWindows(UniqueName("Velantro"));
    const std::uint32_t msg = sender->RegisterMessageName(UniqueName("VelantroTest"));
    sender->HookMainWindow([msg](velantro::platform::WindowMessage& message) -> bool {
        if (message.Msg == msg) {
            throw std::runtime_error("own hook failed");
        }
        return false;
    });
    std::vector<std::intptr_t> seenByOther;
    other->HookMainWindow([&](velantro::platform::WindowMessage& message) {
        if (message.Msg != msg) {
            return false;
        }
        seenByOther.push_back(message.LParam);
        message.Result = 9;
        return true;
    });
    // The sender's own error comes back to it once every window has the message.
    EXPECT_THROW(sender->Broadcast(msg, 0, 1), std::runtime_error);
    EXPECT_THAT(seenByOther, ElementsAre(1));
    // Sent by another window, the failed message is handled with 0.
    EXPECT_EQ(other->SendToWindow(sender->ApplicationWindow(), msg, 0, 2), 0);
    EXPECT_EQ(sender->SendToWindow(other->ApplicationWindow(), msg, 0, 3), 9);
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
