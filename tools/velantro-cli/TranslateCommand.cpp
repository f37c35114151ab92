// velantro-cli translate: translates one text through the same exchange the
// program uses, endpoint choice included, and prints the translation.

#include "Commands.h"
#include "common/DecimalText.h"
#include "platform/DesktopServices.h"
#include "translate/CurlHttpClient.h"
#include "translate/Endpoints.h"
#include "translate/Translate.h"
#include "translate/Utf8Encode.h"
#include "translate/WebEncoding.h"

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
    const auto code = ReadDecimal(operands[0]);
    if (!code) {
        return UsageError("CODE must be an integer (1 English, 2 Bulgarian, 5 Spanish, 6 French), "
                          "not \"" +
                          std::string(operands[0]) + "\"");
    }
    const std::u16string text = translate::Utf8Decode(operands[1]);
    if (text.empty() && !operands[1].empty()) {
        return UsageError("TEXT is not valid UTF-8");
    }
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
