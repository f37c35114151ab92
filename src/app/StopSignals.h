#pragma once

// SIGTERM and SIGINT as ordinary events of the window's event loop.

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace velantro::app {

/// Blocks SIGTERM and SIGINT in the calling thread and in every thread it
/// starts afterwards; call first thing in main.
void BlockStopSignals();

/// Calls onStop from the event loop each time SIGTERM or SIGINT arrives
/// (they must have been blocked with BlockStopSignals).
class StopSignals final : public QObject {
public:
    explicit StopSignals(std::function<void()> onStop);
    ~StopSignals() override;

private:
    int Descriptor = -1;
    // Declared after the descriptor, so it goes before the descriptor closes.
    std::unique_ptr<QSocketNotifier> Notifier;
    std::function<void()> OnStop;
};

} // namespace velantro::app
