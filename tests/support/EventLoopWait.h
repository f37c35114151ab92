#pragma once

// Waiting on Qt's event loop in tests, always with a bound.

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <functional>

namespace velantro::testing {

/// The test program's QCoreApplication, created on first use.
inline QCoreApplication& TestApplication() {
    static int argc = 1;
    static char name[] = "velantro-test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
    return application;
}

/// Runs the event loop until condition holds or timeout has passed, and
/// gives the condition's last value.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    TestApplication();
    if (condition()) {
        return true;
    }
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition()) {
            loop.quit();
        }
    });
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    poll.start();
    loop.exec();
    return condition();
}

/// Runs the event loop for a while, for things that must not happen.
inline void RunEventsFor(std::chrono::milliseconds duration) {
    WaitUntil([] { return false; }, duration);
}

} // namespace velantro::testing
