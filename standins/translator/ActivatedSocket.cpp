#include "ActivatedSocket.h"

#include "common/IntegerText.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace velantro::standins {

namespace {

std::optional<std::string_view> Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string_view>(value) : std::nullopt;
}

bool IsListeningStreamSocket(int fd) {
    int type = 0;
    int listening = 0;
    socklen_t size = sizeof type;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0 || type != SOCK_STREAM) {
        return false;
    }
    size = sizeof listening;
    return ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening != 0;
}

} // namespace

int ActivatedDescriptorCount(std::optional<std::string_view> listenPid,
                             std::optional<std::string_view> listenFds, pid_t self) {
    if (!listenPid || !listenFds) {
        return 0;
    }
    const auto pid = common::ReadDecimal(*listenPid);
    if (!pid || *pid != self) {
        return 0;
    }
    const auto count = common::ReadDecimal(*listenFds);
    if (!count || *count < 0) {
        throw std::invalid_argument("LISTEN_FDS=" + std::string(*listenFds) +
                                    " is not a count of descriptors");
    }
    return *count;
}

common::FileDescriptor TakeActivatedListener() {
    const int count =
        ActivatedDescriptorCount(Variable("LISTEN_PID"), Variable("LISTEN_FDS"), ::getpid());
    ::unsetenv("LISTEN_PID");
    ::unsetenv("LISTEN_FDS");
    ::unsetenv("LISTEN_FDNAMES");
    if (count == 0) {
        return {};
    }
    // Taken over even when refused below, so that it is closed with the rest.
    common::FileDescriptor listener(FirstActivatedDescriptor);
    if (count != 1) {
        throw std::runtime_error("was handed " + std::to_string(count) +
                                 " sockets; it serves one (ListenStream= once, Accept=no)");
    }
    if (::fcntl(listener.Get(), F_SETFD, FD_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("cannot use the socket it was handed: ") +
                                 std::strerror(errno));
    }
    if (!IsListeningStreamSocket(listener.Get())) {
        throw std::runtime_error("the socket it was handed is not a listening stream socket "
                                 "(ListenStream= with Accept=no)");
    }
    return listener;
}

} // namespace velantro::standins
