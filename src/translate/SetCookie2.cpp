#include "translate/SetCookie2.h"

#include "common/AsciiText.h"
#include "translate/CookieJar.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace velantro::translate {

namespace {

std::string_view Unquoted(std::string_view value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

bool HasControlCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

/// Walks a header value: names end at "=", ";" or ","; values at ";" or ","
/// outside a quoted string.
class HeaderReader {
public:
    explicit HeaderReader(std::string_view text)
        : Text(text) {}

    bool AtEnd() const { return Pos >= Text.size(); }

    bool Take(char c) {
        if (Pos < Text.size() && Text[Pos] == c) {
            ++Pos;
            return true;
        }
        return false;
    }

    std::string_view Name() {
        const std::size_t start = Pos;
        while (Pos < Text.size() && Text[Pos] != '=' && Text[Pos] != ';' && Text[Pos] != ',') {
            ++Pos;
        }
        return common::TrimBlanks(Text.substr(start, Pos - start));
    }

    std::string_view Value() {
        const std::size_t start = Pos;
        bool quoted = false;
        for (; Pos < Text.size(); ++Pos) {
            const char c = Text[Pos];
            if (quoted && c == '\\' && Pos + 1 < Text.size()) {
                ++Pos;
            } else if (c == '"') {
                quoted = !quoted;
            } else if (!quoted && (c == ';' || c == ',')) {
                break;
            }
        }
        return common::TrimBlanks(Text.substr(start, Pos - start));
    }

private:
    std::string_view Text;
    std::size_t Pos = 0;
};

struct Cookie {
    std::string Name;
    std::string Value;
    std::string Domain; // empty: the host that set it
    std::string Path;   // empty: the request's default path
    bool Secure = false;
    std::int64_t Expires = 0;
    bool Valid = true;
};

void ApplyAttribute(Cookie& cookie, std::string_view name, std::string_view value,
                    std::int64_t now) {
    value = Unquoted(value);
    if (common::EqualsNoCaseAscii(name, "domain")) {
        cookie.Domain = common::LowerAscii(value);
        if (cookie.Domain.starts_with('.')) {
            cookie.Domain.erase(0, 1);
        }
        cookie.Valid = cookie.Valid && !cookie.Domain.empty();
    } else if (common::EqualsNoCaseAscii(name, "path")) {
        cookie.Path = value;
    } else if (common::EqualsNoCaseAscii(name, "secure")) {
        cookie.Secure = true;
    } else if (common::EqualsNoCaseAscii(name, "max-age")) {
        std::int64_t seconds = 0;
        const auto [end, error] =
            std::from_chars(value.data(), value.data() + value.size(), seconds);
        if (error != std::errc() || end != value.data() + value.size() || seconds < 0) {
            return; // an unreadable Max-Age is ignored
        }
        // Zero discards the cookie at once: any expiry in the past does.
        const std::int64_t latest = std::numeric_limits<std::int64_t>::max();
        cookie.Expires = seconds == 0 ? 1 : seconds > latest - now ? latest : now + seconds;
    }
}

/// Where a cookie without a Path applies: the request's path up to its last "/".
std::string DefaultPath(std::string_view requestPath) {
    const auto slash = requestPath.rfind('/');
    if (slash == std::string_view::npos || slash == 0) {
        return "/";
    }
    return std::string(requestPath.substr(0, slash));
}

bool HostMayUse(std::string_view host, std::string_view domain) {
    if (host == domain) {
        return true;
    }
    // A Domain must name more than a top-level domain and contain host; an
    // IP address lies in no domain but itself.
    return !IsIpAddressHost(host) && domain.find('.') != std::string_view::npos &&
           host.size() > domain.size() && host.ends_with(domain) &&
           host[host.size() - domain.size() - 1] == '.';
}

std::string StoreLine(const Cookie& cookie, std::string_view host, std::string_view requestPath) {
    // Domain on an IP address names that address alone (Acceptable saw to it).
    const bool tailMatch = !cookie.Domain.empty() && !IsIpAddressHost(host);
    const std::string domain = tailMatch ? "." + cookie.Domain : std::string(host);
    const std::string path = cookie.Path.empty() ? DefaultPath(requestPath) : cookie.Path;
    std::string line = domain + '\t' + (tailMatch ? "TRUE" : "FALSE") + '\t' + path + '\t';
    line += std::string(cookie.Secure ? "TRUE" : "FALSE") + '\t' + std::to_string(cookie.Expires);
    return line + '\t' + cookie.Name + '\t' + cookie.Value;
}

bool Acceptable(const Cookie& cookie, std::string_view host, std::string_view requestPath) {
    if (!cookie.Valid || cookie.Name.empty() || cookie.Name.starts_with('$')) {
        return false;
    }
    for (std::string_view part : {std::string_view(cookie.Name), std::string_view(cookie.Value),
                                  std::string_view(cookie.Domain), std::string_view(cookie.Path)}) {
        if (HasControlCharacter(part)) {
            return false;
        }
    }
    if (!cookie.Domain.empty() && !HostMayUse(host, cookie.Domain)) {
        return false;
    }
    return cookie.Path.empty() || requestPath.starts_with(cookie.Path);
}

} // namespace

std::vector<std::string> SetCookie2Lines(std::string_view value, std::string_view host,
                                         std::string_view requestPath, std::int64_t now) {
    std::vector<std::string> lines;
    HeaderReader reader(value);
    while (!reader.AtEnd()) {
        Cookie cookie;
        cookie.Name = reader.Name();
        cookie.Valid = reader.Take('=');
        if (cookie.Valid) {
            cookie.Value = reader.Value();
        }
        while (reader.Take(';')) {
            const std::string_view name = reader.Name();
            const std::string_view attribute = reader.Take('=') ? reader.Value() : "";
            ApplyAttribute(cookie, name, attribute, now);
        }
        reader.Take(',');
        if (Acceptable(cookie, host, requestPath)) {
            lines.push_back(StoreLine(cookie, host, requestPath));
        }
    }
    return lines;
}

} // namespace velantro::translate
