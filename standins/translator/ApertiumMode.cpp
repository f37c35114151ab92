#include "ApertiumMode.h"

#include <cstdlib>
#include <sstream>
#include <vector>

namespace velantro::standins {

namespace {

/// Tools that flush on a NUL by themselves and do not take -z.
constexpr std::string_view FlushingWithoutOption[] = {"vislcg3", "cg-mwesplit", "hfst-tokenise",
                                                      "hfst-tokenize", "divvun-suggest"};

/// Unlike common::TrimBlanks, line breaks go too: a mode file is one line
/// with its end.
std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::filesystem::path FindOnPath(const std::string& program) {
    if (program.find('/') != std::string::npos) {
        return program;
    }
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        std::filesystem::path candidate = std::filesystem::path(folder) / program;
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

std::optional<std::vector<Command>> NullFlushCommands(std::string_view modeFile) {
    const std::string_view mode = Trim(modeFile);
    if (mode.empty() || mode.find_first_of(";&<>`\n\"\\") != std::string_view::npos) {
        return std::nullopt;
    }
    std::vector<Command> commands(1);
    std::string word;
    bool inWord = false;
    bool quoted = false;
    const auto endWord = [&]() -> bool {
        if (inWord) {
            // $1 is the generator's option (-n: unknown words unmarked), $2
            // the tagger's (none); nothing else is expanded.
            if (word == "$1") {
                commands.back().push_back("-n");
            } else if (word != "$2") {
                if (word.find('$') != std::string::npos) {
                    return false;
                }
                commands.back().push_back(word);
            }
        }
        word.clear();
        inWord = false;
        return true;
    };
    for (const char c : mode) {
        if (c == '\'') {
            quoted = !quoted;
            inWord = true;
        } else if (quoted) {
            word += c;
        } else if (c == ' ' || c == '\t' || c == '|') {
            if (!endWord()) {
                return std::nullopt;
            }
            if (c == '|') {
                commands.emplace_back();
            }
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quoted || !endWord()) {
        return std::nullopt;
    }
    for (Command& command : commands) {
        if (command.empty()) {
            return std::nullopt;
        }
        bool takesOption = true;
        for (const std::string_view flushing : FlushingWithoutOption) {
            takesOption = takesOption && command.front() != flushing;
        }
        if (takesOption) {
            command.insert(command.begin() + 1, "-z");
        }
    }
    return commands;
}

} // namespace velantro::standins
