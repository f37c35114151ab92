#pragma once

// The translation client's cookies, in memory, with the limits browsers keep.

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>

namespace velantro::translate {

/// Whether a host (as an endpoint URL gives it: lower case, an IPv6 address
/// in brackets) is an IP address: such a host matches only itself, never a
/// domain's tail (10.0.0.1 is not in a domain "0.1"). An IPv4 address is
/// known by its last label being a number, as browsers know it.
bool IsIpAddressHost(std::string_view host);

/// Cookies as libcurl's Netscape-format lines (domain, tail-match flag, path,
/// secure flag, expiry, name, value, separated by tabs), kept in the order
/// they were first set. A cookie of the same domain, path and name replaces
/// the stored one in its place; an expired one deletes it. Each store takes
/// the same time however many cookies are kept. A cookie for an IP address
/// goes back to that address alone, whatever its tail-match flag says.
class CookieJar {
public:
    /// At most this many cookies per domain; a new one evicts the oldest.
    static constexpr std::size_t MaxPerDomain = 50;
    /// At most this many cookies in all; a new one evicts the oldest.
    static constexpr std::size_t MaxCookies = 3000;
    /// A cookie whose name and value come to more bytes is refused.
    static constexpr std::size_t MaxCookieBytes = 4096;

    /// Stores one cookie line; an unreadable or oversized one is ignored.
    /// now is the time in seconds since the epoch.
    void Store(std::string_view line, std::int64_t now);

    /// Removes the cookies whose time has passed.
    void DropExpired(std::int64_t now);

    /// The value of a Cookie header for a plain-HTTP request to host and
    /// path: the matching unexpired cookies that are not marked secure, the
    /// longer path first, otherwise in the order they were first set; empty
    /// when none match.
    std::string HeaderFor(std::string_view host, std::string_view path, std::int64_t now) const;

    std::size_t Size() const { return Cookies.size(); }

private:
    struct Cookie {
        std::string Domain; // lower case, without a leading dot
        bool TailMatch = false;
        std::string Path;
        bool Secure = false;
        std::int64_t Expires = 0; // 0: for the session
        std::string Name;
        std::string Value;
    };
    struct Entry;
    using Order = std::list<Entry>;
    struct Entry {
        Cookie Value;
        std::list<Order::iterator>::iterator InDomain;
    };

    static bool Parse(std::string_view line, Cookie& cookie);
    static std::string KeyOf(const Cookie& cookie);
    void Erase(Order::iterator entry);

    Order Cookies; // oldest first
    std::unordered_map<std::string, Order::iterator> ByKey;
    std::unordered_map<std::string, std::list<Order::iterator>> ByDomain; // oldest first
};

} // namespace velantro::translate
