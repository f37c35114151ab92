#pragma once

// The component's attach and handshake events as lines, for the tests that
// watch an attach: "AttachPending", "Protocol 4", "CurrentUserHandle me",
// "AttachSuccess".

#include "skype/SkypeControl.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velantro::testing {

/// Records the events of skype into events, and sets attached on success.
inline void RecordHandshake(skype::TSkypeControl& skype, std::vector<std::string>& events,
                            bool& attached) {
    skype.OnAttachPending = [&events](skype::TSkypeControl&) {
        events.push_back("AttachPending");
    };
    skype.OnAttachSuccess = [&events, &attached](skype::TSkypeControl&) {
        events.push_back("AttachSuccess");
        attached = true;
    };
    skype.OnProtocol = [&events](std::int32_t protocol) {
        events.push_back("Protocol " + std::to_string(protocol));
    };
    skype.OnCurrentUserHandle = [&events](std::string handle) {
        events.push_back("CurrentUserHandle " + handle);
    };
}

} // namespace velantro::testing
