// The component's transport: finding and attaching to the chat client over
// window messages, the handshake, sending command lines and taking the
// client's attach statuses and lines from the application window.

#include "skype/SkypeControl.h"

#include "skype/SkypeTokens.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <optional>
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

void TSkypeControl::Later(std::function<void()> work, std::chrono::milliseconds delay) {
    if (Messages == nullptr) {
        return;
    }
    Messages->RunAfter(delay, [self = std::weak_ptr<TSkypeControl*>(Self), work = std::move(work)] {
        if (!self.expired()) {
            work();
        }
    });
}

void TSkypeControl::Tell(TCommandDone done, TCommandOutcome outcome) {
    if (done) {
        Later([done = std::move(done), outcome = std::move(outcome)] { done(outcome); });
    }
}

void TSkypeControl::SendCommand(std::string_view command, TAnswerTest isAnswer, TCommandDone done) {
    if (command.empty()) {
        Tell(std::move(done), {TCommandResult::Dropped, {}, 0, {}});
        return;
    }
    // Refused whole rather than cut: a truncated command could do something
    // other than what the caller asked for. Said before attaching too, since
    // such a line could never be sent.
    if (command.size() > MaxCommandLength) {
        Tell(std::move(done), {TCommandResult::TooLong, {}, 0, {}});
        return;
    }
    if (!Attached || Commands.size() >= MaxQueuedCommands) {
        Tell(std::move(done), {TCommandResult::Dropped, {}, 0, {}});
        return;
    }
    Commands.push_back({std::string(command), std::move(isAnswer), std::move(done), 0, false, {}});
    if (!Current) {
        SendNext();
    }
}

void TSkypeControl::SendNext() {
    if (ArrivalsHeld && Commands.size() < MaxQueuedCommands / 4) {
        ArrivalsHeld = false;
        if (!HandlingScheduled && !Arrivals.empty()) {
            HandlingScheduled = true;
            Later([this] { HandleArrivals(); });
        }
    }
    while (!Current && !Commands.empty()) {
        Command next = std::move(Commands.front());
        Commands.pop_front();
        if (!Attached) {
            Tell(std::move(next.Done), {TCommandResult::Dropped, {}, 0, {}});
            continue;
        }
        next.Number = ++CommandCount;
        Current = std::move(next);
        std::array<char, MaxCommandLength + 1> buffer{};
        std::memcpy(buffer.data(), Current->Line.data(), Current->Line.size());
        platform::CopyDataRecord record;
        record.dwData = 0;
        record.cbData = static_cast<std::uint32_t>(Current->Line.size() + 1);
        record.lpData = buffer.data();
        Messages->SendToWindow(SkypeWindow, platform::CopyDataMessage,
                               Messages->ApplicationWindow(),
                               reinterpret_cast<std::intptr_t>(&record),
                               [self = std::weak_ptr<TSkypeControl*>(Self),
                                number = Current->Number](std::intptr_t result) {
                                   if (const auto alive = self.lock()) {
                                       (*alive)->SendResult(number, result);
                                   }
                               });
    }
}

void TSkypeControl::SendResult(std::uint64_t command, std::intptr_t result) {
    if (!Current || Current->Number != command) {
        return; // answered already, while its send was still under way
    }
    if (Current->Answer) {
        return; // answered while its send was under way; it ends in turn
    }
    if (result == 0) {
        Finish({TCommandResult::NotAccepted, {}, 0, {}});
        return;
    }
    if (!Current->IsAnswer) {
        Finish({TCommandResult::Answered, {}, 0, {}});
        return;
    }
    Current->Taken = true;
    Later([this, command] { AnswerTimedOut(command); }, AnswerTimeout);
}

void TSkypeControl::AnswerTimedOut(std::uint64_t command) {
    if (Current && Current->Number == command && !Current->Answer) {
        Finish({TCommandResult::Unanswered, {}, 0, {}});
    }
}

void TSkypeControl::Finish(const TCommandOutcome& outcome) {
    TCommandDone done = std::move(Current->Done);
    Current.reset();
    // Told now, from the loop: before the answer's own event fires, so that
    // the owner knows what the line is about.
    if (done) {
        done(outcome);
    }
    SendNext();
}

std::optional<std::uint64_t> TSkypeControl::MatchAnswer(std::string_view line) {
    if (!Current || Current->Answer) {
        return std::nullopt;
    }
    std::string_view rest = line;
    const std::string_view firstWord = NextToken(rest, Blank);
    if (firstWord == "ERROR") {
        std::string_view text = rest;
        const std::optional<std::int32_t> code = ReadInteger(NextToken(text, Blank));
        Current->Answer = TCommandOutcome{TCommandResult::Refused, std::string(line),
                                          code.value_or(0), std::string(text)};
    } else if (Current->IsAnswer && Current->IsAnswer(firstWord, rest)) {
        Current->Answer = TCommandOutcome{TCommandResult::Answered, std::string(line), 0, {}};
    } else {
        return std::nullopt;
    }
    // Ended from the loop even while the lines before this one wait, so
    // that commands keep going out however long the line queue is.
    Later([this, command = Current->Number] { FinishAnswered(command); });
    return Current->Number;
}

