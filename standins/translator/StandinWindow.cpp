#include "StandinWindow.h"

#include "platform/DesktopServices.h"

#include <iostream>
#include <thread>

namespace velantro::standins {

// The window answers from the desktop's message loop on the main thread; a
// thread of its own waits for the stop signal and ends that loop.
int ShowWindowUntilStopped(const std::optional<std::string>& title, int, char**) {
    if (!title) {
        WaitForStopSignal();
        return 0;
    }
    const auto window = platform::OpenDesktopWindows(*title);
    if (!window->Connected()) {
        std::cerr << "translator: the window \"" << *title
                  << "\" is not shown: " << window->ErrorText() << "\n";
        WaitForStopSignal();
        return 0;
    }
    // Scripts wait for this line to know the window can be found.
    std::cerr << "translator: the window \"" << *title << "\" is on the session bus\n";
    std::thread stopper([&window] {
        WaitForStopSignal();
        window->QuitMessageLoop();
    });
    window->RunMessageLoop();
    stopper.join();
    return 0;
}

} // namespace velantro::standins
