#pragma once

// Translations by Apertium's command-line program, one pair after another
// where no pair leads straight to the target language.

#include "ApertiumPairs.h"
#include "Engine.h"

#include <chrono>
#include <semaphore>
#include <string>
#include <vector>

namespace velantro::standins {

class ApertiumEngine final : public Engine {
public:
    /// How long one translation may take, every pair of its route included.
    static constexpr std::chrono::milliseconds DefaultLimit{10'000};

    /// How many pipelines run at once, each a dozen processes and some
    /// 100 MB: two per processor, at least four.
    static std::size_t DefaultPipelines();

    /// Asks program ("apertium -l") which modes are installed. Raises
    /// EngineError when it cannot be run or has none of KnownPairs().
    explicit ApertiumEngine(EngineNotes notes, std::string program = "apertium",
                            std::chrono::milliseconds limit = DefaultLimit,
                            std::size_t pipelines = DefaultPipelines());

    std::string Describe() const override;

    /// Runs "program -u MODE" (unknown words unmarked) for each pair of the
    /// route to target (see TranslateAlongRoute), once one of the pipelines
    /// is free. A program that fails, or a translation that outlasts the
    /// limit, waiting included, raises EngineError.
    std::u16string Translate(std::u16string_view text, Language target) override;

private:
    EngineNotes Notes;
    std::string Program;
    std::chrono::milliseconds Limit;
    std::vector<ApertiumPair> Installed;
    std::counting_semaphore<1024> FreePipelines;
};

/// "N s" for whole seconds, "N ms" otherwise.
std::string DescribeDuration(std::chrono::milliseconds duration);

} // namespace velantro::standins
