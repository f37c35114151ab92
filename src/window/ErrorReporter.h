#pragma once

// Errors reach the user in the error box, one box at a time, and nothing ever
// waits for a box: it opens, and the program carries on.

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

namespace velantro::window {

/// The error box's text: the message, with a full stop appended when its last
/// character sorts after ".".
std::string ErrorBoxText(std::string_view message);

/// The error box's title: the program file's name without its folder, up to
/// its first dot.
std::string ErrorBoxTitle(std::string_view programPath);

/// Shows each error in a box of its own, the next once the one before is
/// closed, so that errors arriving together do not stack boxes on the user.
class ErrorReporter {
public:
    /// Opens a box for message and calls closed once the box is gone
    /// (at once, for a box that does not stay).
    using OpenBox = std::function<void(const std::string& message, std::function<void()> closed)>;

    /// How many errors wait for their box at most; beyond, the newest goes.
    static constexpr std::size_t MaxWaiting = 50;

    explicit ErrorReporter(OpenBox open);

    void Report(std::string message);

    /// Errors not yet shown.
    std::size_t Waiting() const { return Pending.size(); }
    bool BoxOpen() const { return Open; }

private:
    void OpenNext();

    OpenBox OpenOne;
    std::deque<std::string> Pending;
    bool Open = false;
    bool Opening = false;
};

/// Runs handler and reports what it raises; nothing leaves a handler.
template <typename Handler>
void Guarded(ErrorReporter& errors, Handler&& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        errors.Report(error.what());
    }
}

} // namespace velantro::window
