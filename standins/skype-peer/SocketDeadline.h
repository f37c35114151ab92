#pragma once

// A time limit on a connection's socket that holds even while the thread that
// uses the socket is stuck in a library's own wait: libstrophe's TLS
// handshake loops until the server answers or the socket ends, and never
// returns to the event loop meanwhile. At the limit a thread of the
// deadline's own shuts the socket's input down, which ends every such wait
// at once.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace velantro::standins {

class SocketDeadline {
public:
    /// Starts counting now; nothing is shut down before a socket is watched.
    explicit SocketDeadline(std::chrono::steady_clock::duration limit);
    /// Cancels the deadline and waits for its thread, which ends at once.
    ~SocketDeadline();
    SocketDeadline(const SocketDeadline&) = delete;
    SocketDeadline& operator=(const SocketDeadline&) = delete;

    /// The socket to shut down at the limit, in place of any earlier one; at
    /// once when the limit has passed. The deadline keeps a duplicate of the
    /// descriptor, so it never reaches another file that reuses the number.
    void Watch(int socket);

    /// Whether the limit has passed (the watched socket's input, if any, is
    /// shut down).
    bool Expired() const;

private:
    void Wait(std::chrono::steady_clock::time_point until);
    void CloseDuplicate();

    mutable std::mutex Mutex;
    std::condition_variable Wake;
    int Duplicate = -1;
    bool Cancelled = false;
    bool Passed = false;
    std::thread Thread;
};

} // namespace velantro::standins
