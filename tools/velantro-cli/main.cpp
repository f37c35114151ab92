// velantro-cli: the developer's tool for the protocol, the translation
// exchange and the interface file.

#include "Commands.h"
#include "version/ProgramInfo.h"

#include <iostream>
#include <string_view>
#include <vector>

namespace {

struct Command {
    std::string_view Name;
    std::string_view Usage;
    int (*Run)(velantro::tools::CommandArgs);
};

constexpr Command Commands[] = {
    {"parse", "parse [--protocol N] LINE...", &velantro::tools::RunParse},
    {"pack", "pack [--stored] [--members N] SOURCE OUTPUT", &velantro::tools::RunPack},
    {"dump", "dump FILE", &velantro::tools::RunDump},
    {"translate", "translate [--web-endpoint URL] CODE TEXT", &velantro::tools::RunTranslate},
};

void PrintUsage(std::ostream& out) {
    const char* lead = "Usage: ";
    for (const Command& command : Commands) {
        out << lead << "velantro-cli " << command.Usage << "\n";
        lead = "  or:  ";
    }
    out << lead << "velantro-cli --help | help | --version\n"
        << "The developer's tool for the chat client's lines, the translation exchange and the\n"
        << "interface file.\n";
}

int Usage() {
    PrintUsage(std::cerr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return Usage();
    }
    if (velantro::IsHelpRequest(argv[1])) {
        PrintUsage(std::cout);
        return 0;
    }
    if (velantro::IsVersionRequest(argv[1])) {
        std::cout << velantro::VersionText("velantro-cli");
        return 0;
    }
    const std::vector<std::string_view> args(argv + 2, argv + argc);
    for (const Command& command : Commands) {
        if (command.Name == argv[1]) {
            return command.Run(args);
        }
    }
    std::cerr << "velantro-cli: unknown command \"" << argv[1] << "\"\n";
    return Usage();
}
