#pragma once

// Apertium's mode files: where they are and how their pipeline runs warm.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace velantro::standins {

/// The folder of the mode files that program (the apertium script, looked up
/// on PATH unless it holds a slash) translates with: $APERTIUM_DATADIR/modes
/// when set, as the script itself does, else share/apertium/modes beside the
/// program's bin folder.
std::filesystem::path ApertiumModesFolder(const std::string& program);

/// The shell command that runs a mode file's pipeline once for many texts:
/// every tool in null-flush mode (-z: a NUL after a text makes each tool
/// finish it and pass the NUL on), unknown words unmarked. Nothing when the
/// file is empty or holds something other than a plain pipeline of commands.
std::optional<std::string> NullFlushCommand(std::string_view modeFile);

} // namespace velantro::standins
