#include "translate/CookieJar.h"

#include "common/AsciiText.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace velantro::translate {

namespace {

bool Expired(std::int64_t expires, std::int64_t now) {
    return expires != 0 && expires <= now;
}

bool DomainMatches(std::string_view domain, bool tailMatch, std::string_view host) {
    if (host == domain) {
        return true;
    }
    return tailMatch && !IsIpAddressHost(host) && host.size() > domain.size() &&
           host.ends_with(domain) && host[host.size() - domain.size() - 1] == '.';
}

bool PathMatches(std::string_view cookiePath, std::string_view path) {
    if (!path.starts_with(cookiePath)) {
        return false;
    }
    return path.size() == cookiePath.size() || cookiePath.ends_with('/') ||
           path[cookiePath.size()] == '/';
}

} // namespace

bool IsIpAddressHost(std::string_view host) {
    if (host.starts_with('[')) {
        return true;
    }
    const std::string_view last = host.substr(host.rfind('.') + 1);
    return !last.empty() &&
           std::all_of(last.begin(), last.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool CookieJar::Parse(std::string_view line, Cookie& cookie) {
    std::string_view fields[7];
    for (int i = 0; i < 6; ++i) {
        const auto tab = line.find('\t');
        if (tab == std::string_view::npos) {
            return false;
        }
        fields[i] = line.substr(0, tab);
        line.remove_prefix(tab + 1);
    }
    fields[6] = line;
    std::string_view domain = fields[0];
    if (domain.starts_with("#HttpOnly_")) {
        domain.remove_prefix(10);
    }
    if (domain.starts_with('.')) {
        domain.remove_prefix(1);
    }
    cookie.Domain = common::LowerAscii(domain);
    cookie.TailMatch = fields[1] == "TRUE";
    cookie.Path = fields[2];
    cookie.Secure = fields[3] == "TRUE";
    const std::string_view expiry = fields[4];
    const auto [end, error] =
        std::from_chars(expiry.data(), expiry.data() + expiry.size(), cookie.Expires);
    if (error != std::errc() || end != expiry.data() + expiry.size()) {
        return false;
    }
    cookie.Name = fields[5];
    cookie.Value = fields[6];
    return true;
}

std::string CookieJar::KeyOf(const Cookie& cookie) {
    return cookie.Domain + '\t' + cookie.Path + '\t' + cookie.Name;
}

void CookieJar::Erase(Order::iterator entry) {
    const auto domain = ByDomain.find(entry->Value.Domain);
    domain->second.erase(entry->InDomain);
    if (domain->second.empty()) {
        ByDomain.erase(domain);
    }
    ByKey.erase(KeyOf(entry->Value));
    Cookies.erase(entry);
}

void CookieJar::Store(std::string_view line, std::int64_t now) {
    Cookie cookie;
    if (!Parse(line, cookie)) {
        return;
    }
    if (cookie.Name.size() + cookie.Value.size() > MaxCookieBytes) {
        return;
    }
    const std::string key = KeyOf(cookie);
    if (const auto stored = ByKey.find(key); stored != ByKey.end()) {
        if (Expired(cookie.Expires, now)) {
            Erase(stored->second);
        } else {
            // In place: the cookie keeps its age and its place in the header.
            stored->second->Value = std::move(cookie);
        }
        return;
    }
    if (Expired(cookie.Expires, now)) {
        return;
    }
    if (const auto domain = ByDomain.find(cookie.Domain);
        domain != ByDomain.end() && domain->second.size() >= MaxPerDomain) {
        Erase(domain->second.front());
    }
    if (Cookies.size() >= MaxCookies) {
        Erase(Cookies.begin());
    }
    const auto entry = Cookies.insert(Cookies.end(), Entry{std::move(cookie), {}});
    auto& inDomain = ByDomain[entry->Value.Domain];
    entry->InDomain = inDomain.insert(inDomain.end(), entry);
    ByKey.emplace(key, entry);
}

void CookieJar::DropExpired(std::int64_t now) {
    for (auto entry = Cookies.begin(); entry != Cookies.end();) {
        const auto next = std::next(entry);
        if (Expired(entry->Value.Expires, now)) {
            Erase(entry);
        }
        entry = next;
    }
}

std::string CookieJar::HeaderFor(std::string_view host, std::string_view path,
                                 std::int64_t now) const {
    std::vector<const Cookie*> matching;
    for (const Entry& entry : Cookies) {
        const Cookie& cookie = entry.Value;
        // Plain HTTP only, so cookies marked secure are never sent.
        if (!cookie.Secure && !Expired(cookie.Expires, now) &&
            DomainMatches(cookie.Domain, cookie.TailMatch, host) &&
            PathMatches(cookie.Path, path)) {
            matching.push_back(&cookie);
        }
    }
    // The more specific path first, as browsers do.
    std::stable_sort(matching.begin(), matching.end(), [](const Cookie* a, const Cookie* b) {
        return a->Path.size() > b->Path.size();
    });
    std::string header;
    for (const Cookie* cookie : matching) {
        header += (header.empty() ? "" : "; ") + cookie->Name + "=" + cookie->Value;
    }
    return header;
}

} // namespace velantro::translate
