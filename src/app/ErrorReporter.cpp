#include "app/ErrorReporter.h"

#include <utility>

namespace velantro::app {

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

ErrorReporter::ErrorReporter(ShowError show, PostTask post)
    : Show(std::move(show))
    , Post(std::move(post)) {}

void ErrorReporter::Report(std::string message) {
    if (Depth == 0) {
        Show(message);
        return;
    }
    Pending.push_back(std::move(message));
}

void ErrorReporter::LeaveDelivery() {
    --Depth;
    if (Depth == 0 && !Pending.empty() && !Posted) {
        Posted = true;
        Post([this] { ShowPending(); });
    }
}

void ErrorReporter::ShowPending() {
    Posted = false;
    // A box runs an event loop, in which a new delivery may start; what it
    // raises waits for that delivery's end as usual.
    while (Depth == 0 && !Pending.empty()) {
        std::string message = std::move(Pending.front());
        Pending.erase(Pending.begin());
        Show(message);
    }
}

} // namespace velantro::app
