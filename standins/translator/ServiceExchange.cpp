#include "ServiceExchange.h"

#include "Engine.h"
#include "JsonText.h"
#include "translate/CurlHttpClient.h"
#include "translate/Endpoints.h"

namespace velantro::standins {

using namespace std::chrono_literals;

std::string TranslateUrl(std::string_view baseUrl) {
    std::string url(baseUrl);
    while (!url.empty() && url.back() == '/') {
        url.pop_back();
    }
    url += "/translate";
    (void)translate::ParseEndpointUrl(url);
    return url;
}

std::u16string PostForTranslation(std::string_view engine, const std::string& url,
                                  std::string_view form,
                                  std::initializer_list<std::u16string_view> path) {
    // A client of its own per exchange: requests arrive on several threads.
    translate::CurlHttpClient http(translate::HttpTimeouts{5s, 20s});
    std::string reply;
    try {
        reply = http.PostForm(url, form);
    } catch (const translate::HttpError& error) {
        throw EngineError(std::string(engine) + ": " + error.what());
    }
    std::optional<std::u16string> translation = JsonStringAt(reply, path);
    if (!translation) {
        std::string where;
        for (const std::u16string_view name : path) {
            where += (where.empty() ? "" : ".") + std::string(name.begin(), name.end());
        }
        throw EngineError(std::string(engine) + ": the reply holds no " + where);
    }
    return std::move(*translation);
}

} // namespace velantro::standins
