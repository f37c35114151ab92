#include "WarmPipeline.h"

#include "SpawnSettings.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>

extern char** environ;

namespace velantro::standins {

namespace {

[[noreturn]] void Fail(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

struct Ends {
    common::FileDescriptor Ours;
    common::FileDescriptor Theirs;
};

/// Our end non-blocking, theirs blocking as the tools expect.
Ends MakeOutputPipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        Fail(errno, "cannot make a pipe");
    }
    Ends made{common::FileDescriptor(ends[0]), common::FileDescriptor(ends[1])};
    ::fcntl(made.Ours.Get(), F_SETFL, ::fcntl(made.Ours.Get(), F_GETFL) | O_NONBLOCK);
    return made;
}

/// The tools' input: a socket, so that writing to a pipeline whose first
/// tool is gone gives EPIPE instead of a SIGPIPE that would end this process.
Ends MakeInputSocket() {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        Fail(errno, "cannot make a socket pair");
    }
    Ends made{common::FileDescriptor(ends[0]), common::FileDescriptor(ends[1])};
    ::shutdown(made.Ours.Get(), SHUT_RD);
    ::shutdown(made.Theirs.Get(), SHUT_WR);
    ::fcntl(made.Ours.Get(), F_SETFL, ::fcntl(made.Ours.Get(), F_GETFL) | O_NONBLOCK);
    return made;
}

int MillisecondsUntil(WarmPipeline::Clock::time_point deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - WarmPipeline::Clock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 60'000));
}

int DecodeStatus(const siginfo_t& info) {
    return info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
}

} // namespace

WarmPipeline::WarmPipeline(const std::vector<std::vector<std::string>>& tools) {
    if (tools.empty()) {
        Fail(EINVAL, "cannot start an empty pipeline");
    }
    Ends input = MakeInputSocket();
    Ends errors = MakeOutputPipe();
    // Every end is close-on-exec: a tool holds only its own three.
    common::FileDescriptor next = std::move(input.Theirs);
    try {
        for (std::size_t i = 0; i < tools.size(); ++i) {
            Ends output = MakeOutputPipe();
            std::vector<char*> arguments;
            for (const std::string& argument : tools[i]) {
                arguments.push_back(const_cast<char*>(argument.c_str()));
            }
            arguments.push_back(nullptr);
            pid_t tool = 0;
            const SpawnSettings settings(Tools.empty() ? 0 : Tools.front(), next.Get(),
                                         output.Theirs.Get(), errors.Theirs.Get());
            const int error = ::posix_spawnp(&tool, arguments[0], &settings.Actions,
                                             &settings.Attributes, arguments.data(), environ);
            if (error != 0) {
                Fail(error, "cannot start " + tools[i].front());
            }
            Tools.push_back(tool);
            if (i + 1 < tools.size()) {
                // The next tool reads this one's output, blocking as tools expect.
                ::fcntl(output.Ours.Get(), F_SETFL,
                        ::fcntl(output.Ours.Get(), F_GETFL) & ~O_NONBLOCK);
                next = std::move(output.Ours);
            } else {
                Output = std::move(output.Ours);
            }
        }
    } catch (...) {
        Stop();
        throw;
    }
    Input = std::move(input.Ours);
    Errors = std::move(errors.Ours);
}

WarmPipeline::~WarmPipeline() {
    Stop();
}

void WarmPipeline::Stop() {
    if (Tools.empty()) {
        return;
    }
    ::kill(-Tools.front(), SIGKILL);
    for (const pid_t tool : Tools) {
        int status = 0;
        ::waitpid(tool, &status, 0);
    }
    Tools.clear();
}

void WarmPipeline::ReadErrors() {
    std::array<char, 4096> buffer;
    for (;;) {
        const ssize_t count = ::read(Errors.Get(), buffer.data(), buffer.size());
        if (count <= 0) {
            if (count == 0) {
                Errors.Reset();
            }
            return;
        }
        // Only the first line is reported; the rest is read so the tools
        // never block on a full pipe.
        if (ErrorText.size() < 200 && ErrorText.find('\n') == std::string::npos) {
            ErrorText.append(buffer.data(), static_cast<std::size_t>(count));
        }
    }
}

bool WarmPipeline::Ready() const {
    pollfd entry{Output.Get(), POLLIN, 0};
    return ::poll(&entry, 1, 0) == 0;
}

WarmPipeline::Exchange WarmPipeline::Translate(std::string_view input, Clock::time_point deadline) {
    Exchange exchange;
    std::string pending(input);
    pending += '\0';
    std::string_view unwritten = pending;
    std::string received;
    for (;;) {
        pollfd entries[3] = {{Output.Get(), POLLIN, 0},
                             {Errors ? Errors.Get() : -1, POLLIN, 0},
                             {unwritten.empty() ? -1 : Input.Get(), POLLOUT, 0}};
        const int ready = ::poll(entries, 3, MillisecondsUntil(deadline));
        // A wait is at most a minute long; a longer limit waits again.
        if ((ready < 0 && errno == EINTR) || (ready == 0 && Clock::now() < deadline)) {
            continue;
        }
        if (ready <= 0) {
            exchange.How = Ending::TimedOut;
            break;
        }
        if (entries[1].revents != 0) {
            ReadErrors();
        }
        if (entries[2].revents != 0) {
            const ssize_t written =
                ::send(Input.Get(), unwritten.data(), unwritten.size(), MSG_NOSIGNAL);
            if (written > 0) {
                unwritten.remove_prefix(static_cast<std::size_t>(written));
            } else if (errno != EAGAIN && errno != EINTR) {
                // Nobody reads any more: the output says how it ended.
                unwritten = {};
            }
        }
        if (entries[0].revents != 0) {
            std::array<char, 16384> buffer;
            const ssize_t count = ::read(Output.Get(), buffer.data(), buffer.size());
            if (count > 0) {
                received.append(buffer.data(), static_cast<std::size_t>(count));
                if (const auto end = received.find('\0'); end != std::string::npos) {
                    exchange.Trailing = end + 1 < received.size();
                    received.resize(end);
                    break;
                }
            } else if (count == 0 || (errno != EAGAIN && errno != EINTR)) {
                exchange.How = Ending::Ended;
                break;
            }
        }
    }
    exchange.Output = std::move(received);
    if (exchange.How == Ending::Ended) {
        // The output closes as the tools end; give them a moment to end so
        // that the one that failed can be told. They stay zombies, in the
        // group, until Stop() collects them.
        for (int tries = 0; tries < 50 && exchange.Status < 0; ++tries) {
            bool running = false;
            for (const pid_t tool : Tools) {
                siginfo_t info{};
                if (::waitid(P_PID, static_cast<id_t>(tool), &info, WEXITED | WNOHANG | WNOWAIT) !=
                        0 ||
                    info.si_pid != tool) {
                    running = true;
                } else if (const int status = DecodeStatus(info); status != 0) {
                    exchange.Status = status;
                    break;
                }
            }
            if (!running) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (Errors) {
            ReadErrors();
        }
    }
    exchange.Complaint = ErrorText.substr(0, ErrorText.find('\n'));
    return exchange;
}

} // namespace velantro::standins
