#include "ApertiumEngine.h"

#include "TimedProcess.h"
#include "translate/Utf8Encode.h"
#include "translate/WebEncoding.h"

#include <algorithm>
#include <sstream>
#include <system_error>
#include <thread>

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

} // namespace

std::string DescribeDuration(std::chrono::milliseconds duration) {
    const auto count = duration.count();
    return count % 1000 == 0 ? std::to_string(count / 1000) + " s" : std::to_string(count) + " ms";
}

std::size_t ApertiumEngine::DefaultPipelines() {
    return std::max<std::size_t>(4, std::size_t{2} * std::thread::hardware_concurrency());
}

ApertiumEngine::ApertiumEngine(EngineNotes notes, std::string program,
                               std::chrono::milliseconds limit, std::size_t pipelines)
    : Notes(std::move(notes))
    , Program(std::move(program))
    , Limit(limit)
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
}

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
    };
    return TranslateAlongRoute(text, target, Installed, runPair, Notes, "apertium");
}

} // namespace velantro::standins
