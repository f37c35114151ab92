#pragma once

// The head of an HTTP/1.x request, read from its bytes.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace velantro::standins {

struct RequestHead {
    std::string Method;
    std::string Target;
    std::uint64_t ContentLength = 0;
    /// A Transfer-Encoding header came: the body's length is not announced.
    bool TransferEncoded = false;
    /// "Expect: 100-continue": the client waits for a go-ahead before the body.
    bool ExpectsContinue = false;

    bool operator==(const RequestHead&) const = default;
};

std::ostream& operator<<(std::ostream& out, const RequestHead& head);

/// Reads the request line and the header lines, each ended by CRLF but the
/// last, which is followed by the empty line that ends every head. Empty
/// when the request line is not "METHOD TARGET HTTP/1.0" (or 1.1), a header
/// line has no name, or Content-Length is not one decimal number (repeats
/// must agree).
std::optional<RequestHead> ParseRequestHead(std::string_view head);

} // namespace velantro::standins
