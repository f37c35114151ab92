#pragma once

// What both skype-peer programs share: the command line, the log and the
// console's view of the lines that pass.

#include "ChatClient.h"
#include "SkypePeer.h"
#include "XmppSettings.h"

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace velantro::standins {

struct PeerSettings {
    ChatClient::Options Client;
    std::string ScriptPath;
    std::string LogPath;
    std::string Title = "skype-peer";
    bool Quiet = false;
    /// An XMPP account instead of the played network when its Jid is set.
    XmppSettings Xmpp;
};

/// Reads the command line (without the program's name); throws
/// std::invalid_argument for a bad one.
PeerSettings ReadPeerArguments(const std::vector<std::string_view>& args);

/// Opens the log named in settings, if any, emptying it; throws
/// std::runtime_error when it cannot be written.
void OpenPeerLog(const PeerSettings& settings, std::ofstream& log);

/// Logs every command received, one line each, followed with a tab and the
/// size of the block that carried it when withBlockSizes; unless quiet,
/// also shows every line received and sent on the console.
void ShowTraffic(SkypePeer& peer, const PeerSettings& settings, std::ofstream& log,
                 bool withBlockSizes);

} // namespace velantro::standins
