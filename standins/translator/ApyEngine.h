#pragma once

// Translations by an Apertium APy server, one pair after another where no
// pair leads straight to the target language.

#include "Engine.h"

namespace velantro::standins {

class ApyEngine final : public Engine {
public:
    /// baseUrl: the server, "http://host[:port]". Raises std::invalid_argument
    /// for anything else.
    ApyEngine(std::string_view baseUrl, EngineNotes notes);

    std::string Describe() const override { return "apy at " + Url; }

    /// For each pair of the route to target (see TranslateAlongRoute) posts
    /// langpair ("eng|spa"), q and markUnknown=no as a form to /translate
    /// and reads responseData.translatedText from the JSON reply.
    std::u16string Translate(std::u16string_view text, Language target) override;

private:
    std::string Url;
    EngineNotes Notes;
};

} // namespace velantro::standins
