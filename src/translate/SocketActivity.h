#pragma once

// What the system knows of a connection's traffic that libcurl does not say:
// libcurl reports a reply's header lines only once each is complete.

#include <chrono>
#include <cstdint>
#include <optional>

namespace velantro::translate {

/// How long ago data last arrived on the connected TCP socket; nothing where
/// the system does not tell.
std::optional<std::chrono::milliseconds> SinceDataReceived(std::int64_t socket);

/// Closes the socket; 0 on success.
int CloseSocket(std::int64_t socket);

} // namespace velantro::translate
