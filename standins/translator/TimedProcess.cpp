#include "TimedProcess.h"

#include "SpawnSettings.h"
#include "common/FileDescriptor.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>

extern char** environ;

namespace velantro::standins {

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

int MillisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

/// The input in an anonymous file, read from its start: unlike a pipe it
/// needs no writer that could block or meet a program that stopped reading.
common::FileDescriptor InputFile(std::string_view input) {
    common::FileDescriptor file(::memfd_create("translator-input", MFD_CLOEXEC));
    if (!file) {
        Fail(errno, "cannot hold the input");
    }
    while (!input.empty()) {
        const ssize_t written = ::write(file.Get(), input.data(), input.size());
        if (written < 0 && errno != EINTR) {
            Fail(errno, "cannot hold the input");
        }
        input.remove_prefix(static_cast<std::size_t>(std::max<ssize_t>(written, 0)));
    }
    ::lseek(file.Get(), 0, SEEK_SET);
    return file;
}

struct Pipe {
    common::FileDescriptor Read;
    common::FileDescriptor Write;
};

Pipe MakePipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        Fail(errno, "cannot make a pipe");
    }
    return {common::FileDescriptor(ends[0]), common::FileDescriptor(ends[1])};
}

/// Reads both pipes until both end or the deadline passes; true when both ended.
bool Collect(Pipe& output, Pipe& errors, ProcessOutcome& outcome, Clock::time_point deadline) {
    struct Source {
        common::FileDescriptor& Fd;
        std::string& Text;
    };
    Source sources[] = {{output.Read, outcome.Output}, {errors.Read, outcome.Errors}};
    while (output.Read || errors.Read) {
        pollfd entries[2] = {{output.Read.Get(), POLLIN, 0}, {errors.Read.Get(), POLLIN, 0}};
        const int ready = ::poll(entries, 2, MillisecondsUntil(deadline));
        if (ready == 0) {
            return false;
        }
        for (std::size_t i = 0; i < 2 && ready > 0; ++i) {
            if (entries[i].revents == 0) {
                continue;
            }
            char buffer[16384];
            const ssize_t count = ::read(sources[i].Fd.Get(), buffer, sizeof buffer);
            if (count > 0) {
                sources[i].Text.append(buffer, static_cast<std::size_t>(count));
            } else if (count == 0 || errno != EINTR) {
                sources[i].Fd.Reset();
            }
        }
    }
    return true;
}

int DecodeStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

ProcessOutcome RunUntil(const std::vector<std::string>& command, std::string_view input,
                        Clock::time_point deadline) {
    const common::FileDescriptor inputFile = InputFile(input);
    Pipe output = MakePipe();
    Pipe errors = MakePipe();
    std::vector<char*> arguments;
    arguments.reserve(command.size() + 1);
    for (const std::string& argument : command) {
        arguments.push_back(const_cast<char*>(argument.c_str()));
    }
    arguments.push_back(nullptr);

    pid_t child = 0;
    {
        SpawnSettings settings(0, inputFile.Get(), output.Write.Get(), errors.Write.Get());
        const int error = ::posix_spawnp(&child, arguments[0], &settings.Actions,
                                         &settings.Attributes, arguments.data(), environ);
        if (error != 0) {
            Fail(error, "cannot start " + command.front());
        }
    }
    output.Write.Reset();
    errors.Write.Reset();

    ProcessOutcome outcome;
    int status = 0;
    bool ended = Collect(output, errors, outcome, deadline);
    // The output can end before the program does.
    while (ended && ::waitpid(child, &status, WNOHANG) == 0) {
        ended = Clock::now() < deadline;
        if (ended) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    if (!ended) {
        ::kill(-child, SIGKILL);
        ::waitpid(child, &status, 0);
        outcome.TimedOut = true;
    }
    outcome.Status = DecodeStatus(status);
    return outcome;
}

} // namespace velantro::standins
