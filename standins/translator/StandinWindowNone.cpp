#include "StandinWindow.h"

#include <csignal>
#include <iostream>

namespace velantro::standins {

// For a platform without a window service in this build: the stand-in
// serves without a window and says so.
int ShowWindowUntilStopped(const std::optional<std::string>& title, int, char**) {
    if (title) {
        std::cerr << "translator: no desktop window service in this build; \"" << *title
                  << "\" is not shown\n";
    }
    WaitForStopSignal();
    return 0;
}

} // namespace velantro::standins
