#pragma once

// Translations by a LibreTranslate server.

#include "Engine.h"

namespace velantro::standins {

class LibreTranslateEngine final : public Engine {
public:
    /// baseUrl: the server, "http://host[:port]". Raises std::invalid_argument
    /// for anything else.
    explicit LibreTranslateEngine(std::string_view baseUrl);

    std::string Describe() const override { return "libretranslate at " + Url; }

    /// Posts q, source=auto and target (the ISO 639-1 code) as a form to
    /// /translate and reads translatedText from the JSON reply.
    std::u16string Translate(std::u16string_view text, Language target) override;

private:
    std::string Url;
};

} // namespace velantro::standins
