#include "StandinWindow.h"
#include "platform/bus/BusWindows.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <csignal>
#include <iostream>
#include <memory>
#include <thread>

namespace velantro::standins {

// The window is an application window on the session bus, answering from
// the Qt event loop of the main thread; a thread of its own waits for the
// stop signal and ends that loop.
int ShowWindowUntilStopped(const std::optional<std::string>& title, int argc, char** argv) {
    QCoreApplication application(argc, argv);
    std::unique_ptr<platform::BusWindows> window;
    if (title) {
        window = std::make_unique<platform::BusWindows>(*title);
        if (window->Connected()) {
            // Scripts wait for this line to know the window can be found.
            std::cerr << "translator: the window \"" << *title << "\" is on the session bus\n";
        } else {
            std::cerr << "translator: the window \"" << *title
                      << "\" is not shown: " << window->ErrorText() << "\n";
        }
    }
    std::thread stopper([&application] {
        WaitForStopSignal();
        QMetaObject::invokeMethod(&application, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    const int status = application.exec();
    stopper.join();
    return status;
}

} // namespace velantro::standins
