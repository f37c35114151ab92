#pragma once

// One long-running pipeline of processes that answers text after text.

#include "common/FileDescriptor.h"

#include <chrono>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace velantro::standins {

/// A pipeline of tools, each one's output the next one's input, running in
/// a process group of their own, which pass each NUL-terminated text on as
/// soon as they have it (null-flush mode). The tools are started directly,
/// with no shell between them and this process, so that the end of any of
/// them soon closes the pipeline's output. Not safe for two callers at
/// once; its owner serialises the exchanges.
class WarmPipeline {
public:
    using Clock = std::chrono::steady_clock;

    /// Starts the tools (each a program, looked up on PATH unless it holds a
    /// slash, and its arguments). Raises std::system_error when one cannot
    /// be started.
    explicit WarmPipeline(const std::vector<std::vector<std::string>>& tools);
    /// Kills every process of the pipeline and waits for the tools.
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
        /// Ended: the exit status of the first tool that failed (128 + signal
        /// for a signal), or -1 when none is known to have.
        int Status = -1;
    };

    /// Writes input and a NUL, and reads until the answer's NUL, the end of
    /// the output or the deadline.
    Exchange Translate(std::string_view input, Clock::time_point deadline);

    /// True when the pipeline has written nothing since its last answer and
    /// its output is still open: a pipeline that stopped, or wrote out of
    /// turn, is not fit for the next text.
    bool Ready() const;

    /// The process group: the first tool's process id.
    pid_t Group() const { return Tools.front(); }

private:
    /// The error output read so far; keeps its first line.
    void ReadErrors();
    /// Kills every tool and collects them.
    void Stop();

    std::vector<pid_t> Tools;
    common::FileDescriptor Input;  // a socket, so that a closed reader gives EPIPE, not SIGPIPE
    common::FileDescriptor Output; // non-blocking
    common::FileDescriptor Errors; // non-blocking
    std::string ErrorText;
};

} // namespace velantro::standins
