#include "XmppSettings.h"

#include "Jid.h"
#include "common/IntegerText.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace velantro::standins {

namespace {

bool IsLoopbackIPv4(std::string_view host) {
    int parts = 0;
    while (!host.empty()) {
        const auto dot = host.find('.');
        const std::string_view part = host.substr(0, dot);
        unsigned value = 0;
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (part.empty() || part.size() > 3 || error != std::errc() ||
            end != part.data() + part.size() || value > 255 || (parts == 0 && value != 127)) {
            return false;
        }
        ++parts;
        if (dot == std::string_view::npos) {
            break;
        }
        host.remove_prefix(dot + 1);
        if (host.empty()) {
            return false;
        }
    }
    return parts == 4;
}

/// Replaces the text between <tag ...> and </tag> with the mark, for each
/// SASL element that may carry the password.
void RedactElements(std::string& line) {
    for (const std::string_view tag : {"auth", "response", "success", "challenge"}) {
        const std::string open = "<" + std::string(tag);
        const std::string close = "</" + std::string(tag) + ">";
        for (std::size_t at = line.find(open); at != std::string::npos;
             at = line.find(open, at + 1)) {
            const char after = at + open.size() < line.size() ? line[at + open.size()] : '\0';
            if (after != ' ' && after != '>') {
                continue; // another tag that starts alike
            }
            const auto start = line.find('>', at);
            const auto end = start == std::string::npos ? start : line.find(close, start);
            if (end == std::string::npos || line[start - 1] == '/') {
                continue;
            }
            line.replace(start + 1, end - start - 1, "[redacted]");
        }
    }
}

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

/// A path from the account file: "~/" under home, a relative one under folder.
std::string FilePath(std::string_view value, std::string_view folder, std::string_view home) {
    if (value.starts_with("~/")) {
        return std::string(home) + std::string(value.substr(1));
    }
    if (value.starts_with('/') || folder.empty()) {
        return std::string(value);
    }
    return std::string(folder) + "/" + std::string(value);
}

/// Sets one key of the account file unless the command line gave it.
void ApplyConfigValue(std::string_view key, std::string_view value, std::string_view folder,
                      std::string_view home, XmppSettings& settings) {
    if (key == "jid") {
        if (settings.Jid.empty()) {
            settings.Jid = value;
        }
    } else if (key == "server") {
        const auto server = ParseServerAddress(value);
        if (!server) {
            throw std::invalid_argument("server needs HOST or HOST:PORT");
        }
        if (settings.ServerHost.empty()) {
            settings.ServerHost = server->Host;
            settings.ServerPort = server->Port;
        }
    } else if (key == "ca") {
        if (settings.CaFile.empty()) {
            settings.CaFile = FilePath(value, folder, home);
        }
    } else if (key == "password-file") {
        if (settings.PasswordFile.empty()) {
            settings.PasswordFile = FilePath(value, folder, home);
        }
    } else {
        throw std::invalid_argument("unknown key \"" + std::string(key) +
                                    "\" (the keys are jid, server, ca and password-file)");
    }
}

} // namespace

std::optional<ServerAddress> ParseServerAddress(std::string_view text) {
    ServerAddress address;
    std::string_view rest;
    if (text.starts_with('[')) {
        const auto close = text.find(']');
        if (close == std::string_view::npos || close == 1) {
            return std::nullopt;
        }
        address.Host = std::string(text.substr(1, close - 1));
        rest = text.substr(close + 1);
        if (!rest.empty() && !rest.starts_with(':')) {
            return std::nullopt;
        }
    } else {
        const auto colon = text.find(':');
        if (colon != std::string_view::npos &&
            text.find(':', colon + 1) != std::string_view::npos) {
            address.Host = std::string(text); // a bare IPv6 address
        } else {
            address.Host = std::string(text.substr(0, colon));
            rest = colon == std::string_view::npos ? std::string_view() : text.substr(colon);
        }
    }
    if (address.Host.empty() || address.Host.find_first_of(" \t\r\n/@[]") != std::string::npos) {
        return std::nullopt;
    }
    if (!rest.empty()) {
        const auto port = common::ReadPort(rest.substr(1));
        if (!port) {
            return std::nullopt;
        }
        address.Port = *port;
    }
    return address;
}

bool IsLoopbackHost(std::string_view host) {
    return host == "localhost" || host == "::1" || IsLoopbackIPv4(host);
}

void CheckXmppSettings(const XmppSettings& settings) {
    const std::string bare = BareJid(settings.Jid);
    if (bare.find('@') == std::string::npos || !IsBareJid(bare)) {
        throw std::invalid_argument("--xmpp needs an account's JID, such as alice@example.org");
    }
    const std::string host = settings.ServerHost.empty() ? JidDomain(bare) : settings.ServerHost;
    if (settings.Plain && !IsLoopbackHost(host)) {
        throw std::invalid_argument(
            "--xmpp-plain (no TLS) is refused for " + host +
            ": only a server on the loopback address (localhost, 127.0.0.1, ::1) may be reached "
            "without encryption");
    }
    if (settings.RememberPassword && !settings.PasswordFile.empty()) {
        throw std::invalid_argument("--remember-password asks for the password on the terminal; "
                                    "it takes no password file");
    }
}

void ReadXmppConfig(std::string_view text, std::string_view fileName, std::string_view folder,
                    std::string_view home, XmppSettings& settings) {
    std::vector<std::string> seen;
    for (int number = 1; !text.empty(); ++number) {
        const auto end = text.find('\n');
        const std::string_view line = Trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.starts_with('#')) {
            continue;
        }
        const std::string where = std::string(fileName) + " line " + std::to_string(number) + ": ";
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) {
            throw std::invalid_argument(where + "expected \"key = value\"");
        }
        const std::string key(Trimmed(line.substr(0, equals)));
        const std::string_view value = Trimmed(line.substr(equals + 1));
        if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
            throw std::invalid_argument(where + key + " is given twice");
        }
        if (value.empty()) {
            throw std::invalid_argument(where + key + " has no value");
        }
        seen.push_back(key);
        try {
            ApplyConfigValue(key, value, folder, home, settings);
        } catch (const std::invalid_argument& error) {
            throw std::invalid_argument(where + error.what());
        }
    }
}

void LoadXmppConfig(XmppSettings& settings) {
    if (settings.ConfigPath.empty()) {
        return;
    }
    std::ifstream file(settings.ConfigPath, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (!file && !file.eof()) {
        throw std::runtime_error("cannot read the account file " + settings.ConfigPath);
    }
    const auto slash = settings.ConfigPath.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : settings.ConfigPath.substr(0, slash);
    const char* home = std::getenv("HOME");
    ReadXmppConfig(text, settings.ConfigPath, folder, home ? home : "", settings);
    if (settings.Jid.empty()) {
        throw std::invalid_argument(settings.ConfigPath + " names no account (jid = ...)");
    }
}

std::string RedactLogLine(std::string_view line, std::string_view password) {
    std::string redacted(line);
    RedactElements(redacted);
    if (!password.empty()) {
        for (auto at = redacted.find(password); at != std::string::npos;
             at = redacted.find(password, at)) {
            redacted.replace(at, password.size(), "[redacted]");
            at += std::string_view("[redacted]").size();
        }
    }
    return redacted;
}

} // namespace velantro::standins
