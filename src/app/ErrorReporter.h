#pragma once

// Errors raised by the window's handlers reach the user in the error box,
// but never while another program waits on a delivery to this one.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velantro::app {

/// The error box's text: the message, with a full stop appended when its last
/// character sorts after ".".
std::string ErrorBoxText(std::string_view message);

/// The error box's title: the program file's name without its folder, up to
/// its first dot.
std::string ErrorBoxTitle(std::string_view programPath);

/// Shows errors at once, except inside a delivery (the chat client's message
/// being handled while the client waits on the call): those wait until the
/// outermost delivery has returned, and are then shown from the event loop.
/// A modal box inside the delivery would hold the client until someone
/// clicks OK.
class ErrorReporter {
public:
    using ShowError = std::function<void(const std::string& message)>;
    /// Runs a function later, from the event loop.
    using PostTask = std::function<void(std::function<void()> task)>;

    ErrorReporter(ShowError show, PostTask post);

    void Report(std::string message);

    void EnterDelivery() { ++Depth; }
    void LeaveDelivery();

    bool InDelivery() const { return Depth > 0; }

private:
    void ShowPending();

    ShowError Show;
    PostTask Post;
    int Depth = 0;
    bool Posted = false;
    std::vector<std::string> Pending;
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

} // namespace velantro::app
