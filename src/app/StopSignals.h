#pragma once

// SIGTERM, SIGINT and SIGHUP as ordinary events of the window's event loop.

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace velantro::app {

/// Blocks SIGTERM, SIGINT and SIGHUP in the calling thread and in every thread it
/// starts afterwards; call first thing in main.
void BlockStopSignals();

/// Takes SIGTERM, SIGINT and SIGHUP (blocked with BlockStopSignals) from the event
/// loop. When they cannot be taken so, they are unblocked again: their
/// default action ends the program then, rather than nothing at all.
class StopSignals final : public QObject {
public:
    StopSignals();
    ~StopSignals() override;

    /// Called once, for the first stop signal: from the event loop, or from
    /// inside Requested.
    void SetOnStop(std::function<void()> onStop);

    /// Whether a stop signal has arrived, looking without waiting; for work
    /// that keeps the event loop waiting (an exchange with a service).
    bool Requested();

private:
    /// Takes the pending signals; true when there was one.
    bool TakePending();
    void Stop();

    int Descriptor = -1;
    // Declared after the descriptor, so it goes before the descriptor closes.
    std::unique_ptr<QSocketNotifier> Notifier;
    std::function<void()> OnStop;
    bool Stopping = false;
};

} // namespace velantro::app