void TSkypeControl::FinishAnswered(std::uint64_t command) {
    if (Current && Current->Number == command && Current->Answer) {
        TCommandOutcome outcome = std::move(*Current->Answer);
        Finish(outcome);
    }
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

bool TSkypeControl::Take(std::function<void(std::uint64_t)> work, std::size_t bytes) {
    if (WaitingBytes + bytes > MaxWaitingBytes) {
        return false;
    }
    WaitingBytes += bytes;
    Arrivals.push_back({++ArrivalCount, std::move(work), bytes});
    MostWaitingCount = std::max(MostWaitingCount, Arrivals.size());
    if (!HandlingScheduled) {
        HandlingScheduled = true;
        Later([this] { HandleArrivals(); });
    }
    return true;
}

void TSkypeControl::HandleArrivals() {
    HandlingScheduled = false;
    for (int handled = 0; handled < MessagesPerTurn && !Arrivals.empty(); ++handled) {
        // The commands the lines cause wait in a bounded queue: while it is
        // half full, lines wait in theirs (bounded too) until it drains.
        if (Commands.size() >= MaxQueuedCommands / 2) {
            ArrivalsHeld = true;
            return;
        }
        Arrival next = std::move(Arrivals.front());
        Arrivals.pop_front();
        WaitingBytes -= next.Bytes;
        // The rest have their turn next time round, whatever this one raises.
        if (!Arrivals.empty() && !HandlingScheduled) {
            HandlingScheduled = true;
            Later([this] { HandleArrivals(); });
        }
        next.Work(next.Number);
    }
}

bool TSkypeControl::HandleCopyData(platform::WindowMessage& message) {
    if (message.LParam == 0) {
        return false;
    }
    const auto& record = *reinterpret_cast<const platform::CopyDataRecord*>(message.LParam);
    const std::string_view line = LineOf(record);
    const std::size_t bytes = line.size() + WaitingOverhead;
    if (WaitingBytes + bytes > MaxWaitingBytes) {
        message.Result = 0;
        return true;
    }
    // The block is the sender's: the line is copied before the window
    // answers. Whether it answers the command under way is known now, by
    // what it is.
    const std::optional<std::uint64_t> answers = MatchAnswer(line);
    Take([this, copy = std::string(line), answers](std::uint64_t) { HandleLine(copy, answers); },
         bytes);
    message.Result = 1;
    return true;
}

void TSkypeControl::HandleLine(std::string_view line, std::optional<std::uint64_t> answers) {
    // The command learns its answer first, so that its owner knows what the
    // line's event is about when it fires.
    if (answers) {
        FinishAnswered(*answers);
    }
    Fire(OnCopyData, std::string(line));
    std::string_view rest = line;
    const std::string_view firstWord = NextToken(rest, Blank);
    DispatchNotification(firstWord, rest);
}

bool TSkypeControl::HandleAttachStatus(platform::WindowMessage& message) {
    // Only another program can be the client: a status naming this program's
    // own window would attach it to itself and lose the client's lines.
    if (Messages != nullptr && message.WParam == Messages->ApplicationWindow()) {
        return false;
    }
    std::function<void()> work;
    switch (message.LParam) {
    case AttachSuccess:
        work = [this] {
            Handshake();
            Fire(OnAttachSuccess, *this);
        };
        break;
    case AttachPending:
        work = [this] {
            Fire(OnAttachPending, *this);
        };
        break;
    case AttachRefused:
        work = [this] {
            Fire(OnAttachRefused, *this);
        };
        break;
    case AttachNotAvailable:
        work = [this] {
            Fire(OnAPINotAvailable, *this);
        };
        break;
    case AttachAPIAvailable:
        work = [this] {
            if (AutoReAttach) {
                Attach(4);
            }
            Fire(OnAPIAvailable, *this);
        };
        break;
    default:
        return false;
    }
    if (!Take([work = std::move(work)](std::uint64_t) { work(); }, WaitingOverhead)) {
        return false;
    }
    message.Result = 1;
    if (message.LParam == AttachSuccess) {
        // The window is known at once, so that the client's lines that follow
        // are taken even before the success has had its turn.
        SkypeWindow = message.WParam;
        Attached = true;
    }
    return true;
}

void TSkypeControl::Handshake() {
    // Both lines are queued before the owner hears of the success, so its
    // own commands go out after them.
    SendCommand("NAME " + IdentName, [](std::string_view word, std::string_view) {
        return word == "OK" || word == "NAME";
    });
    SendCommand("PROTOCOL " + std::to_string(Protocol),
                [](std::string_view word, std::string_view) { return word == "PROTOCOL"; });
}

} // namespace velantro::skype
