// skype-peer on Windows: plays the chat client over the desktop's window
// messages, for the tests that run under Wine. The same chat client as the
// Linux program, without its script player and console.

#include "ChatClient.h"
#include "SkypePeer.h"
#include "common/EscapedText.h"
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
using velantro::standins::SkypePeer;
using velantro::tools::EscapeBytes;

constexpr std::string_view Usage =
    "usage: skype-peer [--log FILE] [--user HANDLE] [--title TITLE] [--quiet]\n"
    "Plays the chat client over window messages until its window is closed.\n";

struct Settings {
    ChatClient::Options Client;
    std::string LogPath;
    std::string Title = "skype-peer";
    bool Quiet = false;
};

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
        if (option == "--log") {
            settings.LogPath = value;
        } else if (option == "--user" && !value.empty() &&
                   value.find_first_of(" \t\r\n") == std::string::npos) {
            settings.Client.UserHandle = value;
        } else if (option == "--title") {
            settings.Title = value;
        } else {
            throw std::invalid_argument("bad option: " + std::string(option) + " " + value);
        }
    }
    return settings;
}

} // namespace

int main(int argc, char** argv) {
    Settings settings;
    try {
        settings = ReadArguments(std::vector<std::string_view>(argv + 1, argv + argc));
    } catch (const std::invalid_argument& error) {
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

    const auto windows = velantro::platform::OpenDesktopWindows(settings.Title);
    if (!windows->Connected()) {
        std::cerr << "skype-peer: " << windows->ErrorText() << "\n";
        return 1;
    }
    ChatClient client(settings.Client);
    std::optional<SkypePeer> peer;
    try {
        peer.emplace(*windows, client, [&windows](std::function<void()> work) {
            windows->RunLater(std::move(work));
        });
    } catch (const std::runtime_error& error) {
        std::cerr << "skype-peer: " << error.what() << "\n";
        return 1;
    }
    // The log shows each line with the size of the block that carried it.
    peer->OnCommand = [&](WindowHandle from, std::string_view line, std::uint32_t blockSize) {
        if (log.is_open()) {
            log << EscapeBytes(line) << '\t' << blockSize << '\n' << std::flush;
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
    if (!settings.Quiet) {
        std::cout << "skype-peer: window " << windows->ApplicationWindow() << ", user "
                  << settings.Client.UserHandle << "; waiting for a program to attach" << std::endl;
    }
    // Programs already waiting (Velantro re-attaches by itself) attach again.
    windows->RunLater([&peer] { peer->AnnounceAPIAvailable(); });
    windows->RunMessageLoop();
    return 0;
}
