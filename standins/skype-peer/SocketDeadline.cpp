#include "SocketDeadline.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velantro::standins {

SocketDeadline::SocketDeadline(std::chrono::steady_clock::duration limit)
    : Thread([this, until = std::chrono::steady_clock::now() + limit] { Wait(until); }) {}

SocketDeadline::~SocketDeadline() {
    {
        const std::lock_guard lock(Mutex);
        Cancelled = true;
    }
    Wake.notify_one();
    Thread.join();
    CloseDuplicate();
}

void SocketDeadline::Watch(int socket) {
    const std::lock_guard lock(Mutex);
    CloseDuplicate();
    Duplicate = ::fcntl(socket, F_DUPFD_CLOEXEC, 0);
    if (Passed && Duplicate >= 0) {
        ::shutdown(Duplicate, SHUT_RD);
    }
}

bool SocketDeadline::Expired() const {
    const std::lock_guard lock(Mutex);
    return Passed;
}

void SocketDeadline::Wait(std::chrono::steady_clock::time_point until) {
    std::unique_lock lock(Mutex);
    if (Wake.wait_until(lock, until, [this] { return Cancelled; })) {
        return;
    }
    Passed = true;
    // Shutting down reaches the socket itself, through any descriptor of it:
    // the owner's waits for input see its end at once. Only the input: a
    // write after it (TLS's closing alert) still goes out rather than fail.
    if (Duplicate >= 0) {
        ::shutdown(Duplicate, SHUT_RD);
    }
}

void SocketDeadline::CloseDuplicate() {
    if (Duplicate >= 0) {
        ::close(Duplicate);
        Duplicate = -1;
    }
}

} // namespace velantro::standins
