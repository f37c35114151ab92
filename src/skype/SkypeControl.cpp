// The component's transport: finding and attaching to the chat client over
// window messages, the handshake, sending command lines and taking the
// client's attach statuses and lines from the application window.

#include "skype/SkypeControl.h"

#include "skype/SkypeTokens.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <utility>

namespace velantro::skype {

namespace {

constexpr std::string_view AttachMessageName = "SkypeControlAPIAttach";
constexpr std::string_view DiscoverMessageName = "SkypeControlAPIDiscover";

// Attach statuses the client sends in the lParam of the attach message.
constexpr std::intptr_t AttachSuccess = 0;
constexpr std::intptr_t AttachPending = 1;
constexpr std::intptr_t AttachRefused = 2;
constexpr std::intptr_t AttachNotAvailable = 3;
constexpr std::intptr_t AttachAPIAvailable = 32769;

/// The line in a copy-data block: its bytes up to the first NUL, and never
/// past cbData (a block without a NUL gives all its cbData bytes).
std::string_view LineOf(const platform::CopyDataRecord& record) {
    if (record.lpData == nullptr) {
        return {};
    }
    const auto* bytes = static_cast<const char*>(record.lpData);
    const void* nul = std::memchr(bytes, '\0', record.cbData);
    const std::size_t length =
        nul == nullptr ? record.cbData
                       : static_cast<std::size_t>(static_cast<const char*>(nul) - bytes);
    return {bytes, length};
}

} // namespace

TSkypeControl::TSkypeControl(platform::WindowMessages* messages)
    : Messages(messages) {
    if (Messages == nullptr) {
        return;
    }
    AttachMessage = Messages->RegisterMessageName(std::string(AttachMessageName));
    DiscoverMessage = Messages->RegisterMessageName(std::string(DiscoverMessageName));
    if (AttachMessage != 0 && DiscoverMessage != 0) {
        Messages->HookMainWindow(
            [this](platform::WindowMessage& message) { return AppWindowHook(message); });
        Hooked = true;
    }
}

TSkypeControl::~TSkypeControl() {
    if (Hooked) {
        Messages->UnhookMainWindow();
    }
}

std::intptr_t TSkypeControl::Attach(std::int32_t ProtocolNumber) {
    Protocol = ProtocolNumber;
    // Without the hook the client's answer could never be heard; asking would
    // only make the client prompt its user for nothing.
    if (!Hooked) {
        return 0;
    }
    return Messages->Broadcast(DiscoverMessage, Messages->ApplicationWindow(), 0);
}

TCommandResult TSkypeControl::SendCommand(std::string_view command) {
    if (command.empty()) {
        return TCommandResult::Dropped;
    }
    // Refused whole rather than cut: a truncated command could do something
    // other than what the caller asked for. Said before attaching too, since
    // such a line could never be sent.
    if (command.size() > MaxCommandLength) {
        return TCommandResult::TooLong;
    }
    if (!Attached) {
        return TCommandResult::Dropped;
    }
    std::array<char, MaxCommandLength + 1> buffer{};
    std::memcpy(buffer.data(), command.data(), command.size());
    buffer[command.size()] = '\0';

    platform::CopyDataRecord record;
    record.dwData = 0;
    record.cbData = static_cast<std::uint32_t>(command.size() + 1);
    record.lpData = buffer.data();
    const std::intptr_t result = Messages->SendToWindow(SkypeWindow, platform::CopyDataMessage,
                                                        Messages->ApplicationWindow(),
                                                        reinterpret_cast<std::intptr_t>(&record));
    return result != 0 ? TCommandResult::Sent : TCommandResult::NotAccepted;
}

bool TSkypeControl::AppWindowHook(platform::WindowMessage& message) {
    // Before the first attach success there is no client window, and a
    // copy-data message claiming to come from window 0 is no client's line.
    if (message.Msg == platform::CopyDataMessage && Attached && message.WParam == SkypeWindow) {
        return HandleCopyData(message);
    }
    if (message.Msg == AttachMessage && AttachMessage != 0) {
        return HandleAttachStatus(message);
    }
    return false;
}

bool TSkypeControl::CanTake(std::size_t bytes) const {
    const bool now = HandlingDepth < MaxHandlingDepth && Waiting.empty();
    return now || WaitingBytes + bytes <= MaxWaitingBytes;
}

void TSkypeControl::HandleInTurn(std::function<void()> work, std::size_t bytes) {
    // A burst of notifications whose handlers send commands would otherwise
    // nest one send's wait inside the next without end.
    if (HandlingDepth >= MaxHandlingDepth || !Waiting.empty()) {
        WaitingBytes += bytes;
        Waiting.push_back({std::move(work), bytes});
        MostWaitingCount = std::max(MostWaitingCount, Waiting.size());
        return;
    }
    std::exception_ptr firstError;
    auto run = [&](const std::function<void()>& next) {
        ++HandlingDepth;
        Deepest = std::max(Deepest, HandlingDepth);
        try {
            next();
        } catch (...) {
            if (!firstError) {
                firstError = std::current_exception();
            }
        }
        --HandlingDepth;
    };
    run(work);
    // Only the outermost handling runs what waits, so the stack stays short.
    while (HandlingDepth == 0 && !Waiting.empty()) {
        WaitingWork next = std::move(Waiting.front());
        Waiting.pop_front();
        WaitingBytes -= next.Bytes;
        run(next.Work);
    }
    if (firstError) {
        std::rethrow_exception(firstError);
    }
}

bool TSkypeControl::HandleCopyData(platform::WindowMessage& message) {
    if (message.LParam == 0) {
        return false;
    }
    const auto& record = *reinterpret_cast<const platform::CopyDataRecord*>(message.LParam);
    const std::string_view line = LineOf(record);
    const std::size_t cost = line.size() + WaitingOverhead;
    if (!CanTake(cost)) {
        message.Result = 0;
        return true;
    }
    message.Result = 1;
    HandleInTurn([this, copy = std::string(line)] { HandleLine(copy); }, cost);
    return true;
}

void TSkypeControl::HandleLine(std::string_view line) {
    Fire(OnCopyData, std::string(line));
    const std::string_view firstWord = NextToken(line, Blank);
    DispatchNotification(firstWord, line);
}

bool TSkypeControl::HandleAttachStatus(platform::WindowMessage& message) {
    // Only another program can be the client: a status naming this program's
    // own window would attach it to itself and lose the client's lines.
    if (Messages != nullptr && message.WParam == Messages->ApplicationWindow()) {
        return false;
    }
    if (!CanTake(WaitingOverhead)) {
        return false;
    }
    switch (message.LParam) {
    case AttachSuccess:
        // The window is known at once, so that the client's lines that follow
        // are taken even while the handshake waits for its turn.
        SkypeWindow = message.WParam;
        message.Result = 1;
        Attached = true;
        // Both lines go out before the owner hears of the success; the
        // client's answers to them may already have been dispatched.
        HandleInTurn(
            [this] {
                Handshake();
                Fire(OnAttachSuccess, *this);
            },
            WaitingOverhead);
        return true;
    case AttachPending:
        message.Result = 1;
        HandleInTurn([this] { Fire(OnAttachPending, *this); }, WaitingOverhead);
        return true;
    case AttachRefused:
        message.Result = 1;
        HandleInTurn([this] { Fire(OnAttachRefused, *this); }, WaitingOverhead);
        return true;
    case AttachNotAvailable:
        message.Result = 1;
        HandleInTurn([this] { Fire(OnAPINotAvailable, *this); }, WaitingOverhead);
        return true;
    case AttachAPIAvailable:
        message.Result = 1;
        HandleInTurn(
            [this] {
                if (AutoReAttach) {
                    Attach(4);
                }
                Fire(OnAPIAvailable, *this);
            },
            WaitingOverhead);
        return true;
    default:
        return false;
    }
}

void TSkypeControl::Handshake() {
    SendCommand("NAME " + IdentName);
    SendCommand("PROTOCOL " + std::to_string(Protocol));
}

} // namespace velantro::skype
