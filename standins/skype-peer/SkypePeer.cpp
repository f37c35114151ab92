#include "SkypePeer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace velantro::standins {

using platform::CopyDataRecord;
using platform::WindowHandle;
using platform::WindowMessage;

namespace {

// Attach statuses this client sends: pending while the user is asked, then
// success (the stand-in's user always allows access).
constexpr std::intptr_t AttachPending = 1;
constexpr std::intptr_t AttachSuccess = 0;
constexpr std::intptr_t APINotAvailable = 3;
constexpr std::intptr_t APIAvailable = 32769;

} // namespace

std::string_view CopyDataLine(const CopyDataRecord& record) {
    if (record.lpData == nullptr) {
        return {};
    }
    const auto* bytes = static_cast<const char*>(record.lpData);
    const void* nul = std::memchr(bytes, '\0', record.cbData);
    return std::string_view(bytes,
                            nul == nullptr ? record.cbData : static_cast<const char*>(nul) - bytes);
}

SkypePeer::SkypePeer(platform::WindowMessages& windows, ChatClient& client, Scheduler later)
    : Windows(windows)
    , Client(client)
    , Later(std::move(later)) {
    AttachMessage = Windows.RegisterMessageName("SkypeControlAPIAttach");
    DiscoverMessage = Windows.RegisterMessageName("SkypeControlAPIDiscover");
    if (AttachMessage == 0 || DiscoverMessage == 0) {
        throw std::runtime_error("Cannot register the window messages of the desktop API");
    }
    Windows.HookMainWindow([this](WindowMessage& message) { return Hook(message); });
}

void SkypePeer::AnnounceAPIAvailable() {
    Windows.Broadcast(AttachMessage, Windows.ApplicationWindow(), APIAvailable);
}

void SkypePeer::AnnounceAPIUnavailable() {
    // A copy: sending lets further messages in, which may attach programs.
    const std::vector<WindowHandle> programs = Attached;
    for (const WindowHandle program : programs) {
        SendStatus(program, APINotAvailable);
    }
}

void SkypePeer::AnnounceFriends() {
    SendToAll(Client.FriendsLine());
}

SkypePeer::~SkypePeer() {
    Windows.UnhookMainWindow();
}

bool SkypePeer::Hook(WindowMessage& message) {
    if (message.Msg == DiscoverMessage) {
        const WindowHandle program = message.WParam;
        if (program != 0 && program != Windows.ApplicationWindow()) {
            // Answered once the broadcast is over, as a client that asks its
            // user first would.
            Later([this, program] { AnswerDiscover(program); });
        }
        message.Result = 1;
        return true;
    }
    if (message.Msg == platform::CopyDataMessage && message.LParam != 0) {
        const auto& record = *reinterpret_cast<const CopyDataRecord*>(message.LParam);
        const std::string_view line = CopyDataLine(record);
        const WindowHandle program = message.WParam;
        if (OnCommand) {
            OnCommand(program, line, record.cbData);
        }
        if (!IsAttached(program)) {
            return false; // not accepted: the program has not attached
        }
        // A copy: the block belongs to the sender and the answer may take
        // further messages in before it is done.
        AnswerCommand(program, std::string(line));
        message.Result = 1;
        return true;
    }
    return false;
}

void SkypePeer::AnswerDiscover(WindowHandle program) {
    SendStatus(program, AttachPending);
    // Attached before the success message goes out: the program starts its
    // handshake while that message is still being delivered.
    if (!IsAttached(program)) {
        Attached.push_back(program);
    }
    SendStatus(program, AttachSuccess);
}

void SkypePeer::SendStatus(WindowHandle program, std::intptr_t status) {
    const bool accepted =
        Windows.SendToWindow(program, AttachMessage, Windows.ApplicationWindow(), status) != 0;
    if (OnAttachStatus) {
        OnAttachStatus(program, status, accepted);
    }
}

void SkypePeer::AnswerCommand(WindowHandle program, std::string_view line) {
    Answer answer = Client.Command(line);
    for (const std::string& reply : answer.Lines) {
        SendLine(program, reply);
    }
    if (answer.HandshakeDone) {
        if (OnHandshake) {
            OnHandshake(program);
        }
        std::vector<IncomingMessage> waiting;
        waiting.swap(Waiting);
        for (const IncomingMessage& message : waiting) {
            PlayIncoming(message);
        }
    }
    if (answer.Echo) {
        Later([this, echo = std::move(*answer.Echo)] { PlayIncoming(echo); });
    }
}

void SkypePeer::PlayIncoming(const IncomingMessage& message) {
    if (Attached.empty()) {
        Waiting.push_back(message);
        return;
    }
    SendToAll(Client.Receive(message));
}

void SkypePeer::SendToAll(const std::string& line) {
    // A copy: programs may attach while the line is being delivered.
    const std::vector<WindowHandle> programs = Attached;
    for (const WindowHandle program : programs) {
        SendLine(program, line);
    }
}

bool SkypePeer::SendLine(WindowHandle program, const std::string& line) {
    // The line and its NUL, the NUL counted in cbData.
    CopyDataRecord record;
    record.dwData = 0;
    record.cbData = static_cast<std::uint32_t>(line.size() + 1);
    record.lpData = line.c_str();
    const bool accepted =
        Windows.SendToWindow(program, platform::CopyDataMessage, Windows.ApplicationWindow(),
                             reinterpret_cast<std::intptr_t>(&record)) != 0;
    if (OnSent) {
        OnSent(program, line, accepted);
    }
    return accepted;
}

bool SkypePeer::IsAttached(WindowHandle program) const {
    return std::find(Attached.begin(), Attached.end(), program) != Attached.end();
}

} // namespace velantro::standins
