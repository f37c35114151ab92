#include "WarmPipeline.h"

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
    UniqueFd Ours;
    UniqueFd Theirs;
};

/// Our end non-blocking, theirs blocking as the tools expect.
Ends MakeOutputPipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        Fail(errno, "cannot make a pipe");
    }
    Ends made{UniqueFd(ends[0]), UniqueFd(ends[1])};
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
    Ends made{UniqueFd(ends[0]), UniqueFd(ends[1])};
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

WarmPipeline::WarmPipeline(const std::string& command) {
    Ends input = MakeInputSocket();
    Ends output = MakeOutputPipe();
    Ends errors = MakeOutputPipe();

    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_init(&actions);
    // A group of its own, so that a kill reaches every tool; none of the
    // signals this process blocks or ignores stays so in the tools.
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                              POSIX_SPAWN_SETSIGDEF);
    posix_spawn_file_actions_adddup2(&actions, input.Theirs.Get(), 0);
    posix_spawn_file_actions_adddup2(&actions, output.Theirs.Get(), 1);
    posix_spawn_file_actions_adddup2(&actions, errors.Theirs.Get(), 2);
    const char* arguments[] = {"sh", "-c", command.c_str(), nullptr};
    const int error = ::posix_spawn(&Shell, "/bin/sh", &actions, &attributes,
                                    const_cast<char* const*>(arguments), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        Fail(error, "cannot start /bin/sh");
    }
    Input = std::move(input.Ours);
    Output = std::move(output.Ours);
    Errors = std::move(errors.Ours);
}

WarmPipeline::~WarmPipeline() {
    ::kill(-Shell, SIGKILL);
    int status = 0;
    ::waitpid(Shell, &status, 0);
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
        if (ready < 0 && errno == EINTR) {
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
        // The output closes as the tools end; give the shell a moment to
        // follow so that its status can be told. It stays a zombie, so its
        // number is nobody else's until the destructor kills the group.
        for (int tries = 0; tries < 50; ++tries) {
            siginfo_t info{};
            if (::waitid(P_PID, static_cast<id_t>(Shell), &info, WEXITED | WNOHANG | WNOWAIT) ==
                    0 &&
                info.si_pid == Shell) {
                exchange.Status = DecodeStatus(info);
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
