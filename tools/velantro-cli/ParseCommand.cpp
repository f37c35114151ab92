// velantro-cli parse: feeds protocol lines to the component's parser and
// prints every event fired, one per line.

#include "Commands.h"
#include "common/EventPrinter.h"
#include "skype/SkypeControl.h"
#include "skype/SkypeTokens.h"

#include <iostream>

namespace velantro::tools {

int RunParse(CommandArgs args) {
    skype::TSkypeControl control;
    control.Protocol = 4;
    if (!args.empty() && args[0] == "--protocol") {
        const auto protocol = args.size() >= 2 ? skype::ReadInteger(args[1]) : std::nullopt;
        if (!protocol) {
            std::cerr << "velantro-cli parse: --protocol takes an integer\n";
            return 2;
        }
        control.Protocol = *protocol;
        args = args.subspan(2);
    }
    PrintEveryEvent(control, [](const std::string& line) { std::cout << line << '\n'; });
    for (std::string_view line : args) {
        const auto firstWord = skype::NextToken(line, skype::Blank);
        control.DispatchNotification(firstWord, line);
    }
    return 0;
}

} // namespace velantro::tools
