#pragma once

// The translator stand-in's window on the desktop, which makes the product
// detect it as the local translation program.

#include <csignal>
#include <optional>
#include <string>

namespace velantro::standins {

/// Shows a top-level window with the given title, when there is one, and
/// waits until SIGINT or SIGTERM arrives; both must be blocked in every
/// thread of the process beforehand. Gives the exit status.
int ShowWindowUntilStopped(const std::optional<std::string>& title, int argc, char** argv);

/// The signals that stop the stand-in: SIGINT and SIGTERM.
sigset_t StopSignals();

/// Waits until one of the stop signals arrives; they must be blocked.
void WaitForStopSignal();

} // namespace velantro::standins
