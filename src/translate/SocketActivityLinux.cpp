#include "translate/SocketActivity.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velantro::translate {

std::optional<std::chrono::milliseconds> SinceDataReceived(std::int64_t socket) {
    tcp_info info{};
    socklen_t size = sizeof info;
    if (socket < 0 ||
        ::getsockopt(static_cast<int>(socket), IPPROTO_TCP, TCP_INFO, &info, &size) != 0) {
        return std::nullopt;
    }
    // Counted from the connection's start until the first data arrives.
    return std::chrono::milliseconds(info.tcpi_last_data_recv);
}

int CloseSocket(std::int64_t socket) {
    return ::close(static_cast<int>(socket));
}

} // namespace velantro::translate
