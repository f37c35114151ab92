#pragma once

// The HTTP client of the translation exchange, on one libcurl easy handle.

#include "translate/CookieJar.h"
#include "translate/Endpoints.h"
#include "translate/HttpClient.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace velantro::translate {

struct HttpTimeouts {
    /// Longest wait for the connection to be established.
    std::chrono::milliseconds Connect{15'000};
    /// Longest wait for the next byte once the exchange has started.
    std::chrono::milliseconds Idle{60'000};
    /// Longest time for the whole exchange, connection included, so that a
    /// reply trickling in byte by byte cannot hold the window for ever.
    std::chrono::milliseconds Total{120'000};
};

/// Replies beyond these limits are errors rather than unbounded allocations.
inline constexpr std::size_t MaxReplyBodyBytes = std::size_t{16} * 1024 * 1024;
inline constexpr std::size_t MaxReplyLineBytes = 16384;
/// The heads of an exchange's replies together (an interim 100 reply's
/// included), below libcurl's own limit of 300 KiB.
inline constexpr std::size_t MaxReplyHeaderBytes = std::size_t{256} * 1024;

/// HTTP/1.0 form posts with fixed headers, in this order: Connection
/// ("keep-alive"), Content-Type, Content-Length, Host, Accept ("text/html,
/// */*"), User-Agent ("Mozilla/3.0 (compatible; Indy Library)") and, when
/// cookies are stored for the host and path, Cookie. Every exchange opens a
/// fresh connection; no proxy is used, whatever the environment says; a
/// redirect is never followed. Cookies set by a host live in memory for the
/// client's life, within CookieJar's limits, and go back only to that host.
///
/// Failures raise HttpError: the reply's status line as received for a
/// status other than 2xx or a reply with a Location header, however the rest
/// of that reply goes; libcurl's message for connection failures; a message
/// naming the limit for a header line over MaxReplyLineBytes, a head over
/// MaxReplyHeaderBytes, a body over MaxReplyBodyBytes or a time-out.
class CurlHttpClient final : public HttpClient {
public:
    explicit CurlHttpClient(HttpTimeouts timeouts = {});
    ~CurlHttpClient() override;
    CurlHttpClient(const CurlHttpClient&) = delete;
    CurlHttpClient& operator=(const CurlHttpClient&) = delete;

    std::string PostForm(const std::string& url, std::string_view body) override;

    void SetTimeouts(HttpTimeouts timeouts);

    /// Asked while an exchange runs (at least once a second, and while it
    /// connects): when it gives true the exchange ends at once with an
    /// HttpError, so that the program can end without waiting for a service
    /// that does not answer.
    void AbandonWhen(const std::function<bool()>& abandon) override;

private:
    void TakeNewCookies(const std::vector<std::string>& setCookie2Lines);
    std::string TimeOutMessage(const std::string& hostHeader) const;

    void* Handle; // CURL*
    HttpTimeouts Timeouts;
    /// The cookie store. libcurl parses each reply's Set-Cookie headers into
    /// its own engine, whose cookies move here after every exchange, so that
    /// the Cookie header can be written last; Set-Cookie2 headers, which
    /// libcurl ignores, are parsed here.
    CookieJar Cookies;
    std::function<bool()> Abandon;
    std::string LastUrl;
    EndpointAddress LastAddress;
};

} // namespace velantro::translate
