// skype-peer: plays the chat client on the session bus, for the demo and
// the end-to-end tests. See docs/skype-peer.md.

#include "ChatClient.h"
#include "Jid.h"
#include "PeerProgram.h"
#include "PeerScript.h"
#include "SkypePeer.h"
#include "XmppAccount.h"
#include "XmppArchive.h"
#include "XmppKeyring.h"
#include "XmppPassword.h"
#include "platform/bus/BusWindows.h"
#include "version/ProgramInfo.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
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
using velantro::standins::BareJid;
using velantro::standins::ChatClient;
using velantro::standins::FirstMessageId;
using velantro::standins::IncomingMessage;
using velantro::standins::KeyringAnswer;
using velantro::standins::KeyringOutcome;
using velantro::standins::MillisecondsNow;
using velantro::standins::OpenPeerLog;
using velantro::standins::PeerSettings;
using velantro::standins::ReadPeerArguments;
using velantro::standins::ScriptStep;
using velantro::standins::ShowTraffic;
using velantro::standins::SkypePeer;
using velantro::standins::XmppAccount;

constexpr std::string_view Usage =
    "Usage: skype-peer [--script FILE] [--log FILE] [--user HANDLE] [--friends A,B,...]\n"
    "                  [--echo HANDLE] [--title TITLE] [--quiet]\n"
    "       skype-peer --xmpp JID [--xmpp-password-file FILE] [--xmpp-server HOST[:PORT]]\n"
    "                  [--xmpp-ca FILE] [--xmpp-plain] [--xmpp-log FILE] [--log FILE]\n"
    "                  [--title TITLE] [--quiet]\n"
    "       skype-peer --xmpp-config FILE [the --xmpp options above]\n"
    "       skype-peer --xmpp JID --remember-password\n"
    "Plays the chat client on the D-Bus session bus. Type \"alice: hola\" to receive a\n"
    "message from alice, \"raw LINE\" to send a line as it is, \"quit\" to end.\n"
    "With --xmpp the chat client is an XMPP account. Its password comes from the\n"
    "file, else from the environment variable SKYPE_PEER_XMPP_PASSWORD, else from the\n"
    "desktop's keyring (Secret Service), where --remember-password stores it: it asks\n"
    "for it on the terminal, without echo, and ends. --xmpp-config FILE reads the\n"
    "account from FILE (lines \"jid = ...\", \"server = ...\", \"ca = ...\",\n"
    "\"password-file = ...\"), as the user unit velantro-xmpp.service does with\n"
    "~/.config/velantro/xmpp.conf. See docs/xmpp.md.\n";

std::string_view EnvironmentText(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string_view() : std::string_view(value);
}

void RunLater(std::function<void()> work) {
    QTimer::singleShot(0, QCoreApplication::instance(), std::move(work));
}

// How long the console and the script hold back while a program's queue is
// busy: far less than the queue takes to go out.
constexpr std::chrono::milliseconds BusyPause{50};

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
        if (Peer.Busy()) {
            QTimer::singleShot(BusyPause, QCoreApplication::instance(), [this] { Next(); });
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
            Pause(std::chrono::milliseconds(300));
            return;
        }
        if (Peer.Busy()) {
            Pause(BusyPause); // the rest waits in the pipe, whose writer waits in turn
            return;
        }
        char chunk[4096];
        const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
            return;
        }
        if (count < 0 && errno == EIO) {
            Pause(std::chrono::milliseconds(300)); // moved to the background meanwhile
            return;
        }
        if (count <= 0) {
            Notifier.setEnabled(false); // end of input: the peer keeps running
            return;
        }
        // Only the new bytes are searched, so a long line costs its length
        // once rather than once per chunk.
        std::size_t searchFrom = Pending.size();
        Pending.append(chunk, static_cast<std::size_t>(count));
        for (auto end = Pending.find('\n', searchFrom); end != std::string::npos;
             end = Pending.find('\n', searchFrom)) {
            const std::string line = Pending.substr(0, end);
            Pending.erase(0, end + 1);
            searchFrom = 0;
            Play(line);
        }
    }

    /// Started in the background of a terminal (skype-peer &), the peer
    /// leaves the terminal's input to the foreground until it is brought
    /// to the foreground itself.
    static bool InBackground() {
        return ::isatty(STDIN_FILENO) != 0 && ::tcgetpgrp(STDIN_FILENO) != ::getpgrp();
    }

    void Pause(std::chrono::milliseconds pause) {
        Notifier.setEnabled(false);
        QTimer::singleShot(pause, &Notifier, [this] { Notifier.setEnabled(true); });
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

/// The XMPP account behind the chat client, reporting to the peer once it
/// exists. Throws when its log cannot be written.
std::unique_ptr<XmppAccount> OpenAccount(const PeerSettings& settings, std::string password,
                                         bool fromKeyring, std::optional<SkypePeer>& peer) {
    XmppAccount::Events events;
    events.SignedIn = [&peer] {
        if (peer) {
            peer->AnnounceAPIAvailable(); // programs attach again and read the roster
        }
    };
    events.SignedOut = [&peer](const std::string&) {
        if (peer) {
            peer->AnnounceAPIUnavailable();
        }
    };
    events.AuthenticationFailed = [fromKeyring](const std::string& why) {
        std::cerr << "skype-peer: XMPP sign-in failed: " << why
                  << (fromKeyring ? " (the password from the desktop's keyring; store the right "
                                    "one with --remember-password)"
                                  : "")
                  << std::endl;
        QCoreApplication::exit(1);
    };
    events.Incoming = [&peer](const IncomingMessage& message) {
        if (peer) {
            peer->PlayIncoming(message);
        }
    };
    events.OwnSent = [&peer](const velantro::standins::OwnMessage& message) {
        if (peer) {
            peer->PlayOwn(message);
        }
    };
    events.FriendsChanged = [&peer] {
        if (peer) {
            peer->AnnounceFriends();
        }
    };
    events.Problem = [](const std::string& line) {
        std::cerr << "skype-peer: " << line << std::endl;
    };
    if (!settings.Quiet) {
        events.Note = [](const std::string& line) {
            std::cout << "xmpp: " << line << std::endl;
        };
    }
    return std::make_unique<XmppAccount>(settings.Xmpp, std::move(password), std::move(events));
}

} // namespace

