#include "XmppSettings.h"

#include "Jid.h"
#include "common/IntegerText.h"

#include <charconv>
#include <stdexcept>

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
