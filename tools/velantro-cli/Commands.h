#pragma once

// The subcommands of velantro-cli. Each takes the arguments after its name
// and gives the process exit status.

#include <span>
#include <string_view>

namespace velantro::tools {

using CommandArgs = std::span<const std::string_view>;

/// parse [--protocol N] LINE...: prints every event the lines fire.
int RunParse(CommandArgs args);

/// pack [--stored] [--members N] SOURCE OUTPUT: writes the interface file
/// from its UTF-8 source.
int RunPack(CommandArgs args);

/// dump FILE: loads an interface file and prints its table.
int RunDump(CommandArgs args);

/// translate [--web-endpoint URL] CODE TEXT: prints TEXT translated into CODE.
int RunTranslate(CommandArgs args);

} // namespace velantro::tools
