#pragma once

// Apertium's mode files: where they are and how their pipeline runs warm.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velantro::standins {

/// The folder of the mode files that program (the apertium script, looked up
/// on PATH unless it holds a slash) translates with: $APERTIUM_DATADIR/modes
/// when set, as the script itself does, else share/apertium/modes beside the
/// program's bin folder.
std::filesystem::path ApertiumModesFolder(const std::string& program);

/// One program and its arguments.
using Command = std::vector<std::string>;

/// The commands of a mode file's pipeline, each tool's output the next
/// one's input, made to run once for many texts: every tool in null-flush
/// mode (-z: a NUL after a text makes each tool finish it and pass the NUL
/// on), unknown words unmarked. Arguments may be single-quoted, as in the
/// mode files. Nothing when the file is empty or holds anything else than
/// such a pipeline (shell lists, redirections, variables, other quoting).
std::optional<std::vector<Command>> NullFlushCommands(std::string_view modeFile);

} // namespace velantro::standins
