#include "app/StopSignals.h"

#include <QSocketNotifier>
#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace velantro::app {

namespace {

sigset_t StopSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

} // namespace

void BlockStopSignals() {
    const sigset_t set = StopSignalSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// The signals are read from a descriptor rather than caught by a handler, so
// nothing runs inside a signal handler and no state is shared with one.
StopSignals::StopSignals(std::function<void()> onStop)
    : OnStop(std::move(onStop)) {
    const sigset_t set = StopSignalSet();
    Descriptor = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (Descriptor < 0) {
        return;
    }
    Notifier = std::make_unique<QSocketNotifier>(Descriptor, QSocketNotifier::Read);
    connect(Notifier.get(), &QSocketNotifier::activated, this, [this] {
        signalfd_siginfo info{};
        while (read(Descriptor, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        }
        OnStop();
    });
}

StopSignals::~StopSignals() {
    Notifier.reset(); // before its descriptor closes
    if (Descriptor >= 0) {
        close(Descriptor);
    }
}

} // namespace velantro::app
