// The translation service's own time per request: replays recorded HTTP
// requests to a server, one fresh loopback connection each, in order, as
// Velantro's client does (HTTP/1.0, the reply read to its Content-Length, then
// closed), and prints the seconds they took in all. Nothing else runs between
// two requests, so the time is the server's plus the kernel's.
//
// usage: request_replay PORT FILE [ROUNDS]
//   FILE holds the requests back to back, each its header and a body of its
//   Content-Length (as the translator stand-in's --log writes them).

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <netinet/in.h>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

/// The Content-Length of a header block, or 0 without one.
std::size_t ContentLength(std::string_view header) {
    constexpr std::string_view Name = "\r\ncontent-length:";
    std::string lower(header);
    for (char& c : lower) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    const auto at = lower.find(Name);
    return at == std::string::npos ? 0
                                   : static_cast<std::size_t>(std::strtoull(
                                         lower.c_str() + at + Name.size(), nullptr, 10));
}

std::vector<std::string> SplitRequests(const std::string& log) {
    std::vector<std::string> requests;
    std::size_t start = 0;
    while (start < log.size()) {
        const auto end = log.find("\r\n\r\n", start);
        if (end == std::string::npos) {
            throw std::runtime_error("a request without the end of its header");
        }
        const std::size_t length =
            end + 4 - start + ContentLength(std::string_view(log).substr(start, end - start));
        requests.push_back(log.substr(start, length));
        start += length;
    }
    return requests;
}

/// One exchange; returns the reply's status line.
std::string Exchange(const sockaddr_in& address, const std::string& request) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("cannot connect");
    }
    for (std::size_t sent = 0; sent < request.size();) {
        const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            close(fd);
            throw std::runtime_error("send failed");
        }
        sent += static_cast<std::size_t>(n);
    }
    std::string reply;
    std::size_t wanted = std::string::npos;
    char buffer[16384];
    while (reply.size() < wanted) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        reply.append(buffer, static_cast<std::size_t>(n));
        if (wanted == std::string::npos) {
            if (const auto end = reply.find("\r\n\r\n"); end != std::string::npos) {
                wanted = end + 4 + ContentLength(std::string_view(reply).substr(0, end));
            }
        }
    }
    close(fd);
    return reply.substr(0, reply.find("\r\n"));
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::cerr << "usage: request_replay PORT FILE [ROUNDS]\n";
        return 2;
    }
    try {
        std::ifstream file(argv[2], std::ios::binary);
        const std::string log((std::istreambuf_iterator<char>(file)),
                              std::istreambuf_iterator<char>());
        const std::vector<std::string> requests = SplitRequests(log);
        const int rounds = argc == 4 ? std::atoi(argv[3]) : 1;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[1])));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

        const auto start = std::chrono::steady_clock::now();
        std::size_t failed = 0;
        for (int round = 0; round < rounds; ++round) {
            for (const std::string& request : requests) {
                failed += Exchange(address, request).find(" 200 ") == std::string::npos;
            }
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        std::printf("%zu requests in %.6f s\n", requests.size() * static_cast<std::size_t>(rounds),
                    took.count());
        if (failed != 0) {
            std::cerr << "request_replay: " << failed << " replies were not 200\n";
            return 1;
        }
    } catch (const std::exception& error) {
        std::cerr << "request_replay: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
