#pragma once

// How skype-peer reaches an XMPP account: the command line's choices, the
// rules they must keep, and the pieces of connection policy that need no
// connection (server addresses, the reconnection back-off, the log's
// redaction of the password).

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velantro::standins {

/// The environment variable that may hold the account's password.
inline constexpr std::string_view PasswordVariable = "SKYPE_PEER_XMPP_PASSWORD";

struct XmppSettings {
    /// The account; empty when the peer plays a script instead.
    std::string Jid;
    /// A file of settings (ReadXmppConfig) that gives what the command line
    /// does not; empty for none.
    std::string ConfigPath;
    /// A file whose first line is the password; empty: the environment
    /// variable, else the desktop's keyring.
    std::string PasswordFile;
    /// Ask for the password and store it in the desktop's keyring, instead
    /// of signing in.
    bool RememberPassword = false;
    /// The server to connect to; empty: found from the JID's domain (DNS SRV).
    std::string ServerHost;
    std::uint16_t ServerPort = 0; ///< 0: the default port
    /// Certificates of authorities to trust besides the system's.
    std::string CaFile;
    /// An unencrypted connection, for a server on the loopback address only.
    bool Plain = false;
    /// Where the XMPP traffic is written, the password redacted; empty for nowhere.
    std::string LogPath;
    /// Where how far the account's message archive has been read is kept
    /// (ArchiveStatePath); empty: nowhere, each start reads on from the
    /// archive's newest message.
    std::string StatePath;
};

struct ServerAddress {
    std::string Host;
    std::uint16_t Port = 0; ///< 0 when none was given
    bool operator==(const ServerAddress&) const = default;
};

/// Reads HOST, HOST:PORT, [IPV6] or [IPV6]:PORT; nothing when malformed.
std::optional<ServerAddress> ParseServerAddress(std::string_view text);

/// localhost, an IPv4 address in 127.0.0.0/8 written in full, or ::1.
bool IsLoopbackHost(std::string_view host);

/// Throws std::invalid_argument when the settings break a rule: a JID
/// without a local part or domain, an unencrypted connection to anything but
/// the loopback address, a password both asked for and read from a file.
void CheckXmppSettings(const XmppSettings& settings);

/// Fills what settings leave empty from the text of an account file: lines
/// "key = value" with the keys jid, server (HOST[:PORT]), ca and
/// password-file, blank lines and "#" comments. A relative path is taken
/// from folder, "~/" from home. Throws std::invalid_argument naming
/// fileName and the line for anything else, a key given twice included.
void ReadXmppConfig(std::string_view text, std::string_view fileName, std::string_view folder,
                    std::string_view home, XmppSettings& settings);

/// The same from the file settings.ConfigPath names, if any. Throws
/// std::runtime_error when it cannot be read.
void LoadXmppConfig(XmppSettings& settings);

/// A line of the XMPP log with the password and the contents of SASL
/// elements (which carry it, encoded, for the PLAIN mechanism) replaced by
/// [redacted].
std::string RedactLogLine(std::string_view line, std::string_view password);

/// Pauses between reconnection attempts: 1 s, doubling up to 60 s; back to
/// 1 s once signed in again.
class ReconnectBackoff {
public:
    std::chrono::seconds Next() {
        const std::chrono::seconds pause = Pause;
        Pause = std::min(Pause * 2, Longest);
        return pause;
    }
    void Reset() { Pause = Shortest; }

private:
    static constexpr std::chrono::seconds Shortest{1};
    static constexpr std::chrono::seconds Longest{60};
    std::chrono::seconds Pause = Shortest;
};

} // namespace velantro::standins
