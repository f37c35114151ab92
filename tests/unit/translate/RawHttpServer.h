#pragma once

// A loopback TCP server for tests of the HTTP client: it records every
// request's raw bytes and answers with whatever bytes a test scripts, so the
// client's behaviour on odd replies can be checked without an HTTP library in
// between. One connection at a time, on its own thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velantro::translate::testing {

class RawHttpServer {
public:
    /// Given the server, the connected socket and the request read from it;
    /// what it does with the socket is the reply. The socket is closed afterwards.
    using Responder =
        std::function<void(const RawHttpServer& server, int socket, const std::string& request)>;

    explicit RawHttpServer(Responder respond);
    ~RawHttpServer();
    RawHttpServer(const RawHttpServer&) = delete;
    RawHttpServer& operator=(const RawHttpServer&) = delete;

    std::uint16_t Port() const { return BoundPort; }
    std::vector<std::string> Requests() const;
    int Connections() const { return Accepted; }
    bool Stopping() const { return StopRequested; }

    /// Sends the bytes and closes.
    static Responder Reply(std::string bytes);
    /// Sends the bytes, then resets the connection instead of closing it.
    static Responder ReplyThenReset(std::string bytes);
    /// Sends the bytes and keeps the connection open until the client closes it.
    static Responder ReplyAndHold(std::string bytes);
    /// Reads the request and never answers.
    static Responder Silence();

    /// Writes all bytes; false when the peer went away.
    static bool SendAll(int socket, std::string_view bytes);
    /// Waits until the peer closes or the server stops.
    void WaitForClose(int socket) const;

    /// A loopback port on which nothing listens.
    static std::uint16_t ClosedPort();

private:
    void Serve();
    std::string ReadRequest(int socket) const;

    Responder Respond;
    int Listener = -1;
    std::uint16_t BoundPort = 0;
    std::atomic<bool> StopRequested{false};
    std::atomic<int> Accepted{0};
    mutable std::mutex Lock;
    std::vector<std::string> Received;
    std::thread Thread;
};

} // namespace velantro::translate::testing
