#pragma once

// A thread for each connection of a server, so that a slow client holds
// nobody but itself.

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

namespace velantro::standins {

class ConnectionThreads {
public:
    /// At most max tasks run at once.
    explicit ConnectionThreads(std::size_t max)
        : Max(max) {}
    ~ConnectionThreads() { JoinAll(); }
    ConnectionThreads(const ConnectionThreads&) = delete;
    ConnectionThreads& operator=(const ConnectionThreads&) = delete;

    /// Runs task on a new thread, once fewer than max run; first joins the
    /// threads whose task has ended, so that finished threads never pile up.
    /// Raises std::system_error when no thread can be started.
    void Start(std::function<void()> task);

    /// Waits for every task to end.
    void JoinAll();

    /// Whether max tasks run, so that Start would wait.
    bool Full() {
        const std::lock_guard lock(Lock);
        return Running >= Max;
    }

private:
    struct Worker {
        std::thread Thread;
        bool Ended = false;
    };

    std::size_t Max;
    std::size_t Running = 0;
    std::mutex Lock;
    std::condition_variable TaskEnded;
    std::list<Worker> Workers;
};

} // namespace velantro::standins
