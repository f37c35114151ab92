// skype-peer on Windows: plays the chat client over the desktop's window
// messages, for the tests that run under Wine. The same chat client as the
// Linux program, without its script player and console.

#include "ChatClient.h"
#include "PeerProgram.h"
#include "SkypePeer.h"
#include "platform/DesktopServices.h"

#include <fstream>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

using velantro::platform::WindowHandle;
using velantro::standins::ChatClient;
using velantro::standins::FirstMessageId;
using velantro::standins::MillisecondsNow;
using velantro::standins::OpenPeerLog;
using velantro::standins::PeerSettings;
using velantro::standins::ReadPeerArguments;
using velantro::standins::ShowTraffic;
using velantro::standins::SkypePeer;

constexpr std::string_view Usage =
    "usage: skype-peer [--log FILE] [--user HANDLE] [--friends A,B,...] [--echo HANDLE]\n"
    "                  [--title TITLE] [--quiet]\n"
    "Plays the chat client over window messages until its window is closed.\n";

} // namespace

int main(int argc, char** argv) {
    PeerSettings settings;
    try {
        settings = ReadPeerArguments(std::vector<std::string_view>(argv + 1, argv + argc));
        if (!settings.ScriptPath.empty()) {
            throw std::invalid_argument("--script needs the script player of the Linux peer");
        }
        if (!settings.Xmpp.Jid.empty()) {
            throw std::invalid_argument("--xmpp needs the Linux peer");
        }
    } catch (const std::invalid_argument& error) {
        std::cerr << "skype-peer: " << error.what() << "\n" << Usage;
        return 2;
    }
    std::ofstream log;
    try {
        OpenPeerLog(settings, log);
    } catch (const std::runtime_error& error) {
        std::cerr << "skype-peer: " << error.what() << "\n";
        return 2;
    }

    const auto windows = velantro::platform::OpenDesktopWindows(settings.Title);
    if (!windows->Connected()) {
        std::cerr << "skype-peer: " << windows->ErrorText() << "\n";
        return 1;
    }
    ChatClient client(settings.Client);
    client.NumberMessagesFrom(FirstMessageId(MillisecondsNow()));
    std::optional<SkypePeer> peer;
    try {
        peer.emplace(*windows, client);
    } catch (const std::runtime_error& error) {
        std::cerr << "skype-peer: " << error.what() << "\n";
        return 1;
    }
    // The log shows each line with the size of the block that carried it.
    ShowTraffic(*peer, settings, log, true);
    if (!settings.Quiet) {
        std::cout << "skype-peer: window " << windows->ApplicationWindow() << ", user "
                  << settings.Client.UserHandle << "; waiting for a program to attach" << std::endl;
    }
    // Programs already waiting (Velantro re-attaches by itself) attach again.
    windows->RunLater([&peer] { peer->AnnounceAPIAvailable(); });
    windows->RunMessageLoop();
    return 0;
}
