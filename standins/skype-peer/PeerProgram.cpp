#include "PeerProgram.h"

#include "common/EscapedText.h"

#include <fstream>
#include <iostream>
#include <stdexcept>

namespace velantro::standins {

namespace {

using tools::EscapeBytes;

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

/// The account gives what the played network's options set; the XMPP
/// options mean nothing without an account.
void CheckXmppOptions(const std::vector<std::string_view>& args, const XmppSettings& xmpp) {
    // The account file names the account as well as --xmpp does.
    const bool account = !xmpp.Jid.empty() || !xmpp.ConfigPath.empty();
    for (const std::string_view option : args) {
        const bool scriptOption = option == "--script" || option == "--user" ||
                                  option == "--friends" || option == "--echo";
        if (account && scriptOption) {
            throw std::invalid_argument(std::string(option) +
                                        " is for the played network; with --xmpp the account "
                                        "gives the user, the friends and the messages");
        }
        if (!account && (option.starts_with("--xmpp-") || option == "--remember-password")) {
            throw std::invalid_argument(std::string(option) +
                                        " needs --xmpp JID or --xmpp-config FILE");
        }
    }
}

const char* AcceptedNote(bool accepted) {
    return accepted ? "" : "   (not accepted)";
}

} // namespace

PeerSettings ReadPeerArguments(const std::vector<std::string_view>& args) {
    PeerSettings settings;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view option = args[i];
        if (option == "--quiet") {
            settings.Quiet = true;
            continue;
        }
        if (option == "--xmpp-plain") {
            settings.Xmpp.Plain = true;
            continue;
        }
        if (option == "--remember-password") {
            settings.Xmpp.RememberPassword = true;
            continue;
        }
        if (option == "--xmpp-password") {
            throw std::invalid_argument(
                "a password on the command line is seen by every user of the machine; store it "
                "in the desktop's keyring with --remember-password, or use "
                "--xmpp-password-file FILE or the environment variable " +
                std::string(PasswordVariable));
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
        } else if (option == "--xmpp") {
            settings.Xmpp.Jid = value;
        } else if (option == "--xmpp-config") {
            settings.Xmpp.ConfigPath = value;
        } else if (option == "--xmpp-password-file") {
            settings.Xmpp.PasswordFile = value;
        } else if (option == "--xmpp-server") {
            const auto server = ParseServerAddress(value);
            if (!server) {
                throw std::invalid_argument("--xmpp-server needs HOST or HOST:PORT");
            }
            settings.Xmpp.ServerHost = server->Host;
            settings.Xmpp.ServerPort = server->Port;
        } else if (option == "--xmpp-ca") {
            settings.Xmpp.CaFile = value;
        } else if (option == "--xmpp-log") {
            settings.Xmpp.LogPath = value;
        } else {
            throw std::invalid_argument("unknown option: " + std::string(option));
        }
    }
    if (settings.Client.UserHandle.empty() ||
        settings.Client.UserHandle.find_first_of(" \t\r\n") != std::string::npos) {
        throw std::invalid_argument("--user needs a handle without blanks");
    }
    CheckXmppOptions(args, settings.Xmpp);
    return settings;
}

void OpenPeerLog(const PeerSettings& settings, std::ofstream& log) {
    if (settings.LogPath.empty()) {
        return;
    }
    log.open(settings.LogPath, std::ios::binary | std::ios::trunc);
    if (!log) {
        throw std::runtime_error("cannot write the log file " + settings.LogPath);
    }
}

void ShowTraffic(SkypePeer& peer, const PeerSettings& settings, std::ofstream& log,
                 bool withBlockSizes) {
    const bool quiet = settings.Quiet;
    peer.OnCommand = [&log, quiet, withBlockSizes](platform::WindowHandle from,
                                                   std::string_view line, std::uint32_t blockSize) {
        if (log.is_open()) {
            log << EscapeBytes(line);
            if (withBlockSizes) {
                log << '\t' << blockSize;
            }
            log << '\n' << std::flush;
        }
        if (!quiet) {
            std::cout << "<- " << from << ": " << EscapeBytes(line) << std::endl;
        }
    };
    if (quiet) {
        return;
    }
    peer.OnSent = [](platform::WindowHandle to, std::string_view line, bool accepted) {
        std::cout << "-> " << to << ": " << EscapeBytes(line) << AcceptedNote(accepted)
                  << std::endl;
    };
    peer.OnAttachStatus = [](platform::WindowHandle to, std::intptr_t status, bool accepted) {
        std::cout << "-> " << to << ": attach status " << status << AcceptedNote(accepted)
                  << std::endl;
    };
}

} // namespace velantro::standins
