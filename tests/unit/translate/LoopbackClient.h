#pragma once

// A bare TCP client for tests of the translator stand-in's server: it sends
// exactly the bytes a test gives and reads whatever comes back.

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace velantro::standins::testing {

class LoopbackClient {
public:
    explicit LoopbackClient(int port)
        : Socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (Socket < 0 ||
            ::connect(Socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            throw std::runtime_error("cannot connect to port " + std::to_string(port));
        }
    }
    ~LoopbackClient() { ::close(Socket); }
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    /// False when the server stopped taking bytes.
    bool Send(std::string_view bytes) const {
        while (!bytes.empty()) {
            const ssize_t sent = ::send(Socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent <= 0) {
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
        return true;
    }

    /// Ends the sending side; the server can still answer.
    void HalfClose() const { ::shutdown(Socket, SHUT_WR); }

    /// Everything until the server closes, or what came before the limit.
    std::string ReadAll(std::chrono::milliseconds limit = std::chrono::seconds(10)) const {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        std::string bytes;
        while (true) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd entry{Socket, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
                return bytes;
            }
            char buffer[16384];
            const ssize_t count = ::recv(Socket, buffer, sizeof buffer, 0);
            if (count <= 0) {
                return bytes;
            }
            bytes.append(buffer, static_cast<std::size_t>(count));
        }
    }

    /// Whether the server has answered or closed, without waiting.
    bool Readable() const {
        pollfd entry{Socket, POLLIN, 0};
        return ::poll(&entry, 1, 0) > 0;
    }

    /// The first line of what the server answers, without its CRLF.
    std::string StatusLine(std::chrono::milliseconds limit = std::chrono::seconds(10)) const {
        const std::string reply = ReadAll(limit);
        return reply.substr(0, reply.find("\r\n"));
    }

private:
    int Socket;
};

/// A POST of body to target, announced with its length.
inline std::string PostRequest(std::string_view target, std::string_view body) {
    return "POST " + std::string(target) + " HTTP/1.0\r\nContent-Type: " +
           "application/x-www-form-urlencoded\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + std::string(body);
}

} // namespace velantro::standins::testing
