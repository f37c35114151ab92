#include "translate/Endpoints.h"

#include "common/AsciiText.h"

#include <cstdlib>
#include <curl/curl.h>
#include <memory>
#include <stdexcept>

namespace velantro::translate {

namespace {

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlStringDeleter {
    void operator()(char* text) const { curl_free(text); }
};

std::optional<std::string> UrlPart(CURLU* url, CURLUPart part) {
    char* raw = nullptr;
    if (curl_url_get(url, part, &raw, 0) != CURLUE_OK || raw == nullptr) {
        return std::nullopt;
    }
    const std::unique_ptr<char, CurlStringDeleter> owned(raw);
    return std::string(raw);
}

[[noreturn]] void Reject(const std::string& url, std::string_view why) {
    throw std::invalid_argument("Invalid endpoint URL \"" + url + "\": " + std::string(why));
}

} // namespace

EndpointAddress ParseEndpointUrl(const std::string& url) {
    const std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
    if (!parsed) {
        throw std::bad_alloc();
    }
    if (const CURLUcode rc = curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0);
        rc != CURLUE_OK) {
        Reject(url, curl_url_strerror(rc));
    }
    if (UrlPart(parsed.get(), CURLUPART_SCHEME) != "http") {
        Reject(url, "only http:// is supported");
    }
    if (UrlPart(parsed.get(), CURLUPART_USER) || UrlPart(parsed.get(), CURLUPART_FRAGMENT)) {
        Reject(url, "user names and fragments are not supported");
    }
    EndpointAddress address;
    address.Host = common::LowerAscii(UrlPart(parsed.get(), CURLUPART_HOST).value_or(""));
    if (address.Host.empty()) {
        Reject(url, "no host");
    }
    address.HostHeader = address.Host;
    if (const auto port = UrlPart(parsed.get(), CURLUPART_PORT); port && *port != "80") {
        address.HostHeader += ":" + *port;
    }
    address.Target = UrlPart(parsed.get(), CURLUPART_PATH).value_or("/");
    if (address.Target.empty()) {
        address.Target = "/";
    }
    if (const auto query = UrlPart(parsed.get(), CURLUPART_QUERY)) {
        address.Target += "?" + *query;
    }
    return address;
}

std::string ChooseWebEndpoint(const std::optional<std::string>& option) {
    std::string url{DefaultWebEndpointUrl};
    if (option) {
        url = *option;
    } else if (const char* variable = std::getenv(WebEndpointVariable);
               variable != nullptr && *variable != '\0') {
        url = variable;
    }
    ParseEndpointUrl(url);
    return url;
}

} // namespace velantro::translate
