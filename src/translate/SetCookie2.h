#pragma once

// "Set-Cookie2" reply headers (RFC 2965), which libcurl's cookie engine does
// not read, turned into lines of the client's cookie store.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velantro::translate {

/// The cookies of one Set-Cookie2 header value, from a reply of host to a
/// request for requestPath, as cookie-store lines in libcurl's Netscape
/// format: domain, tail-match flag, path, secure flag, expiry (seconds since
/// the epoch, 0 for the session), name and value, separated by tabs.
///
/// A value is kept as received, quotes included, since it goes back as it
/// came. Domain, Path, Max-Age and Secure are honoured; Max-Age=0 gives an
/// expiry in the past, which deletes a stored cookie. A cookie is left out
/// when its name is empty or starts with "$", when it holds a control
/// character, when host lies outside its Domain or requestPath outside its
/// Path. On a host that is an IP address, Domain must be that address, and
/// the cookie goes back to it alone. Port is not kept: the store keys
/// cookies by host alone.
std::vector<std::string> SetCookie2Lines(std::string_view value, std::string_view host,
                                         std::string_view requestPath, std::int64_t now);

} // namespace velantro::translate
