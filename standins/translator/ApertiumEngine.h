#pragma once

// Translations by Apertium's pipelines, one pair after another where no pair
// leads straight to the target language.

#include "ApertiumPairs.h"
#include "Engine.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

namespace velantro::standins {

class ApertiumEngine final : public Engine {
public:
    /// How long one translation may take, every pair of its route included.
    static constexpr std::chrono::milliseconds DefaultLimit{10'000};
    /// How long a warm pipeline may go unused before it is stopped.
    static constexpr std::chrono::milliseconds DefaultIdleStop{10 * 60'000};

    /// How many whole pipelines run at once for modes that cannot stay warm,
    /// each a dozen processes and some 100 MB: two per processor, at least four.
    static std::size_t DefaultPipelines();

    /// Asks program ("apertium -l") which modes are installed. Raises
    /// EngineError when it cannot be run or has none of KnownPairs().
    explicit ApertiumEngine(EngineNotes notes, std::string program = "apertium",
                            std::chrono::milliseconds limit = DefaultLimit,
                            std::size_t pipelines = DefaultPipelines(),
                            std::chrono::milliseconds idleStop = DefaultIdleStop);
    ~ApertiumEngine() override;
    ApertiumEngine(const ApertiumEngine&) = delete;
    ApertiumEngine& operator=(const ApertiumEngine&) = delete;

    std::string Describe() const override;

    /// Translates along the route to target (see TranslateAlongRoute), each
    /// pair with unknown words unmarked. A mode whose mode file runs in
    /// null-flush mode has one warm pipeline, started on first use and kept
    /// for the texts after it, one text at a time; any other mode runs
    /// "program -u MODE" per text once one of the pipelines is free. A
    /// pipeline that fails, answers out of turn or outlasts the limit,
    /// waiting included, raises EngineError; a warm one is then replaced.
    std::u16string Translate(std::u16string_view text, Language target) override;

private:
    struct WarmMode;

    std::u16string RunOnce(const std::string& mode, std::u16string_view input,
                           std::chrono::steady_clock::time_point deadline);
    std::u16string RunWarm(WarmMode& warm, const std::string& mode, std::u16string_view input,
                           std::chrono::steady_clock::time_point deadline);
    /// Stops the warm pipelines unused for longer than IdleStop.
    void StopIdlePipelines(const std::stop_token& stop);

    EngineNotes Notes;
    std::string Program;
    std::chrono::milliseconds Limit;
    std::chrono::milliseconds IdleStop;
    std::vector<ApertiumPair> Installed;
    std::counting_semaphore<1024> FreePipelines;
    // Filled by the constructor, read-only after it; each entry guards itself.
    std::map<std::string, std::unique_ptr<WarmMode>, std::less<>> WarmModes;
    std::mutex IdleMutex;
    std::condition_variable_any IdleWake;
    std::jthread IdleStopper;
};

/// "N s" for whole seconds, "N ms" otherwise.
std::string DescribeDuration(std::chrono::milliseconds duration);

} // namespace velantro::standins
