#pragma once

#include "app/ErrorReporter.h"
#include "platform/WindowMessages.h"

namespace velantro::app {

/// The desktop's window messages, telling errors when a message delivered to
/// the application window is being handled: everything passes through, and
/// the hook runs between EnterDelivery and LeaveDelivery.
class TrackedWindowMessages final : public platform::WindowMessages {
public:
    TrackedWindowMessages(platform::WindowMessages& messages, ErrorReporter& errors)
        : Messages(messages)
        , Errors(errors) {}

    std::uint32_t RegisterMessageName(const std::string& name) override {
        return Messages.RegisterMessageName(name);
    }
    std::intptr_t Broadcast(std::uint32_t msg, std::uintptr_t wParam,
                            std::intptr_t lParam) override {
        return Messages.Broadcast(msg, wParam, lParam);
    }
    std::intptr_t SendToWindow(platform::WindowHandle window, std::uint32_t msg,
                               std::uintptr_t wParam, std::intptr_t lParam) override {
        return Messages.SendToWindow(window, msg, wParam, lParam);
    }
    platform::WindowHandle ApplicationWindow() override { return Messages.ApplicationWindow(); }

    void HookMainWindow(platform::WindowHook hook) override {
        Messages.HookMainWindow([this, hook = std::move(hook)](platform::WindowMessage& message) {
            Errors.EnterDelivery();
            struct Leave {
                ErrorReporter& Errors;
                ~Leave() { Errors.LeaveDelivery(); }
            } leave{Errors};
            return hook(message);
        });
    }
    void UnhookMainWindow() override { Messages.UnhookMainWindow(); }

private:
    platform::WindowMessages& Messages;
    ErrorReporter& Errors;
};

} // namespace velantro::app
