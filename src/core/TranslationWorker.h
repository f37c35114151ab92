#pragma once

// Translations on a thread of their own, so that the window's thread never
// waits on the network.

#include "core/TranslationService.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace velantro::core {

/// One worker thread that takes translations in the order asked, one at a
/// time. Each is prepared on the asking thread (where, say, the endpoint is
/// chosen) and exchanged on the worker; its outcome goes back to the asking
/// thread through post.
class TranslationWorker final : public TranslationService {
public:
    /// The exchange itself, run on the worker; raises on failure.
    using Exchange = std::function<std::u16string()>;
    /// Prepares one exchange on the asking thread.
    using Prepare = std::function<Exchange(const std::u16string& text, std::int32_t code)>;
    /// Runs work on the asking thread, from its event loop; called from the
    /// worker, so it must be safe to call from any thread.
    using Post = std::function<void(std::function<void()> work)>;

    TranslationWorker(Prepare prepare, Post post);
    /// Drops what waits, tells the exchange under way to stop (Stopping())
    /// and waits for the worker to end.
    ~TranslationWorker() override;
    TranslationWorker(const TranslationWorker&) = delete;
    TranslationWorker& operator=(const TranslationWorker&) = delete;

    void Translate(std::u16string text, std::int32_t code, Done done) override;

    /// True once the worker is being stopped: an exchange under way should
    /// give up. Safe from any thread.
    bool Stopping() const { return Stop.load(); }

    /// Translations asked for whose outcome has not been posted yet.
    std::size_t Waiting() const;

private:
    struct Job {
        Exchange Run;
        Done Finished;
    };
    void Work();

    Prepare PrepareExchange;
    Post PostBack;
    mutable std::mutex Lock;
    std::condition_variable Wake;
    std::deque<Job> Jobs;
    std::size_t Running = 0;
    std::atomic<bool> Stop{false};
    std::thread Thread;
};

} // namespace velantro::core