int main(int argc, char** argv) {
    // Reading the terminal from the background gives an error instead of
    // stopping the peer while programs wait for its answers.
    std::signal(SIGTTIN, SIG_IGN);
    // A write to a connection the XMPP server has closed (TLS writes through
    // the socket itself) fails with an error instead of ending the peer.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    if (!args.empty() && velantro::IsHelpRequest(args.front())) {
        std::cout << Usage;
        return 0;
    }
    if (!args.empty() && velantro::IsVersionRequest(args.front())) {
        std::cout << velantro::VersionText("skype-peer");
        return 0;
    }
    PeerSettings settings;
    std::vector<ScriptStep> script;
    try {
        settings = ReadPeerArguments(args);
        if (!settings.ScriptPath.empty()) {
            script = velantro::standins::ReadScript(settings.ScriptPath);
        }
    } catch (const std::exception& error) {
        std::cerr << "skype-peer: " << error.what() << "\n" << Usage;
        return 2;
    }

    std::ofstream log;
    std::optional<std::string> password;
    std::string newPassword;
    try {
        velantro::standins::LoadXmppConfig(settings.Xmpp);
        if (!settings.Xmpp.Jid.empty()) {
            velantro::standins::CheckXmppSettings(settings.Xmpp);
            settings.Xmpp.StatePath = velantro::standins::ArchiveStatePath(
                BareJid(settings.Xmpp.Jid), EnvironmentText("XDG_STATE_HOME"),
                EnvironmentText("HOME"));
        }
        if (settings.Xmpp.RememberPassword) {
            newPassword = velantro::standins::AskForPassword(BareJid(settings.Xmpp.Jid));
        } else {
            OpenPeerLog(settings, log);
            if (!settings.Xmpp.Jid.empty()) {
                password = velantro::standins::ReadXmppPassword(settings.Xmpp);
            }
        }
    } catch (const std::exception& error) {
        std::cerr << "skype-peer: " << error.what() << "\n";
        return 2;
    }

    // The keyring answers through the event loop, before anything else runs in it.
    const bool fromKeyring = !settings.Xmpp.Jid.empty() && !password;
    if (fromKeyring) {
        const std::string account = BareJid(settings.Xmpp.Jid);
        const bool storing = settings.Xmpp.RememberPassword;
        KeyringAnswer answer;
        const auto answered = [&answer](KeyringAnswer given) {
            answer = std::move(given);
            QCoreApplication::exit(0);
        };
        if (storing) {
            velantro::standins::StoreKeyringPassword(account, newPassword, answered);
        } else {
            velantro::standins::LookUpKeyringPassword(account, answered);
        }
        app.exec();
        if (answer.Outcome != KeyringOutcome::Done) {
            std::cerr << "skype-peer: "
                      << velantro::standins::DescribeKeyringProblem(answer, account, storing)
                      << std::endl;
            return 2;
        }
        if (storing) {
            std::cout << "skype-peer: the password of " << account
                      << " is in the desktop's keyring; skype-peer --xmpp " << account
                      << " signs in with it" << std::endl;
            return 0;
        }
        password = std::move(answer.Password);
    }

    velantro::platform::BusWindows windows(settings.Title);
    if (!windows.Connected()) {
        std::cerr << "skype-peer: " << windows.ErrorText() << "\n";
        return 1;
    }
    // Everything below goes before the bus windows do; the peer goes first
    // of all (see the end), while the client and the account it uses remain.
    std::optional<SkypePeer> peer;
    std::unique_ptr<XmppAccount> account;
    try {
        if (!settings.Xmpp.Jid.empty()) {
            account = OpenAccount(settings, std::move(*password), fromKeyring, peer);
        }
    } catch (const std::exception& error) {
        std::cerr << "skype-peer: " << error.what() << "\n";
        return 2;
    }
    ChatClient client = account ? ChatClient(*account) : ChatClient(settings.Client);
    client.NumberMessagesFrom(FirstMessageId(MillisecondsNow()));
    try {
        peer.emplace(windows, client);
    } catch (const std::exception& error) {
        std::cerr << "skype-peer: " << error.what() << "\n";
        return 1;
    }
    ScriptPlayer player(std::move(script), *peer, settings.Quiet);

    ShowTraffic(*peer, settings, log, false);
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
    if (account) {
        // Programs hear that the API is available once the account has signed in.
        account->Start();
    } else {
        // Programs already waiting (Velantro re-attaches by itself) attach again.
        QTimer::singleShot(0, [&] { peer->AnnounceAPIAvailable(); });
    }

    if (!settings.Quiet) {
        std::cout << "skype-peer: window " << windows.ApplicationWindow()
                  << " on the session bus, user " << client.UserHandle()
                  << "; waiting for a program to attach" << std::endl;
    }
    const int status = app.exec();
    peer.reset();
    return status;
}
