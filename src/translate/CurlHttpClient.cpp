#include "translate/CurlHttpClient.h"

#include "common/AsciiText.h"
#include "translate/Endpoints.h"
#include "translate/SetCookie2.h"
#include "translate/SocketActivity.h"

#include <algorithm>
#include <ctime>
#include <curl/curl.h>
#include <memory>
#include <mutex>
#include <sstream>

namespace velantro::translate {

namespace {

using Clock = std::chrono::steady_clock;

CURL* Curl(void* handle) {
    return static_cast<CURL*>(handle);
}

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

void Append(Slist& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown == nullptr) {
        throw std::bad_alloc();
    }
    (void)list.release();
    list.reset(grown);
}

std::string DescribeDuration(std::chrono::milliseconds duration) {
    const auto count = duration.count();
    return count % 1000 == 0 ? std::to_string(count / 1000) + " s" : std::to_string(count) + " ms";
}

/// What the callbacks learn during one exchange.
struct Exchange {
    std::string Body;
    std::string StatusLine; // of the latest reply; empty until one is read
    bool Redirected = false;
    std::size_t HeaderBytes = 0; // of every reply's head so far
    bool HeadDone = false;       // the final reply's head has been read
    std::vector<std::string> SetCookie2Values;
    std::string Failure; // set when a callback ends the exchange
    Clock::time_point LastActivity = Clock::now();
    curl_off_t Uploaded = 0;
    std::chrono::milliseconds Idle{};
    std::string HostHeader;
    CURL* Handle = nullptr;
    const std::function<bool()>* Abandon = nullptr;
    // The sockets libcurl has open for the exchange (a name may have more
    // than one address to try).
    std::vector<curl_socket_t> Sockets;
};

// Between exchanges user is null: a socket libcurl closes then belongs to none.
int OnSocketOpened(void* user, curl_socket_t socket, curlsocktype) {
    if (user != nullptr) {
        static_cast<Exchange*>(user)->Sockets.push_back(socket);
    }
    return CURL_SOCKOPT_OK;
}

int OnSocketClosing(void* user, curl_socket_t socket) {
    if (user != nullptr) {
        std::erase(static_cast<Exchange*>(user)->Sockets, socket);
    }
    return CloseSocket(static_cast<std::int64_t>(socket));
}

std::string HeaderTooLarge(const std::string& hostHeader) {
    return "Reply from " + hostHeader + " has a header larger than " +
           std::to_string(MaxReplyHeaderBytes) + " bytes";
}

std::string HeaderLineTooLong(const std::string& hostHeader) {
    return "Reply from " + hostHeader + " has a header line longer than " +
           std::to_string(MaxReplyLineBytes) + " bytes";
}

size_t OnHeaderLine(char* data, size_t size, size_t count, void* user) {
    auto& exchange = *static_cast<Exchange*>(user);
    exchange.LastActivity = Clock::now();
    std::string_view line(data, size * count);
    exchange.HeaderBytes += line.size();
    if (exchange.HeaderBytes > MaxReplyHeaderBytes) {
        exchange.Failure = HeaderTooLarge(exchange.HostHeader);
        return 0;
    }
    std::string_view content = line;
    while (!content.empty() && (content.back() == '\n' || content.back() == '\r')) {
        content.remove_suffix(1);
    }
    if (content.size() > MaxReplyLineBytes) {
        if (content.starts_with("HTTP/")) {
            exchange.StatusLine.clear();
        }
        exchange.Failure = HeaderLineTooLong(exchange.HostHeader);
        return 0;
    }
    if (content.starts_with("HTTP/")) {
        // A new reply begins: an interim 100 reply is followed by the real one.
        exchange.StatusLine = content;
        exchange.Redirected = false;
    } else if (content.empty()) {
        long status = 0;
        curl_easy_getinfo(exchange.Handle, CURLINFO_RESPONSE_CODE, &status);
        exchange.HeadDone = status >= 200; // not an interim 1xx reply's head
    } else if (common::StartsWithNoCaseAscii(content, "location:")) {
        exchange.Redirected = true;
    } else if (common::StartsWithNoCaseAscii(content, "set-cookie2:")) {
        exchange.SetCookie2Values.emplace_back(common::TrimBlanks(content.substr(12)));
    }
    return line.size();
}

size_t OnBodyBytes(char* data, size_t size, size_t count, void* user) {
    auto& exchange = *static_cast<Exchange*>(user);
    exchange.LastActivity = Clock::now();
    long status = 0;
    curl_easy_getinfo(exchange.Handle, CURLINFO_RESPONSE_CODE, &status);
    if (exchange.Redirected || status < 200 || status > 299) {
        // The body of an error reply is never used; stop reading it. The
        // status line makes the message.
        return 0;
    }
    const size_t bytes = size * count;
    if (exchange.Body.size() + bytes > MaxReplyBodyBytes) {
        exchange.Failure = "Reply from " + exchange.HostHeader + " is larger than " +
                           std::to_string(MaxReplyBodyBytes / (std::size_t{1024} * 1024)) + " MiB";
        return 0;
    }
    exchange.Body.append(data, bytes);
    return bytes;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
    auto& exchange = *static_cast<Exchange*>(user);
    if (exchange.Abandon != nullptr && *exchange.Abandon && (*exchange.Abandon)()) {
        exchange.Failure = "Exchange with " + exchange.HostHeader + " abandoned";
        return 1;
    }
    const auto now = Clock::now();
    if (uploaded != exchange.Uploaded) {
        exchange.Uploaded = uploaded;
        exchange.LastActivity = now;
    }
    // A header line that arrives a byte at a time reaches the callbacks only
    // once it is whole; its bytes are activity all the same.
    for (const curl_socket_t socket : exchange.Sockets) {
        if (const auto since = SinceDataReceived(static_cast<std::int64_t>(socket))) {
            exchange.LastActivity = std::max(exchange.LastActivity, now - *since);
        }
    }
    if (now - exchange.LastActivity > exchange.Idle) {
        exchange.Failure = "No reply from " + exchange.HostHeader + ": nothing received for " +
                           DescribeDuration(exchange.Idle);
        return 1;
    }
    return 0;
}

/// Clears, however the exchange ends, the options that point into the
/// frame of one exchange (its header list, body, callback data and error
/// buffer): left set, they would dangle, and libcurl reads some of them
/// outside an exchange (a connection closed at clean-up calls back with its
/// CLOSESOCKETDATA).
class FrameOptions {
public:
    explicit FrameOptions(CURL* handle)
        : Handle(handle) {}
    ~FrameOptions() {
        for (const CURLoption option : {CURLOPT_ERRORBUFFER, CURLOPT_HTTPHEADER, CURLOPT_POSTFIELDS,
                                        CURLOPT_HEADERDATA, CURLOPT_WRITEDATA, CURLOPT_XFERINFODATA,
                                        CURLOPT_SOCKOPTDATA, CURLOPT_CLOSESOCKETDATA}) {
            curl_easy_setopt(Handle, option, nullptr);
        }
    }
    FrameOptions(const FrameOptions&) = delete;
    FrameOptions& operator=(const FrameOptions&) = delete;

private:
    CURL* Handle;
};

void InitialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

template <typename T>
void SetOption(CURL* handle, CURLoption option, T value) {
    if (const CURLcode rc = curl_easy_setopt(handle, option, value); rc != CURLE_OK) {
        throw HttpError(std::string("HTTP client setup failed: ") + curl_easy_strerror(rc));
    }
}

} // namespace

