#pragma once

// Sends through the window-message interface as the tests watch them: what
// each send's done function saw, and when.

#include "platform/WindowMessages.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace velantro::testing {

/// What became of one send. Shared with its done function, so that a result
/// that comes after the test stopped waiting is harmless.
struct PendingSend {
    bool Returned = false; ///< SendToWindow has returned
    int Results = 0;       ///< how often done ran
    bool InsideCall = false;
    std::intptr_t Result = 0;
};
using SendHandle = std::shared_ptr<PendingSend>;

inline SendHandle Send(platform::WindowMessages& from, platform::WindowHandle to, std::uint32_t msg,
                       std::uintptr_t wParam, std::intptr_t lParam) {
    auto send = std::make_shared<PendingSend>();
    from.SendToWindow(to, msg, wParam, lParam, [send](std::intptr_t result) {
        send->InsideCall = send->InsideCall || !send->Returned;
        ++send->Results;
        send->Result = result;
    });
    send->Returned = true;
    return send;
}

/// A copy-data send naming the sender's window; the bytes live only as long
/// as this call.
inline SendHandle SendCopyData(platform::WindowMessages& from, platform::WindowHandle to,
                               std::string_view bytes, std::uintptr_t dwData = 0) {
    const platform::CopyDataRecord record{dwData, static_cast<std::uint32_t>(bytes.size()),
                                          bytes.data()};
    return Send(from, to, platform::CopyDataMessage, from.ApplicationWindow(),
                reinterpret_cast<std::intptr_t>(&record));
}

inline bool AllDone(const std::vector<SendHandle>& sends) {
    return std::all_of(sends.begin(), sends.end(),
                       [](const SendHandle& send) { return send->Results > 0; });
}

/// The sends whose result is not their place counted from 1 (or came inside
/// the call), with what they gave (-1 for none): empty when a receiver that
/// answers with the number of messages it has seen took them in order.
inline std::vector<std::pair<std::size_t, std::intptr_t>>
OutOfPlace(const std::vector<SendHandle>& sends) {
    std::vector<std::pair<std::size_t, std::intptr_t>> wrong;
    for (std::size_t i = 0; i < sends.size(); ++i) {
        const std::intptr_t result = sends[i]->Results > 0 ? sends[i]->Result : -1;
        if (result != static_cast<std::intptr_t>(i + 1) || sends[i]->InsideCall) {
            wrong.emplace_back(i, result);
        }
    }
    return wrong;
}

} // namespace velantro::testing
