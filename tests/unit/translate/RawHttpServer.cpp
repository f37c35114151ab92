#include "RawHttpServer.h"

#include <arpa/inet.h>
#include <cctype>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace velantro::translate::testing {

namespace {

int ListenOnLoopback(std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        throw std::runtime_error("socket failed");
    }
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 8) != 0) {
        ::close(fd);
        throw std::runtime_error("bind/listen on loopback failed");
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

bool WaitReadable(int socket, int milliseconds) {
    pollfd entry{socket, POLLIN, 0};
    return ::poll(&entry, 1, milliseconds) > 0;
}

std::size_t ContentLength(const std::string& head) {
    std::string lower = head;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const auto at = lower.find("\r\ncontent-length:");
    if (at == std::string::npos) {
        return 0;
    }
    return std::stoul(lower.substr(at + 17));
}

} // namespace

RawHttpServer::RawHttpServer(Responder respond)
    : Respond(std::move(respond)) {
    Listener = ListenOnLoopback(BoundPort);
    Thread = std::thread([this] { Serve(); });
}

RawHttpServer::~RawHttpServer() {
    StopRequested = true;
    Thread.join();
    ::close(Listener);
}

std::vector<std::string> RawHttpServer::Requests() const {
    std::lock_guard guard(Lock);
    return Received;
}

void RawHttpServer::Serve() {
    while (!StopRequested) {
        if (!WaitReadable(Listener, 20)) {
            continue;
        }
        const int socket = ::accept(Listener, nullptr, nullptr);
        if (socket < 0) {
            continue;
        }
        ++Accepted;
        const std::string request = ReadRequest(socket);
        {
            std::lock_guard guard(Lock);
            Received.push_back(request);
        }
        Respond(*this, socket, request);
        ::close(socket);
    }
}

std::string RawHttpServer::ReadRequest(int socket) const {
    std::string request;
    std::size_t wanted = std::string::npos;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (request.size() < wanted && std::chrono::steady_clock::now() < deadline &&
           !StopRequested) {
        if (!WaitReadable(socket, 20)) {
            continue;
        }
        char buffer[4096];
        const ssize_t count = ::recv(socket, buffer, sizeof buffer, 0);
        if (count <= 0) {
            break;
        }
        request.append(buffer, static_cast<std::size_t>(count));
        if (const auto end = request.find("\r\n\r\n");
            wanted == std::string::npos && end != std::string::npos) {
            wanted = end + 4 + ContentLength(request.substr(0, end));
        }
    }
    return request;
}

bool RawHttpServer::SendAll(int socket, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

void RawHttpServer::WaitForClose(int socket) const {
    while (!StopRequested) {
        if (WaitReadable(socket, 20)) {
            char buffer[256];
            if (::recv(socket, buffer, sizeof buffer, 0) <= 0) {
                return;
            }
        }
    }
}

RawHttpServer::Responder RawHttpServer::Reply(std::string bytes) {
    return [bytes = std::move(bytes)](const RawHttpServer&, int socket, const std::string&) {
        SendAll(socket, bytes);
    };
}

RawHttpServer::Responder RawHttpServer::ReplyThenReset(std::string bytes) {
    return [bytes = std::move(bytes)](const RawHttpServer&, int socket, const std::string&) {
        SendAll(socket, bytes);
        // A zero linger time makes close() send RST instead of FIN.
        const linger abort{1, 0};
        ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    };
}

RawHttpServer::Responder RawHttpServer::ReplyAndHold(std::string bytes) {
    return [bytes = std::move(bytes)](const RawHttpServer& server, int socket, const std::string&) {
        SendAll(socket, bytes);
        server.WaitForClose(socket);
    };
}

RawHttpServer::Responder RawHttpServer::Silence() {
    return [](const RawHttpServer& server, int socket, const std::string&) {
        server.WaitForClose(socket);
    };
}

std::uint16_t RawHttpServer::ClosedPort() {
    std::uint16_t port = 0;
    ::close(ListenOnLoopback(port));
    return port;
}

} // namespace velantro::translate::testing
