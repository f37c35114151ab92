#include "ApertiumEngine.h"

#include "ApertiumMode.h"
#include "ApertiumText.h"
#include "TimedProcess.h"
#include "WarmPipeline.h"
#include "translate/Utf8Encode.h"
#include "translate/WebEncoding.h"

#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

namespace velantro::standins {

namespace {

using Clock = std::chrono::steady_clock;

ProcessOutcome Run(const std::vector<std::string>& command, std::string_view input,
                   Clock::time_point deadline) {
    try {
        return RunUntil(command, input, deadline);
    } catch (const std::system_error& error) {
        throw EngineError("apertium: " + std::string(error.what()));
    }
}

/// The first line of a program's error output, or its status when it wrote none.
std::string Complaint(const ProcessOutcome& outcome) {
    std::string line = outcome.Errors.substr(0, outcome.Errors.find('\n'));
    if (line.size() > 200) {
        line.resize(200);
    }
    return line.empty() ? "exit status " + std::to_string(outcome.Status) : line;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return file ? text.str() : std::string();
}

} // namespace

/// One mode's warm pipeline, one text at a time.
struct ApertiumEngine::WarmMode {
    std::vector<Command> Commands;
    std::timed_mutex Busy;
    // Guarded by Busy.
    std::unique_ptr<WarmPipeline> Pipeline;
    Clock::time_point LastUse;
    unsigned long long Texts = 0;
};

std::string DescribeDuration(std::chrono::milliseconds duration) {
    const auto count = duration.count();
    return count % 1000 == 0 ? std::to_string(count / 1000) + " s" : std::to_string(count) + " ms";
}

std::size_t ApertiumEngine::DefaultPipelines() {
    return std::max<std::size_t>(4, std::size_t{2} * std::thread::hardware_concurrency());
}

ApertiumEngine::ApertiumEngine(EngineNotes notes, std::string program,
                               std::chrono::milliseconds limit, std::size_t pipelines,
                               std::chrono::milliseconds idleStop)
    : Notes(std::move(notes))
    , Program(std::move(program))
    , Limit(limit)
    , IdleStop(idleStop)
    , FreePipelines(static_cast<std::ptrdiff_t>(std::clamp<std::size_t>(pipelines, 1, 1024))) {
    const ProcessOutcome listing = Run({Program, "-l"}, {}, Clock::now() + Limit);
    if (listing.TimedOut || listing.Status != 0) {
        throw EngineError("apertium: cannot list its modes: " + Complaint(listing));
    }
    std::istringstream lines(listing.Output);
    for (std::string mode; lines >> mode;) {
        for (const ApertiumPair& pair : KnownPairs()) {
            if (pair.Mode == mode) {
                Installed.push_back(pair);
            }
        }
    }
    if (Installed.empty()) {
        throw EngineError("apertium: none of the modes eng-spa, fr-es, mkd-eng, mkd-bul is "
                          "installed");
    }
    const std::filesystem::path modes = ApertiumModesFolder(Program);
    for (const ApertiumPair& pair : Installed) {
        const std::string mode(pair.Mode);
        if (auto commands = NullFlushCommands(ReadFile(modes / (mode + ".mode")))) {
            auto warm = std::make_unique<WarmMode>();
            warm->Commands = std::move(*commands);
            WarmModes.emplace(mode, std::move(warm));
        }
    }
    if (!WarmModes.empty()) {
        IdleStopper =
            std::jthread([this](const std::stop_token& stop) { StopIdlePipelines(stop); });
    }
}

ApertiumEngine::~ApertiumEngine() = default;

std::string ApertiumEngine::Describe() const {
    std::string description = "apertium (";
    for (const ApertiumPair& pair : Installed) {
        description += std::string(pair.Mode) + (&pair == &Installed.back() ? ")" : ", ");
    }
    return description;
}

std::u16string ApertiumEngine::Translate(std::u16string_view text, Language target) {
    const Clock::time_point deadline = Clock::now() + Limit;
    const auto runPair = [&](const ApertiumPair& pair, std::u16string_view input) {
        const std::string mode(pair.Mode);
        if (const auto warm = WarmModes.find(mode); warm != WarmModes.end()) {
            return RunWarm(*warm->second, mode, input, deadline);
        }
        return RunOnce(mode, input, deadline);
    };
    return TranslateAlongRoute(text, target, Installed, runPair, Notes, "apertium");
}

std::u16string ApertiumEngine::RunOnce(const std::string& mode, std::u16string_view input,
                                       Clock::time_point deadline) {
    if (!FreePipelines.try_acquire_until(deadline)) {
        throw EngineError("apertium: no pipeline came free within " + DescribeDuration(Limit));
    }
    const struct Taken {
        std::counting_semaphore<1024>& Pipelines;
        ~Taken() { Pipelines.release(); }
    } taken{FreePipelines};
    const ProcessOutcome outcome =
        Run({Program, "-u", mode}, translate::Utf8Encode(input), deadline);
    if (outcome.TimedOut) {
        throw EngineError("apertium: " + mode + " did not finish within " +
                          DescribeDuration(Limit));
    }
    if (outcome.Status != 0) {
        throw EngineError("apertium: " + mode + " failed: " + Complaint(outcome));
    }
    std::u16string output = translate::Utf8Decode(outcome.Output);
    if (output.empty() && !outcome.Output.empty()) {
        throw EngineError("apertium: " + mode + " wrote something other than UTF-8");
    }
    return output;
}

std::u16string ApertiumEngine::RunWarm(WarmMode& warm, const std::string& mode,
                                       std::u16string_view input, Clock::time_point deadline) {
    std::unique_lock busy(warm.Busy, std::defer_lock);
    if (!busy.try_lock_until(deadline)) {
        throw EngineError("apertium: " + mode + " did not come free within " +
                          DescribeDuration(Limit));
    }
    warm.LastUse = Clock::now();
    // A replacement starts at once, so that it has loaded its data by the
    // time the next text comes. Empty, or why it cannot start.
    const auto restart = [&]() -> std::string {
        warm.Pipeline.reset();
        try {
            warm.Pipeline = std::make_unique<WarmPipeline>(warm.Commands);
            return {};
        } catch (const std::system_error& error) {
            return error.what();
        }
    };
    // Not started yet, or one that ended or wrote out of turn since its
    // last text.
    if (!warm.Pipeline || !warm.Pipeline->Ready()) {
        if (const std::string problem = restart(); !problem.empty()) {
            throw EngineError("apertium: " + mode + ": " + problem);
        }
    }
    // Every text starts with a superblank of its own, which the tools pass
    // on untouched: an answer that does not start with it is not this
    // text's translation.
    const std::string marker = "[velantro " + std::to_string(++warm.Texts) + "]";
    const WarmPipeline::Exchange answer =
        warm.Pipeline->Translate(marker + ToApertiumStream(translate::Utf8Encode(input)), deadline);
    const auto fail = [&](const std::string& why) {
        restart();
        throw EngineError("apertium: " + mode + why);
    };
    switch (answer.How) {
    case WarmPipeline::Ending::TimedOut:
        fail(" did not finish within " + DescribeDuration(Limit));
        break;
    case WarmPipeline::Ending::Ended:
        fail(" failed: " + (!answer.Complaint.empty() ? answer.Complaint
                            : answer.Status >= 0 ? "exit status " + std::to_string(answer.Status)
                                                 : std::string("its output closed")));
        break;
    case WarmPipeline::Ending::Answered:
        break;
    }
    if (answer.Trailing || !answer.Output.starts_with(marker)) {
        fail(" answered out of turn");
    }
    const std::string text =
        FromApertiumStream(std::string_view(answer.Output).substr(marker.size()));
    std::u16string output = translate::Utf8Decode(text);
    if (output.empty() && !text.empty()) {
        fail(" wrote something other than UTF-8");
    }
    warm.LastUse = Clock::now();
    return output;
}

void ApertiumEngine::StopIdlePipelines(const std::stop_token& stop) {
    const auto check = std::clamp<std::chrono::milliseconds>(
        IdleStop / 4, std::chrono::milliseconds(10), std::chrono::milliseconds(60'000));
    std::unique_lock lock(IdleMutex);
    while (!IdleWake.wait_for(lock, stop, check, [] { return false; })) {
        if (stop.stop_requested()) {
            return;
        }
        for (auto& [mode, warm] : WarmModes) {
            // One in use is not idle.
            const std::unique_lock busy(warm->Busy, std::try_to_lock);
            if (busy && warm->Pipeline && Clock::now() - warm->LastUse > IdleStop) {
                warm->Pipeline.reset();
            }
        }
    }
}

} // namespace velantro::standins
