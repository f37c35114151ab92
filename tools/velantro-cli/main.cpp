// velantro-cli: the developer's tool for the protocol, the translation
// exchange and the interface file.

#include "Commands.h"

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

int Usage() {
    std::cerr << "usage: velantro-cli COMMAND ARGS...\n";
    for (const Command& command : Commands) {
        std::cerr << "  velantro-cli " << command.Usage << "\n";
    }
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return Usage();
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
