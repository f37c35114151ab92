#include "HttpServer.h"

#include "HttpRequestHead.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <tuple>
#include <utility>

namespace velantro::standins {

namespace {

/// How long a closed connection is drained, so that unread bytes do not
/// make the system reset it before the client has read the answer.
constexpr std::chrono::milliseconds DrainLimit{1000};

HttpReply Refusal(int status, std::string reason) {
    return {status, std::move(reason), {}, {}};
}

/// A reason phrase on one line, of a sensible length.
std::string OneLine(std::string_view reason) {
    std::string line(reason.substr(0, 300));
    for (char& c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = ' ';
        }
    }
    return line;
}

std::string Format(const HttpReply& reply) {
    std::string bytes =
        "HTTP/1.1 " + std::to_string(reply.Status) + " " + OneLine(reply.Reason) + "\r\n";
    if (!reply.ContentType.empty()) {
        bytes += "Content-Type: " + reply.ContentType + "\r\n";
    }
    bytes += "Content-Length: " + std::to_string(reply.Body.size()) + "\r\n";
    bytes += "Connection: close\r\n\r\n";
    return bytes + reply.Body;
}

/// The host written as in a URL ("127.0.0.1:8357", "[::1]:8357") and the port.
std::pair<std::string, int> DescribeAddress(const sockaddr_storage& address) {
    char host[INET6_ADDRSTRLEN] = "?";
    int port = 0;
    if (address.ss_family == AF_INET6) {
        const auto& ipv6 = reinterpret_cast<const sockaddr_in6&>(address);
        ::inet_ntop(AF_INET6, &ipv6.sin6_addr, host, sizeof host);
        port = ntohs(ipv6.sin6_port);
        return {"[" + std::string(host) + "]:" + std::to_string(port), port};
    }
    if (address.ss_family != AF_INET) {
        return {"a socket of address family " + std::to_string(address.ss_family), 0};
    }
    const auto& ipv4 = reinterpret_cast<const sockaddr_in&>(address);
    ::inet_ntop(AF_INET, &ipv4.sin_addr, host, sizeof host);
    port = ntohs(ipv4.sin_port);
    return {std::string(host) + ":" + std::to_string(port), port};
}

} // namespace

HttpServer::HttpServer(const std::string& address, int port, HttpHandler handler,
                       const std::optional<std::string>& logPath)
    : Handler(std::move(handler)) {
    OpenLog(logPath);
    const std::string where = address + ":" + std::to_string(port);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) {
        throw std::runtime_error("cannot listen on " + where + ": not an IPv4 address");
    }
    Listener = common::FileDescriptor(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int yes = 1;
    // Restarting at once must not fail on the last run's connections in TIME_WAIT.
    ::setsockopt(Listener.Get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (!Listener ||
        ::bind(Listener.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(Listener.Get(), SOMAXCONN) != 0) {
        throw std::runtime_error("cannot listen on " + where + ": " + std::strerror(errno));
    }
    Start();
}

HttpServer::HttpServer(common::FileDescriptor listener, HttpHandler handler,
                       const std::optional<std::string>& logPath)
    : Handler(std::move(handler))
    , Listener(std::move(listener)) {
    OpenLog(logPath);
    Start();
}

void HttpServer::OpenLog(const std::optional<std::string>& logPath) {
    if (!logPath) {
        return;
    }
    Log.emplace(*logPath, std::ios::binary | std::ios::app);
    if (!*Log) {
        throw std::runtime_error("cannot open the log file " + *logPath + ": " +
                                 std::strerror(errno));
    }
}

void HttpServer::Start() {
    sockaddr_storage local{};
    socklen_t size = sizeof local;
    if (::getsockname(Listener.Get(), reinterpret_cast<sockaddr*>(&local), &size) != 0) {
        throw std::runtime_error(std::string("cannot read the listening address: ") +
                                 std::strerror(errno));
    }
    std::tie(BoundAddress, BoundPort) = DescribeAddress(local);
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("cannot make a pipe: ") + std::strerror(errno));
    }
    WakeRead = common::FileDescriptor(wake[0]);
    WakeWrite = common::FileDescriptor(wake[1]);
    Acceptor = std::thread([this] { AcceptLoop(); });
}

HttpServer::~HttpServer() {
    Stop();
}

void HttpServer::Stop() {
    if (Stopping.exchange(true)) {
        return;
    }
    // Never read, the byte leaves the pipe readable: every wait sees it.
    const char byte = 0;
    (void)!::write(WakeWrite.Get(), &byte, 1);
    Acceptor.join();
    Connections.JoinAll();
}

void HttpServer::AcceptLoop() {
    while (WaitFor(Listener.Get(), POLLIN, std::chrono::milliseconds(-1)) == Wait::Ready) {
        const int client = ::accept4(Listener.Get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            // Out of descriptors, say: let connections end before trying again.
            if (errno != EINTR && errno != ECONNABORTED) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            continue;
        }
        EndOldestReaderWhenFull();
        try {
            Connections.Start([this, client] { Serve(client); });
        } catch (const std::system_error&) {
            ::close(client);
        }
    }
}

HttpServer::Wait HttpServer::WaitFor(int socket, short events,
                                     std::chrono::milliseconds limit) const {
    pollfd entries[2] = {{socket, events, 0}, {WakeRead.Get(), POLLIN, 0}};
    int ready = 0;
    do {
        ready = ::poll(entries, 2, static_cast<int>(limit.count()));
    } while (ready < 0 && errno == EINTR);
    if (entries[1].revents != 0) {
        return Wait::Stopped;
    }
    return ready == 0 ? Wait::TimedOut : Wait::Ready;
}

