#include "core/TranslationWorker.h"

#include <exception>
#include <stdexcept>
#include <utility>

namespace velantro::core {

TranslationWorker::TranslationWorker(Prepare prepare, Post post)
    : PrepareExchange(std::move(prepare))
    , PostBack(std::move(post))
    , Thread([this] { Work(); }) {}

TranslationWorker::~TranslationWorker() {
    {
        const std::lock_guard guard(Lock);
        Stop = true;
        Jobs.clear();
    }
    Wake.notify_all();
    Thread.join();
}

void TranslationWorker::Translate(std::u16string text, std::int32_t code, Done done) {
    Exchange exchange;
    try {
        exchange = PrepareExchange(text, code);
    } catch (const std::exception& error) {
        // Told in turn, after what was asked before.
        exchange = [why = std::string(error.what())]() -> std::u16string {
            throw std::runtime_error(why);
        };
    }
    {
        const std::lock_guard guard(Lock);
        Jobs.push_back({std::move(exchange), std::move(done)});
    }
    Wake.notify_one();
}

std::size_t TranslationWorker::Waiting() const {
    const std::lock_guard guard(Lock);
    return Jobs.size() + Running;
}

void TranslationWorker::Work() {
    for (;;) {
        Job job;
        {
            std::unique_lock guard(Lock);
            Wake.wait(guard, [this] { return Stop || !Jobs.empty(); });
            if (Stop) {
                return;
            }
            job = std::move(Jobs.front());
            Jobs.pop_front();
            Running = 1;
        }
        TranslationOutcome outcome;
        try {
            outcome.Text = job.Run();
        } catch (const std::exception& error) {
            outcome.Error = error.what();
        }
        if (Stop) {
            return;
        }
        if (job.Finished) {
            PostBack([done = std::move(job.Finished), outcome = std::move(outcome)]() mutable {
                done(std::move(outcome));
            });
        }
        // Counted until its outcome is on its way.
        const std::lock_guard guard(Lock);
        Running = 0;
    }
}

} // namespace velantro::core
