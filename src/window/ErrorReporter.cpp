#include "window/ErrorReporter.h"

#include <utility>

namespace velantro::window {

std::string ErrorBoxText(std::string_view message) {
    std::string text(message);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') {
        text += '.';
    }
    return text;
}

std::string ErrorBoxTitle(std::string_view programPath) {
    const std::size_t slash = programPath.find_last_of("/\\");
    std::string_view name =
        slash == std::string_view::npos ? programPath : programPath.substr(slash + 1);
    return std::string(name.substr(0, name.find('.')));
}

ErrorReporter::ErrorReporter(OpenBox open)
    : OpenOne(std::move(open)) {}

void ErrorReporter::Report(std::string message) {
    if (Pending.size() >= MaxWaiting) {
        return;
    }
    Pending.push_back(std::move(message));
    OpenNext();
}

void ErrorReporter::OpenNext() {
    // A box that is gone at once comes back here inside OpenOne: the loop,
    // not a nested call, opens the next.
    if (Opening) {
        return;
    }
    Opening = true;
    while (!Open && !Pending.empty()) {
        const std::string message = std::move(Pending.front());
        Pending.pop_front();
        Open = true;
        OpenOne(message, [this] {
            Open = false;
            OpenNext();
        });
    }
    Opening = false;
}

} // namespace velantro::window
