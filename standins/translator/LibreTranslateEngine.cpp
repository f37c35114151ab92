#include "LibreTranslateEngine.h"

#include "ServiceExchange.h"
#include "translate/Utf8Encode.h"
#include "translate/WebEncoding.h"

namespace velantro::standins {

LibreTranslateEngine::LibreTranslateEngine(std::string_view baseUrl)
    : Url(TranslateUrl(baseUrl)) {}

std::u16string LibreTranslateEngine::Translate(std::u16string_view text, Language target) {
    const std::string form = "q=" + translate::FormEncode(translate::Utf8Encode(text)) +
                             "&source=auto&target=" + std::string(CodesOf(target).Iso639_1);
    return PostForTranslation("libretranslate", Url, form, {u"translatedText"});
}

} // namespace velantro::standins
