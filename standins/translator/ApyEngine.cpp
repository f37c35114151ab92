#include "ApyEngine.h"

#include "ApertiumPairs.h"
#include "ServiceExchange.h"
#include "translate/Utf8Encode.h"
#include "translate/WebEncoding.h"

namespace velantro::standins {

ApyEngine::ApyEngine(std::string_view baseUrl, EngineNotes notes)
    : Url(TranslateUrl(baseUrl))
    , Notes(std::move(notes)) {}

std::u16string ApyEngine::Translate(std::u16string_view text, Language target) {
    const auto askServer = [this](const ApertiumPair& pair, std::u16string_view input) {
        const std::string langpair = std::string(pair.From) + "|" + std::string(pair.To);
        const std::string form = "langpair=" + translate::FormEncode(langpair) +
                                 "&q=" + translate::FormEncode(translate::Utf8Encode(input)) +
                                 "&markUnknown=no";
        return PostForTranslation("apy", Url, form, {u"responseData", u"translatedText"});
    };
    return TranslateAlongRoute(text, target, KnownPairs(), askServer, Notes, "apy");
}

} // namespace velantro::standins
