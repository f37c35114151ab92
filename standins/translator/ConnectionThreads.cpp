#include "ConnectionThreads.h"

namespace velantro::standins {

void ConnectionThreads::Start(std::function<void()> task) {
    std::unique_lock lock(Lock);
    TaskEnded.wait(lock, [this] { return Running < Max; });
    for (auto worker = Workers.begin(); worker != Workers.end();) {
        if (worker->Ended) {
            // Its task has ended; the thread is leaving or gone.
            worker->Thread.join();
            worker = Workers.erase(worker);
        } else {
            ++worker;
        }
    }
    const auto worker = Workers.emplace(Workers.end());
    // The thread marks its end under the lock, which is held until the
    // thread object is in place.
    try {
        worker->Thread = std::thread([this, worker, task = std::move(task)] {
            task();
            const std::lock_guard ended(Lock);
            worker->Ended = true;
            --Running;
            TaskEnded.notify_all();
        });
    } catch (...) {
        Workers.erase(worker);
        throw;
    }
    ++Running;
}

void ConnectionThreads::JoinAll() {
    std::list<Worker> workers;
    {
        std::unique_lock lock(Lock);
        TaskEnded.wait(lock, [this] { return Running == 0; });
        workers.swap(Workers);
    }
    for (Worker& worker : workers) {
        worker.Thread.join();
    }
}

} // namespace velantro::standins
