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
    // The end of the session the program was started from (its terminal, or
    // a session that hangs up its processes at logout).
    sigaddset(&set, SIGHUP);
    return set;
}

} // namespace

void BlockStopSignals() {
    const sigset_t set = StopSignalSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// The signals are read from a descriptor rather than caught by a handler, so
// nothing runs inside a signal handler and no state is shared with one.
StopSignals::StopSignals() {
    const sigset_t set = StopSignalSet();
    Descriptor = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (Descriptor < 0) {
        // Blocked with nobody to read them, they would be lost for the whole
        // run; unblocked, the main thread takes them with their default action.
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        return;
    }
    Notifier = std::make_unique<QSocketNotifier>(Descriptor, QSocketNotifier::Read);
    connect(Notifier.get(), &QSocketNotifier::activated, this, [this] {
        if (TakePending()) {
            Stop();
        }
    });
}

StopSignals::~StopSignals() {
    Notifier.reset(); // before its descriptor closes
    if (Descriptor >= 0) {
        close(Descriptor);
    }
}

void StopSignals::SetOnStop(std::function<void()> onStop) {
    OnStop = std::move(onStop);
}

bool StopSignals::Requested() {
    if (!Stopping && TakePending()) {
        Stop();
    }
    return Stopping;
}

bool StopSignals::TakePending() {
    bool taken = false;
    signalfd_siginfo info{};
    while (Descriptor >= 0 &&
           read(Descriptor, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        taken = true;
    }
    return taken;
}

void StopSignals::Stop() {
    if (Stopping) {
        return;
    }
    Stopping = true;
    if (OnStop) {
        OnStop();
    }
}

} // namespace velantro::app
