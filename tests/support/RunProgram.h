#pragma once

#include <string>
#include <vector>

namespace velantro::testing {

struct ProgramResult {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

/// Runs program (a path) with args, standard input closed, and collects its
/// exit code and both output streams.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args);

} // namespace velantro::testing
