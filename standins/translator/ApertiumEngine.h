#pragma once

// Translations by Apertium's command-line program, one pair after another
// where no pair leads straight to the target language.

#include "ApertiumPairs.h"
#include "Engine.h"

#include <chrono>
#include <string>
#include <vector>

namespace velantro::standins {

class ApertiumEngine final : public Engine {
public:
    /// How long one translation may take, every pair of its route included.
    static constexpr std::chrono::milliseconds DefaultLimit{10'000};

    /// Asks program ("apertium -l") which modes are installed. Raises
    /// EngineError when it cannot be run or has none of KnownPairs().
    explicit ApertiumEngine(EngineNotes notes, std::string program = "apertium",
                            std::chrono::milliseconds limit = DefaultLimit);

    std::string Describe() const override;

    /// Runs "program -u MODE" (unknown words unmarked) for each pair of the
    /// route to target (see TranslateAlongRoute). A program that fails or
    /// outlasts the limit raises EngineError.
    std::u16string Translate(std::u16string_view text, Language target) override;

private:
    EngineNotes Notes;
    std::string Program;
    std::chrono::milliseconds Limit;
    std::vector<ApertiumPair> Installed;
};

/// "N s" for whole seconds, "N ms" otherwise.
std::string DescribeDuration(std::chrono::milliseconds duration);

} // namespace velantro::standins
