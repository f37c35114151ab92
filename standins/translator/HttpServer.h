#pragma once

// The stand-in's HTTP server: one request per connection, each connection on
// a thread of its own, every request's raw bytes optionally logged.

#include "ConnectionThreads.h"
#include "common/FileDescriptor.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace velantro::standins {

struct HttpRequest {
    std::string Method;
    std::string Target;
    std::string Body;
};

struct HttpReply {
    int Status = 200;
    std::string Reason = "OK";
    std::string ContentType;
    std::string Body;
};

/// Answers a request. An exception becomes a reply with status 500 and the
/// exception's message as its reason phrase.
using HttpHandler = std::function<HttpReply(const HttpRequest&)>;

/// Reads one HTTP/1.0 or 1.1 request per connection, announced by
/// Content-Length, and answers it with "Connection: close". A request it
/// cannot take gets 400 (malformed, or the client ended it early), 408 (not
/// complete within RequestLimit of the connection's start), 411
/// (Transfer-Encoding), 413 (a body over MaxBodyBytes, refused before it is
/// read) or 431 (a head over MaxHeadBytes, however it arrived). A client that
/// shuts down its sending side after the request still gets the answer,
/// within ReplyLimit. When MaxConnections are open, a new connection closes
/// the one that has been reading its request the longest, so clients that
/// send slowly never keep the others out.
class HttpServer {
public:
    static constexpr std::size_t MaxBodyBytes = std::size_t{1024} * 1024;
    static constexpr std::size_t MaxHeadBytes = std::size_t{64} * 1024;
    static constexpr std::chrono::milliseconds RequestLimit{10'000};
    static constexpr std::chrono::milliseconds ReplyLimit{10'000};
    static constexpr std::size_t MaxConnections = 512;

    /// Listens on address:port (port 0: a free one) and serves until
    /// stopped. With a log path, appends the bytes of every request to that
    /// file exactly as received, as far as they were read. Raises
    /// std::runtime_error, saying why, when it cannot listen or open the log.
    HttpServer(const std::string& address, int port, HttpHandler handler,
               const std::optional<std::string>& logPath = std::nullopt);
    /// Serves on a socket that already listens, such as one a service
    /// manager hands over (TakeActivatedListener).
    HttpServer(common::FileDescriptor listener, HttpHandler handler,
               const std::optional<std::string>& logPath = std::nullopt);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    int Port() const { return BoundPort; }
    /// The address listened on, as "127.0.0.1:8357" or "[::1]:8357".
    const std::string& Address() const { return BoundAddress; }

    /// Ends every connection and waits for their threads.
    void Stop();

private:
    enum class Wait { Ready, TimedOut, Stopped };
    using Clock = std::chrono::steady_clock;

    /// A connection still reading its request; the acceptor may end it.
    struct Reader {
        int Socket = -1; // -1 once ended by the acceptor
    };

    void OpenLog(const std::optional<std::string>& logPath);
    void Start();
    void AcceptLoop();
    void Serve(int client);
    std::optional<HttpReply> ReadAndAnswer(int client, std::string& bytes,
                                           std::size_t& requestLength,
                                           std::optional<std::list<Reader>::iterator>& reader);
    Wait WaitFor(int socket, short events, std::chrono::milliseconds limit) const;
    Wait Receive(int socket, std::string& bytes, bool& ended, Clock::time_point deadline) const;
    bool SendAll(int socket, std::string_view bytes, Clock::time_point deadline) const;
    std::list<Reader>::iterator StartReading(int client);
    void StopReading(std::optional<std::list<Reader>::iterator>& reader);
    void EndOldestReaderWhenFull();
    void CloseGently(int socket) const;
    void Record(std::string_view bytes);

    HttpHandler Handler;
    common::FileDescriptor Listener;
    common::FileDescriptor WakeRead;
    common::FileDescriptor WakeWrite;
    int BoundPort = 0;
    std::string BoundAddress;
    std::mutex LogLock;
    std::optional<std::ofstream> Log;
    std::atomic<bool> Stopping{false};
    std::mutex ReadersLock;
    std::list<Reader> Readers; // oldest first
    ConnectionThreads Connections{MaxConnections};
    std::thread Acceptor;
};

} // namespace velantro::standins
