#pragma once

// SIGTERM and SIGINT as ordinary events of the window's event loop.

#include <QObject>
#include <functional>

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
    QSocketNotifier* Notifier = nullptr;
    std::function<void()> OnStop;
};

} // namespace velantro::app