CurlHttpClient::CurlHttpClient(HttpTimeouts timeouts)
    : Handle(nullptr)
    , Timeouts(timeouts) {
    InitialiseCurlOnce();
    Handle = curl_easy_init();
    if (Handle == nullptr) {
        throw HttpError("HTTP client setup failed: curl_easy_init");
    }
    CURL* handle = Curl(Handle);
    try {
        SetOption(handle, CURLOPT_NOSIGNAL, 1L);
        SetOption(handle, CURLOPT_PROTOCOLS_STR, "http");
        SetOption(handle, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
        // An empty proxy name overrides http_proxy and the other variables.
        SetOption(handle, CURLOPT_PROXY, "");
        SetOption(handle, CURLOPT_FOLLOWLOCATION, 0L);
        SetOption(handle, CURLOPT_FRESH_CONNECT, 1L);
        SetOption(handle, CURLOPT_FORBID_REUSE, 1L);
        // An empty file name starts the in-memory cookie engine without reading a file.
        SetOption(handle, CURLOPT_COOKIEFILE, "");
        SetOption(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(MaxReplyBodyBytes));
        SetOption(handle, CURLOPT_HEADERFUNCTION, &OnHeaderLine);
        SetOption(handle, CURLOPT_WRITEFUNCTION, &OnBodyBytes);
        SetOption(handle, CURLOPT_XFERINFOFUNCTION, &OnProgress);
        SetOption(handle, CURLOPT_NOPROGRESS, 0L);
    } catch (...) {
        curl_easy_cleanup(handle);
        throw;
    }
}

CurlHttpClient::~CurlHttpClient() {
    curl_easy_cleanup(Curl(Handle));
}

void CurlHttpClient::SetTimeouts(HttpTimeouts timeouts) {
    Timeouts = timeouts;
}

void CurlHttpClient::AbandonWhen(const std::function<bool()>& abandon) {
    Abandon = abandon;
}

std::string CurlHttpClient::TimeOutMessage(const std::string& hostHeader) const {
    curl_off_t connected = 0;
    curl_easy_getinfo(Curl(Handle), CURLINFO_CONNECT_TIME_T, &connected);
    // Before the connection is made the shorter of the two limits struck.
    if (connected == 0 && Timeouts.Connect < Timeouts.Total) {
        return "Connection to " + hostHeader + " timed out after " +
               DescribeDuration(Timeouts.Connect);
    }
    return "No complete reply from " + hostHeader + " within " + DescribeDuration(Timeouts.Total) +
           ", the limit for a whole exchange";
}

void CurlHttpClient::TakeNewCookies(const std::vector<std::string>& setCookie2Lines) {
    CURL* handle = Curl(Handle);
    curl_slist* raw = nullptr;
    curl_easy_getinfo(handle, CURLINFO_COOKIELIST, &raw);
    const Slist fresh(raw);
    if (fresh) {
        curl_easy_setopt(handle, CURLOPT_COOKIELIST, "ALL");
    }
    const std::int64_t now = std::time(nullptr);
    for (const curl_slist* item = fresh.get(); item != nullptr; item = item->next) {
        Cookies.Store(item->data, now);
    }
    // After Set-Cookie, so that a Set-Cookie2 for the same cookie wins.
    for (const std::string& line : setCookie2Lines) {
        Cookies.Store(line, now);
    }
    Cookies.DropExpired(now);
}

std::string CurlHttpClient::PostForm(const std::string& url, std::string_view body) {
    // The same one or two URLs come back for every exchange.
    if (url != LastUrl) {
        try {
            LastAddress = ParseEndpointUrl(url);
        } catch (const std::invalid_argument& error) {
            throw HttpError(error.what());
        }
        LastUrl = url;
    }
    const EndpointAddress& address = LastAddress;
    CURL* handle = Curl(Handle);

    Slist headers;
    Append(headers, "Connection: keep-alive");
    Append(headers, "Content-Type: application/x-www-form-urlencoded");
    // The header lines go in a fixed order, Host fourth, byte for byte as the
    // service's own clients send them. libcurl always writes the Host line,
    // its own or one given here, straight after the request line, and no
    // option moves it; so its own is switched off ("Host:" without a value)
    // and the line travels inside the entry before it, which libcurl writes
    // out as it stands. HttpExchangeTest pins the bytes, so a libcurl that
    // changed either rule would be caught there.
    Append(headers, "Host:");
    Append(headers,
           "Content-Length: " + std::to_string(body.size()) + "\r\nHost: " + address.HostHeader);
    Append(headers, "Accept: text/html, */*");
    Append(headers, "User-Agent: Mozilla/3.0 (compatible; Indy Library)");
    const std::string path = address.Target.substr(0, address.Target.find('?'));
    if (const std::string cookies = Cookies.HeaderFor(address.Host, path, std::time(nullptr));
        !cookies.empty()) {
        Append(headers, "Cookie: " + cookies);
    }
    Append(headers, "Expect:"); // never wait for a 100 Continue before sending the body

    Exchange exchange;
    exchange.Handle = handle;
    exchange.Idle = Timeouts.Idle;
    exchange.HostHeader = address.HostHeader;
    exchange.Abandon = &Abandon;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    CURLcode rc = CURLE_OK;
    long status = 0;
    {
        // Before the first option that points into this frame.
        const FrameOptions frameOptions(handle);
        // libcurl's cookie engine is empty between exchanges (TakeNewCookies
        // moves what a reply set into Cookies), so it writes no Cookie header
        // of its own; it only parses the reply's Set-Cookie headers for the
        // asked host.
        SetOption(handle, CURLOPT_URL, url.c_str());
        SetOption(handle, CURLOPT_HTTPHEADER, headers.get());
        SetOption(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        SetOption(handle, CURLOPT_POSTFIELDS, body.data());
        SetOption(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(Timeouts.Connect.count()));
        SetOption(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(Timeouts.Total.count()));
        SetOption(handle, CURLOPT_HEADERDATA, &exchange);
        SetOption(handle, CURLOPT_WRITEDATA, &exchange);
        SetOption(handle, CURLOPT_XFERINFODATA, &exchange);
        SetOption(handle, CURLOPT_SOCKOPTFUNCTION, &OnSocketOpened);
        SetOption(handle, CURLOPT_SOCKOPTDATA, &exchange);
        SetOption(handle, CURLOPT_CLOSESOCKETFUNCTION, &OnSocketClosing);
        SetOption(handle, CURLOPT_CLOSESOCKETDATA, &exchange);
        SetOption(handle, CURLOPT_ERRORBUFFER, errorBuffer);

        exchange.LastActivity = Clock::now();
        rc = curl_easy_perform(handle);
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    }
    std::vector<std::string> setCookie2Lines;
    for (const std::string& value : exchange.SetCookie2Values) {
        auto lines = SetCookie2Lines(value, address.Host, path, std::time(nullptr));
        setCookie2Lines.insert(setCookie2Lines.end(), lines.begin(), lines.end());
    }
    TakeNewCookies(setCookie2Lines);

    // A final reply that is an error is one whatever became of its body: cut
    // short, over the cap or too slow.
    if (!exchange.StatusLine.empty() && status >= 200 && (exchange.Redirected || status > 299)) {
        throw HttpError(exchange.StatusLine);
    }
    if (!exchange.Failure.empty()) {
        throw HttpError(exchange.Failure);
    }
    // libcurl refuses a header line over its own limit (100 KiB, past ours)
    // with its out-of-memory code, before any callback sees the line.
    if (rc == CURLE_OUT_OF_MEMORY && !exchange.HeadDone) {
        throw HttpError(HeaderLineTooLong(address.HostHeader));
    }
    if (rc == CURLE_FILESIZE_EXCEEDED) {
        throw HttpError("Reply from " + address.HostHeader + " is larger than " +
                        std::to_string(MaxReplyBodyBytes / (std::size_t{1024} * 1024)) + " MiB");
    }
    if (rc == CURLE_OPERATION_TIMEDOUT) {
        throw HttpError(TimeOutMessage(address.HostHeader));
    }
    if (rc != CURLE_OK) {
        throw HttpError(errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(rc));
    }
    return std::move(exchange.Body);
}

} // namespace velantro::translate
