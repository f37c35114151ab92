#pragma once

// What translates the texts the stand-in receives.

#include "Languages.h"

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velantro::standins {

/// A translation that failed; the message says why and is sent to the
/// client in the reply's status line.
class EngineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Receives the lines an engine writes to the translator's log.
using EngineNotes = std::function<void(const std::string& line)>;

class Engine {
public:
    virtual ~Engine() = default;

    /// The engine's name and what it runs on, for the log.
    virtual std::string Describe() const = 0;

    /// Translates text into target. Raises EngineError when it cannot. Safe
    /// to call from several threads at once.
    virtual std::u16string Translate(std::u16string_view text, Language target) = 0;
};

/// The built-in phrase book: word for word, deterministic, always there.
class PhraseBookEngine final : public Engine {
public:
    std::string Describe() const override { return "phrasebook"; }
    std::u16string Translate(std::u16string_view text, Language target) override;
};

} // namespace velantro::standins
