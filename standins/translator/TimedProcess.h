#pragma once

// Runs a program on a text with a deadline.

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace velantro::standins {

struct ProcessOutcome {
    bool TimedOut = false;
    /// The exit status, or 128 and the signal's number when a signal ended it.
    int Status = 0;
    std::string Output;
    std::string Errors;
};

/// Runs command (the program, looked up on PATH, and its arguments) with
/// input on its standard input and collects what it writes. A program still
/// running at the deadline is killed together with every process it started
/// (it runs in a process group of its own), and the outcome says TimedOut.
/// Raises std::system_error when the program cannot be started.
ProcessOutcome RunUntil(const std::vector<std::string>& command, std::string_view input,
                        std::chrono::steady_clock::time_point deadline);

} // namespace velantro::standins
