// skype-peer: plays the chat client on the session bus, for the demo and
// the end-to-end tests. See docs/skype-peer.md.

#include "ChatClient.h"
#include "PeerScript.h"
#include "SkypePeer.h"
#include "common/EscapedText.h"
#include "platform/bus/BusWindows.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

using velantro::platform::WindowHandle;
using velantro::standins::ChatClient;
using velantro::standins::IncomingMessage;
using velantro::standins::ScriptStep;
using velantro::standins::SkypePeer;
using velantro::tools::EscapeBytes;

constexpr std::string_view Usage =
    "usage: skype-peer [--script FILE] [--log FILE] [--user HANDLE] [--friends A,B,...]\n"
    "                  [--echo HANDLE] [--title TITLE] [--quiet]\n"
    "Plays the chat client on the D-Bus session bus. Type \"alice: hola\" to receive a\n"
    "message from alice, \"raw LINE\" to send a line as it is, \"quit\" to end.\n";

struct Settings {
    ChatClient::Options Client;
    std::string ScriptPath;
    std::string LogPath;
    std::string Title = "skype-peer";
    bool Quiet = false;
};

std::vector<std::string> SplitList(std::string_view text) {
    std::vector<std::string> items;
    while (!text.empty()) {
        const auto comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        if (!item.empty()) {
            items.emplace_back(item);
        }
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    }
    return items;
}

/// Reads the command line; throws std::invalid_argument for a bad one.
Settings ReadArguments(const std::vector<std::string_view>& args) {
    Settings settings;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view option = args[i];
        if (option == "--quiet") {
            settings.Quiet = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            throw std::invalid_argument("unknown option or missing value: " + std::string(option));
        }
        const std::string value(args[++i]);
        if (option == "--script") {
            settings.ScriptPath = value;
        } else if (option == "--log") {
            settings.LogPath = value;
        } else if (option == "--user") {
            settings.Client.UserHandle = value;
        } else if (option == "--friends") {
            settings.Client.Friends = SplitList(value);
        } else if (option == "--echo") {
            settings.Client.EchoContact = value;
        } else if (option == "--title") {
            settings.Title = value;
        } else {
            throw std::invalid_argument("unknown option: " + std::string(option));
        }
    }
    if (settings.Client.UserHandle.empty() ||
        settings.Client.UserHandle.find_first_of(" \t\r\n") != std::string::npos) {
        throw std::invalid_argument("--user needs a handle without blanks");
    }
    return settings;
}

void RunLater(std::function<void()> work) {
    QTimer::singleShot(0, QCoreApplication::instance(), std::move(work));
}

/// Plays the steps of a script one after another, letting the event loop
/// run between them.
class ScriptPlayer {
public:
    ScriptPlayer(std::vector<ScriptStep> steps, SkypePeer& peer, bool quiet)
        : Steps(std::move(steps))
        , Peer(peer)
        , Quiet(quiet) {}

    void Start() {
        if (!Started) {
            Started = true;
            RunLater([this] { Next(); });
        }
    }

private:
    void Next() {
        if (Index >= Steps.size()) {
            if (!Quiet && !Steps.empty()) {
                std::cout << "script finished" << std::endl;
            }
            return;
        }
        const ScriptStep& step = Steps[Index++];
        switch (step.What) {
        case ScriptStep::Kind::Message:
            Peer.PlayIncoming(step.Message);
            break;
        case ScriptStep::Kind::Raw:
            Peer.SendToAll(step.Line);
            break;
        case ScriptStep::Kind::Wait:
            QTimer::singleShot(step.Pause, QCoreApplication::instance(), [this] { Next(); });
            return;
        }
        RunLater([this] { Next(); });
    }

    std::vector<ScriptStep> Steps;
    SkypePeer& Peer;
    bool Quiet;
    bool Started = false;
    std::size_t Index = 0;
};

