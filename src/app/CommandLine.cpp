#include "app/CommandLine.h"

#include "version/ProgramInfo.h"

#include <string_view>

namespace velantro::app {

namespace {

constexpr std::string_view WebEndpointOption = "--web-endpoint";

} // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine result;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (IsHelpRequest(arg)) {
            result.What = CommandLine::Action::Help;
            return result;
        }
        if (IsVersionRequest(arg)) {
            result.What = CommandLine::Action::Version;
            return result;
        }
        if (arg == WebEndpointOption) {
            if (i + 1 == args.size()) {
                result.What = CommandLine::Action::Refuse;
                result.Problem = "--web-endpoint needs a URL";
                return result;
            }
            result.WebEndpoint = args[++i];
        } else if (arg.starts_with(std::string(WebEndpointOption) + "=")) {
            result.WebEndpoint = std::string(arg.substr(WebEndpointOption.size() + 1));
        } else if (arg == "--no-history") {
            result.NoHistory = true;
        } else if (arg.starts_with("--")) {
            result.What = CommandLine::Action::Refuse;
            result.Problem = "unknown option " + std::string(arg);
            return result;
        }
    }
    return result;
}

std::string UsageText() {
    return "Usage: velantro [--web-endpoint URL] [--no-history]\n"
           "\n"
           "Translates your chats: messages the chat client receives are shown translated\n"
           "into the language you read, and messages you write are translated into your\n"
           "friend's language before they are sent.\n"
           "\n"
           "  --web-endpoint URL  the translation service's web endpoint (default: the\n"
           "                      environment variable VELANTRO_WEB_ENDPOINT, else\n"
           "                      http://localhost:8357/vl.asp); the local translation\n"
           "                      program on 127.0.0.1:4357 is used whenever it runs\n"
           "  --no-history        neither read nor write the conversation history\n"
           "  --help, help        this text\n"
           "  --version           the program's version\n"
           "\n"
           "Settings live in $XDG_CONFIG_HOME/velantro.ini (else ~/.config/velantro.ini);\n"
           "the conversations in $XDG_DATA_HOME/velantro/history.sqlite (else\n"
           "~/.local/share/velantro/history.sqlite).\n";
}

} // namespace velantro::app
