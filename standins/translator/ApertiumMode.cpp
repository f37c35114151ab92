#include "ApertiumMode.h"

#include <cstdlib>
#include <sstream>
#include <vector>

namespace velantro::standins {

namespace {

/// Tools that flush on a NUL by themselves and do not take -z.
constexpr std::string_view FlushingWithoutOption[] = {"vislcg3", "cg-mwesplit", "hfst-tokenise",
                                                      "hfst-tokenize", "divvun-suggest"};

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

/// Replaces every occurrence of from in text.
std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::filesystem::path FindOnPath(const std::string& program) {
    if (program.find('/') != std::string::npos) {
        return program;
    }
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::filesystem::path candidate = std::filesystem::path(folder) / program;
        std::error_code error;
        if (!folder.empty() && std::filesystem::is_regular_file(candidate, error)) {
            return candidate;
        }
    }
    return {};
}

} // namespace

std::filesystem::path ApertiumModesFolder(const std::string& program) {
    if (const char* data = std::getenv("APERTIUM_DATADIR"); data != nullptr && *data != '\0') {
        return std::filesystem::path(data) / "modes";
    }
    const std::filesystem::path found = FindOnPath(program);
    if (found.empty()) {
        return {};
    }
    return found.parent_path().parent_path() / "share" / "apertium" / "modes";
}

std::optional<std::string> NullFlushCommand(std::string_view modeFile) {
    const std::string_view mode = Trim(modeFile);
    // Quoted arguments are fine; anything the shell would take for more than
    // a pipeline of commands (lists, redirections, substitutions) is not.
    if (mode.empty() || mode.find_first_of(";&<>`\n\"\\") != std::string_view::npos ||
        mode.find("$(") != std::string_view::npos) {
        return std::nullopt;
    }
    std::string command;
    std::size_t start = 0;
    while (start <= mode.size()) {
        const std::size_t bar = std::min(mode.find('|', start), mode.size());
        // $1 is the generator's option (-n: unknown words unmarked), $2 the
        // tagger's (none).
        std::string tool = ReplaceAll(
            ReplaceAll(std::string(Trim(mode.substr(start, bar - start))), "$1", "-n"), "$2", "");
        const std::string program = tool.substr(0, tool.find(' '));
        if (program.empty() || program.find('$') != std::string::npos) {
            return std::nullopt;
        }
        bool takesOption = true;
        for (const std::string_view flushing : FlushingWithoutOption) {
            takesOption = takesOption && program != flushing;
        }
        if (takesOption) {
            tool.insert(program.size(), " -z");
        }
        command += (command.empty() ? "" : " | ") + tool;
        start = bar + 1;
    }
    if (command.find('$') != std::string::npos) {
        return std::nullopt;
    }
    return command;
}

} // namespace velantro::standins