std::list<HttpServer::Reader>::iterator HttpServer::StartReading(int client) {
    const std::lock_guard guard(ReadersLock);
    return Readers.insert(Readers.end(), Reader{client});
}

void HttpServer::StopReading(std::optional<std::list<Reader>::iterator>& reader) {
    if (reader) {
        const std::lock_guard guard(ReadersLock);
        Readers.erase(*reader);
        reader.reset();
    }
}

void HttpServer::EndOldestReaderWhenFull() {
    if (!Connections.Full()) {
        return;
    }
    // The oldest reader is the nearest to its deadline anyway; under the
    // lock its socket is still open, since a reader leaves the list first.
    const std::lock_guard guard(ReadersLock);
    for (Reader& reader : Readers) {
        if (reader.Socket >= 0) {
            ::shutdown(reader.Socket, SHUT_RDWR);
            reader.Socket = -1;
            return;
        }
    }
}

HttpServer::Wait HttpServer::Receive(int socket, std::string& bytes, bool& ended,
                                     Clock::time_point deadline) const {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left <= std::chrono::milliseconds(0)) {
        return Wait::TimedOut;
    }
    const Wait wait = WaitFor(socket, POLLIN, left);
    if (wait == Wait::Ready) {
        char buffer[16384];
        const ssize_t count = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
        if (count > 0) {
            bytes.append(buffer, static_cast<std::size_t>(count));
        }
        ended = count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR);
    }
    return wait;
}

bool HttpServer::SendAll(int socket, std::string_view bytes, Clock::time_point deadline) const {
    while (!bytes.empty()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= std::chrono::milliseconds(0) || WaitFor(socket, POLLOUT, left) != Wait::Ready) {
            return false;
        }
        const ssize_t sent =
            ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(std::max<ssize_t>(sent, 0)));
    }
    return true;
}

void HttpServer::CloseGently(int socket) const {
    ::shutdown(socket, SHUT_WR);
    const Clock::time_point deadline = Clock::now() + DrainLimit;
    for (bool ended = false; !ended && Clock::now() < deadline;) {
        char buffer[16384];
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (WaitFor(socket, POLLIN, left) != Wait::Ready) {
            break;
        }
        const ssize_t count = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
        ended = count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR);
    }
    ::close(socket);
}

void HttpServer::Record(std::string_view bytes) {
    if (!Log || bytes.empty()) {
        return;
    }
    const std::lock_guard guard(LogLock);
    Log->write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    Log->flush();
}

void HttpServer::Serve(int client) {
    std::optional<std::list<Reader>::iterator> reader = StartReading(client);
    try {
        std::string bytes;
        std::size_t requestLength = std::string::npos;
        const std::optional<HttpReply> reply = ReadAndAnswer(client, bytes, requestLength, reader);
        StopReading(reader);
        Record(std::string_view(bytes).substr(0, requestLength));
        if (reply) {
            SendAll(client, Format(*reply), Clock::now() + ReplyLimit);
        }
    } catch (const std::exception&) {
        // Out of memory, say: this connection ends unanswered, the others go on.
    }
    StopReading(reader);
    CloseGently(client);
}

std::optional<HttpReply>
HttpServer::ReadAndAnswer(int client, std::string& bytes, std::size_t& requestLength,
                          std::optional<std::list<Reader>::iterator>& reader) {
    // However slowly its bytes come, a request has this long.
    const Clock::time_point deadline = Clock::now() + RequestLimit;
    bool ended = false;
    std::size_t headEnd = std::string::npos;
    while ((headEnd = bytes.find("\r\n\r\n")) == std::string::npos) {
        if (bytes.size() > MaxHeadBytes) {
            return Refusal(431, "Request Header Fields Too Large");
        }
        const Wait wait = Receive(client, bytes, ended, deadline);
        if (wait == Wait::Stopped || (bytes.empty() && wait != Wait::Ready) ||
            (bytes.empty() && ended)) {
            return std::nullopt; // nothing was asked
        }
        if (wait == Wait::TimedOut) {
            return Refusal(408, "Request Timeout");
        }
        if (ended && bytes.find("\r\n\r\n") == std::string::npos) {
            return Refusal(400, "Bad Request: the request ended early");
        }
    }
    // A head that came in one piece is no smaller for it.
    if (headEnd + 4 > MaxHeadBytes) {
        return Refusal(431, "Request Header Fields Too Large");
    }
    const std::optional<RequestHead> head =
        ParseRequestHead(std::string_view(bytes).substr(0, headEnd));
    if (!head) {
        return Refusal(400, "Bad Request");
    }
    if (head->TransferEncoded) {
        return Refusal(411, "Length Required");
    }
    if (head->ContentLength > MaxBodyBytes) {
        return Refusal(413, "Payload Too Large");
    }
    if (head->ExpectsContinue && !SendAll(client, "HTTP/1.1 100 Continue\r\n\r\n", deadline)) {
        return std::nullopt;
    }
    requestLength = headEnd + 4 + head->ContentLength;
    while (bytes.size() < requestLength) {
        if (ended) {
            return Refusal(400, "Bad Request: the body ended early");
        }
        const Wait wait = Receive(client, bytes, ended, deadline);
        if (wait == Wait::Stopped) {
            return std::nullopt;
        }
        if (wait == Wait::TimedOut) {
            return Refusal(408, "Request Timeout");
        }
    }
    // Whatever the client sends after its request, or its shutting down its
    // side, changes nothing: it gets the answer.
    const HttpRequest request{head->Method, head->Target,
                              bytes.substr(headEnd + 4, head->ContentLength)};
    // Being answered, the connection is no longer one to end for a newcomer.
    StopReading(reader);
    try {
        return Handler(request);
    } catch (const std::exception& error) {
        return Refusal(500, error.what());
    }
}

} // namespace velantro::standins
