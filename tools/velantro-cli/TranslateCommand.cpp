// velantro-cli translate: translates one text through the same exchange the
// program uses, endpoint choice included, and prints the translation.

#include "Commands.h"
#include "common/IntegerText.h"
#include "common/StrictUtf8.h"
#include "platform/DesktopServices.h"
#include "translate/CurlHttpClient.h"
#include "translate/Endpoints.h"
#include "translate/LangCodes.h"
#include "translate/Translate.h"
#include "translate/Utf8Encode.h"
#include "translate/WebEncoding.h"

#include <algorithm>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace velantro::tools {

namespace {

constexpr std::string_view WebOption = "--web-endpoint";

int UsageError(std::string_view message) {
    std::cerr << "velantro-cli translate: " << message << "\n"
              << "usage: velantro-cli translate [--web-endpoint URL] CODE TEXT\n";
    return 2;
}

} // namespace

int RunTranslate(CommandArgs args) {
    std::optional<std::string> webEndpoint;
    std::vector<std::string_view> operands;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == WebOption) {
            if (i + 1 == args.size()) {
                return UsageError("--web-endpoint needs a URL");
            }
            webEndpoint = std::string(args[++i]);
        } else if (args[i].starts_with(std::string(WebOption) + "=")) {
            webEndpoint = std::string(args[i].substr(WebOption.size() + 1));
        } else {
            operands.push_back(args[i]);
        }
    }
    if (operands.size() != 2) {
        return UsageError("expected a language CODE and a TEXT");
    }
    const auto code = common::ReadDecimal(operands[0]);
    if (!code || std::find(translate::LangCodes.begin(), translate::LangCodes.end(), *code) ==
                     translate::LangCodes.end()) {
        return UsageError("CODE must be 1 (English), 2 (Bulgarian), 5 (Spanish) or 6 (French), "
                          "not \"" +
                          std::string(operands[0]) + "\"");
    }
    // The exchange's own decoder lets malformed forms through; a typed text
    // must be exactly what the user meant.
    if (!IsUtf8(operands[1])) {
        return UsageError("TEXT is not valid UTF-8");
    }
    const std::u16string text = translate::Utf8Decode(operands[1]);
    try {
        translate::Endpoints endpoints;
        endpoints.Web = translate::ChooseWebEndpoint(webEndpoint);
        // The tool's own window is how it reaches the desktop's window list.
        const auto windows = platform::OpenDesktopWindows("velantro-cli");
        translate::CurlHttpClient http;
        const std::u16string translation =
            translate::Translate(text, *code, http, endpoints, *windows);
        std::cout << translate::Utf8Encode(translation) << '\n';
        return 0;
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
}

} // namespace velantro::tools
