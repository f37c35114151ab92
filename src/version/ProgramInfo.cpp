#include "version/ProgramInfo.h"

namespace velantro {

std::string_view ReleaseVersion() {
    return VELANTRO_VERSION;
}

bool IsHelpRequest(std::string_view arg) {
    return arg == "--help" || arg == "-h" || arg == "help";
}

bool IsVersionRequest(std::string_view arg) {
    return arg == "--version";
}

std::string VersionText(std::string_view program) {
    std::string text(program);
    text += ' ';
    text += ReleaseVersion();
    text += "\nVelantro release ";
    text += ReleaseVersion();
    // The caption is the program's fixed title, so it does not follow releases.
    text += "; the window's caption \"Velantro 1.0:01\" is the program's fixed title, the same "
            "in every release.\n";
    text += "Copyright 2026 The Velantro developers. License GPL-3.0-or-later: GNU GPL version 3 "
            "or later <https://gnu.org/licenses/gpl.html>.\n"
            "This is free software: you are free to change and redistribute it. There is NO "
            "WARRANTY, to the extent permitted by law.\n";
    return text;
}

} // namespace velantro
