#include "translate/SocketActivity.h"

#include <unistd.h>

namespace velantro::translate {

// Elsewhere only complete header lines and body bytes count as activity.
std::optional<std::chrono::milliseconds> SinceDataReceived(std::int64_t /*socket*/) {
    return std::nullopt;
}

int CloseSocket(std::int64_t socket) {
    return ::close(static_cast<int>(socket));
}

} // namespace velantro::translate
