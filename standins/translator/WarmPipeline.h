#pragma once

// One long-running pipeline of processes that answers text after text.

#include "UniqueFd.h"

#include <chrono>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace velantro::standins {

/// A shell command line, running in a process group of its own, whose tools
/// pass each NUL-terminated text on as soon as they have it (null-flush
/// mode). Not safe for two callers at once; its owner serialises the
/// exchanges.
class WarmPipeline {
public:
    using Clock = std::chrono::steady_clock;

    /// Starts "/bin/sh -c command". Raises std::system_error when it cannot.
    explicit WarmPipeline(const std::string& command);
    /// Kills every process of the pipeline and waits for the shell.
    ~WarmPipeline();
    WarmPipeline(const WarmPipeline&) = delete;
    WarmPipeline& operator=(const WarmPipeline&) = delete;

    enum class Ending { Answered, TimedOut, Ended };

    struct Exchange {
        Ending How = Ending::Answered;
        /// Answered: everything before the first NUL. Ended: what came
        /// before the output closed.
        std::string Output;
        /// Bytes after the first NUL: a pipeline out of step.
        bool Trailing = false;
        /// The first line the pipeline wrote to its error output meanwhile.
        std::string Complaint;
        /// Ended: the shell's exit status (128 + signal for a signal), or -1
        /// while it is still running.
        int Status = -1;
    };

    /// Writes input and a NUL, and reads until the answer's NUL, the end of
    /// the output or the deadline.
    Exchange Translate(std::string_view input, Clock::time_point deadline);

    /// True when the pipeline has written nothing since its last answer and
    /// its output is still open: a pipeline that stopped, or wrote out of
    /// turn, is not fit for the next text.
    bool Ready() const;

    /// The process group: the shell's process id.
    pid_t Group() const { return Shell; }

private:
    /// The error output read so far; keeps its first line.
    void ReadErrors();

    pid_t Shell = 0;
    UniqueFd Input;  // a socket, so that a closed reader gives EPIPE, not SIGPIPE
    UniqueFd Output; // non-blocking
    UniqueFd Errors; // non-blocking
    std::string ErrorText;
};

} // namespace velantro::standins
