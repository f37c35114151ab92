#pragma once

// Translations as the conversation core asks for them: in order, answered
// later, never waited for.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace velantro::core {

/// A translation, or why there is none.
struct TranslationOutcome {
    std::optional<std::u16string> Text;
    std::string Error;
};

class TranslationService {
public:
    using Done = std::function<void(TranslationOutcome outcome)>;

    virtual ~TranslationService() = default;

    /// Translates text into the language with the given code once every
    /// translation asked before has its outcome; done gets this one's on the
    /// asking thread, from its event loop, never inside this call.
    virtual void Translate(std::u16string text, std::int32_t code, Done done) = 0;
};

} // namespace velantro::core
