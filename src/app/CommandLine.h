#pragma once

// The program's own command-line options; the rest belongs to Qt.

#include <optional>
#include <string>
#include <vector>

namespace velantro::app {

struct CommandLine {
    enum class Action { Run, Help, Version, Refuse };
    Action What = Action::Run;
    std::optional<std::string> WebEndpoint;
    /// Run without reading or writing the conversation history.
    bool NoHistory = false;
    /// Why the command line was refused.
    std::string Problem;
};

/// Reads --help (or -h, or help), --version, --no-history and --web-endpoint
/// URL (or --web-endpoint=URL).
/// Any other argument that begins with "--" is refused; the rest (Qt's own
/// options, such as -platform) is left to Qt.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

/// The text --help prints.
std::string UsageText();

} // namespace velantro::app