/// Lines typed at the console, played as they come.
class Console {
public:
    explicit Console(SkypePeer& peer)
        : Peer(peer)
        , Notifier(STDIN_FILENO, QSocketNotifier::Read) {
        QObject::connect(&Notifier, &QSocketNotifier::activated, [this] { Read(); });
    }

private:
    void Read() {
        if (InBackground()) {
            Pause();
            return;
        }
        char chunk[4096];
        const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
            return;
        }
        if (count < 0 && errno == EIO) {
            Pause(); // moved to the background between the check and the read
            return;
        }
        if (count <= 0) {
            Notifier.setEnabled(false); // end of input: the peer keeps running
            return;
        }
        Pending.append(chunk, static_cast<std::size_t>(count));
        for (auto end = Pending.find('\n'); end != std::string::npos; end = Pending.find('\n')) {
            const std::string line = Pending.substr(0, end);
            Pending.erase(0, end + 1);
            Play(line);
        }
    }

    /// Started in the background of a terminal (skype-peer &), the peer
    /// leaves the terminal's input to the foreground until it is brought
    /// to the foreground itself.
    static bool InBackground() {
        return ::isatty(STDIN_FILENO) != 0 && ::tcgetpgrp(STDIN_FILENO) != ::getpgrp();
    }

    void Pause() {
        Notifier.setEnabled(false);
        QTimer::singleShot(300, &Notifier, [this] { Notifier.setEnabled(true); });
    }

    void Play(const std::string& line) {
        if (line == "quit" || line == "quit\r") {
            QCoreApplication::quit();
            return;
        }
        try {
            const auto step = velantro::standins::ParseScriptLine(line);
            if (!step) {
                return;
            }
            if (step->What == ScriptStep::Kind::Message) {
                if (Peer.AttachedPrograms().empty()) {
                    std::cerr << "skype-peer: no program attached yet; the message waits for one\n";
                }
                Peer.PlayIncoming(step->Message);
            } else if (step->What == ScriptStep::Kind::Raw) {
                Peer.SendToAll(step->Line);
            } else {
                std::cerr << "skype-peer: wait works in script files only\n";
            }
        } catch (const std::invalid_argument& error) {
            std::cerr << "skype-peer: " << error.what() << "\n";
        }
    }

    SkypePeer& Peer;
    QSocketNotifier Notifier;
    std::string Pending;
};

} // namespace

int main(int argc, char** argv) {
    // Reading the terminal from the background gives an error instead of
    // stopping the peer while programs wait for its answers.
    std::signal(SIGTTIN, SIG_IGN);
    QCoreApplication app(argc, argv);
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    if (!args.empty() && (args.front() == "--help" || args.front() == "-h")) {
        std::cout << Usage;
        return 0;
    }
    Settings settings;
    std::vector<ScriptStep> script;
    try {
        settings = ReadArguments(args);
        if (!settings.ScriptPath.empty()) {
            script = velantro::standins::ReadScript(settings.ScriptPath);
        }
    } catch (const std::exception& error) {
        std::cerr << "skype-peer: " << error.what() << "\n" << Usage;
        return 2;
    }

    std::ofstream log;
    if (!settings.LogPath.empty()) {
        log.open(settings.LogPath, std::ios::binary | std::ios::trunc);
        if (!log) {
            std::cerr << "skype-peer: cannot write the log file " << settings.LogPath << "\n";
            return 2;
        }
    }

    velantro::platform::BusWindows windows(settings.Title);
    if (!windows.Connected()) {
        std::cerr << "skype-peer: " << windows.ErrorText() << "\n";
        return 1;
    }
    ChatClient client(settings.Client);
    std::optional<SkypePeer> peer;
    try {
        peer.emplace(windows, client, &RunLater);
    } catch (const std::exception& error) {
        std::cerr << "skype-peer: " << error.what() << "\n";
        return 1;
    }
    ScriptPlayer player(std::move(script), *peer, settings.Quiet);

    peer->OnCommand = [&](WindowHandle from, std::string_view line, std::uint32_t) {
        if (log.is_open()) {
            log << EscapeBytes(line) << '\n' << std::flush;
        }
        if (!settings.Quiet) {
            std::cout << "<- " << from << ": " << EscapeBytes(line) << std::endl;
        }
    };
    peer->OnSent = [&](WindowHandle to, std::string_view line, bool accepted) {
        if (!settings.Quiet) {
            std::cout << "-> " << to << ": " << EscapeBytes(line)
                      << (accepted ? "" : "   (not accepted)") << std::endl;
        }
    };
    peer->OnAttachStatus = [&](WindowHandle to, std::intptr_t status, bool accepted) {
        if (!settings.Quiet) {
            std::cout << "-> " << to << ": attach status " << status
                      << (accepted ? "" : "   (not accepted)") << std::endl;
        }
    };
    peer->OnHandshake = [&](WindowHandle) {
        player.Start();
    };
    Console console(*peer);

    // Without its bus the peer can reach no one: it ends instead of lingering.
    QTimer busWatch;
    QObject::connect(&busWatch, &QTimer::timeout, [&] {
        if (!windows.Connected()) {
            std::cerr << "skype-peer: the session bus has gone away\n";
            QCoreApplication::exit(1);
        }
    });
    busWatch.start(500);
    // Programs already waiting (Velantro re-attaches by itself) attach again.
    QTimer::singleShot(0, [&] { peer->AnnounceAPIAvailable(); });

    if (!settings.Quiet) {
        std::cout << "skype-peer: window " << windows.ApplicationWindow()
                  << " on the session bus, user " << settings.Client.UserHandle
                  << "; waiting for a program to attach" << std::endl;
    }
    return app.exec();
}
