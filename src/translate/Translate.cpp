#include "translate/Translate.h"

#include "translate/LocalTranslator.h"
#include "translate/WebEncoding.h"

#include <utility>
#include <vector>

namespace velantro::translate {

namespace {

using Field = std::pair<std::string_view, std::string>;

std::string FormBody(const std::vector<Field>& fields) {
    std::string body;
    for (const auto& [name, value] : fields) {
        body += name;
        body += '=';
        if (!value.empty()) {
            body += FormEncode(value);
        }
        // Every field, the last one too, ends in "&".
        body += '&';
    }
    return body;
}

std::vector<Field> RequestFields(std::u16string_view text, std::int32_t languageCode) {
    return {{"l1", WebEncode(text)}, {"TargetLang", std::to_string(languageCode)}};
}

} // namespace

std::string BuildRequestBody(std::u16string_view text, std::int32_t languageCode) {
    return FormBody(RequestFields(text, languageCode));
}

std::string_view CutTranslation(std::string_view replyBody) {
    constexpr std::string_view Marker = "l1=";
    if (const auto start = replyBody.find(Marker); start != std::string_view::npos) {
        replyBody.remove_prefix(start + Marker.size());
    }
    return replyBody.substr(0, replyBody.find('&'));
}

std::u16string DecodeTranslation(std::string_view cutText) {
    const std::string bytes = FormDecode(cutText);
    const std::u16string text = Utf8Decode(bytes);
    // An undecodable reply would otherwise come out as an empty translation,
    // and an outgoing message as its footer alone.
    if (text.empty() && !bytes.empty()) {
        throw HttpError(std::string(InvalidReplyText));
    }
    return WebDecode(text);
}

const std::string& ChooseEndpoint(const Endpoints& endpoints, platform::WindowTitles& windows) {
    return LocalTranslatorRunning(windows) ? endpoints.Local : endpoints.Web;
}

std::u16string TranslateAt(std::u16string_view text, std::int32_t languageCode, HttpClient& http,
                           const std::string& url) {
    const std::string reply = http.PostForm(url, BuildRequestBody(text, languageCode));
    return DecodeTranslation(CutTranslation(reply));
}

std::u16string Translate(std::u16string_view text, std::int32_t languageCode, HttpClient& http,
                         const Endpoints& endpoints, platform::WindowTitles& windows) {
    return TranslateAt(text, languageCode, http, ChooseEndpoint(endpoints, windows));
}

} // namespace velantro::translate
