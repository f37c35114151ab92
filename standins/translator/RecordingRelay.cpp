#include "RecordingRelay.h"

#include <arpa/inet.h>
#include <cctype>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace velantro::standins {

namespace {

constexpr int PollMilliseconds = 100;

sockaddr_in Address(const std::string& address, int port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(AF_INET, address.c_str(), &result.sin_addr) != 1) {
        throw std::runtime_error("not an IPv4 address: " + address);
    }
    return result;
}

bool SendAll(int socket, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(socket, data, size, MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

/// The length of the first complete request in bytes, 0 when it is incomplete.
std::size_t CompleteRequestLength(const std::string& bytes) {
    const auto end = bytes.find("\r\n\r\n");
    if (end == std::string::npos) {
        return 0;
    }
    std::string head = bytes.substr(0, end);
    for (char& c : head) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    std::size_t length = 0;
    if (const auto at = head.find("\r\ncontent-length:"); at != std::string::npos) {
        length = std::strtoul(head.c_str() + at + 17, nullptr, 10);
    }
    const std::size_t total = end + 4 + length;
    return bytes.size() >= total ? total : 0;
}

} // namespace

RecordingRelay::RecordingRelay(const std::string& address, int port, int serverPort,
                               const std::string& logPath)
    : ServerPort(serverPort)
    , Log(logPath, std::ios::binary | std::ios::app) {
    if (!Log) {
        throw std::runtime_error("cannot open the log file " + logPath);
    }
    Listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    ::setsockopt(Listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    const sockaddr_in local = Address(address, port);
    if (::bind(Listener, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(Listener, 16) != 0) {
        const std::string why = std::strerror(errno);
        ::close(Listener);
        throw std::runtime_error("cannot listen on " + address + ":" + std::to_string(port) + ": " +
                                 why);
    }
    Acceptor = std::thread([this] { AcceptLoop(); });
}

RecordingRelay::~RecordingRelay() {
    Stop();
}

void RecordingRelay::Stop() {
    if (Stopping.exchange(true)) {
        return;
    }
    Acceptor.join();
    std::lock_guard guard(ThreadsLock);
    for (std::thread& connection : Connections) {
        connection.join();
    }
    ::close(Listener);
}

void RecordingRelay::AcceptLoop() {
    while (!Stopping) {
        pollfd entry{Listener, POLLIN, 0};
        if (::poll(&entry, 1, PollMilliseconds) <= 0) {
            continue;
        }
        const int client = ::accept(Listener, nullptr, nullptr);
        if (client >= 0) {
            std::lock_guard guard(ThreadsLock);
            Connections.emplace_back([this, client] { Relay(client); });
        }
    }
}

void RecordingRelay::Record(std::string& pending, bool flushAll) {
    std::lock_guard guard(LogLock);
    for (std::size_t length; (length = CompleteRequestLength(pending)) > 0;) {
        Log.write(pending.data(), static_cast<std::streamsize>(length));
        pending.erase(0, length);
    }
    if (flushAll && !pending.empty()) {
        Log.write(pending.data(), static_cast<std::streamsize>(pending.size()));
        pending.clear();
    }
    Log.flush();
}

void RecordingRelay::Relay(int client) {
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in backend = Address("127.0.0.1", ServerPort);
    if (::connect(server, reinterpret_cast<const sockaddr*>(&backend), sizeof backend) != 0) {
        ::close(server);
        ::close(client);
        return;
    }
    std::string pending;
    bool clientOpen = true;
    while (!Stopping) {
        pollfd entries[2] = {{client, static_cast<short>(clientOpen ? POLLIN : 0), 0},
                             {server, POLLIN, 0}};
        if (::poll(entries, 2, PollMilliseconds) <= 0) {
            continue;
        }
        char buffer[16384];
        if (clientOpen && (entries[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            const ssize_t count = ::recv(client, buffer, sizeof buffer, 0);
            if (count <= 0) {
                // The client has sent everything; let the server see the end too.
                clientOpen = false;
                ::shutdown(server, SHUT_WR);
            } else {
                pending.append(buffer, static_cast<std::size_t>(count));
                Record(pending, false);
                if (!SendAll(server, buffer, static_cast<std::size_t>(count))) {
                    break;
                }
            }
        }
        if ((entries[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            const ssize_t count = ::recv(server, buffer, sizeof buffer, 0);
            if (count <= 0 || !SendAll(client, buffer, static_cast<std::size_t>(count))) {
                break;
            }
        }
    }
    Record(pending, true);
    ::close(server);
    ::close(client);
}

} // namespace velantro::standins
