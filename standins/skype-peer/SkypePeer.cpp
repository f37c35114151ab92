#include "SkypePeer.h"

#include "common/EscapedText.h"

#include <algorithm>
#include <cstring>
#include <iostream>
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

// What a dropped line's report shows of it.
constexpr std::size_t ShownPrefix = 60;

std::string Shown(std::string_view line) {
    std::string shown = tools::EscapeBytes(line.substr(0, ShownPrefix));
    if (line.size() > ShownPrefix) {
        shown += "...";
    }
    return shown;
}

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

SkypePeer::SkypePeer(platform::WindowMessages& windows, ChatClient& client)
    : OnProblem([](const std::string& line) { std::cerr << "skype-peer: " << line << std::endl; })
    , Windows(windows)
    , Client(client) {
    Client.OnForgotten = [this](std::int32_t id, const std::string& from, const std::string& body) {
        Report("too many missed messages (" + std::to_string(ChatClient::MaxMissed) +
               " or their bytes); no longer missed: " + std::to_string(id) + " from " +
               tools::EscapeBytes(from) + ": " + Shown(body));
    };
    AttachMessage = Windows.RegisterMessageName("SkypeControlAPIAttach");
    DiscoverMessage = Windows.RegisterMessageName("SkypeControlAPIDiscover");
    if (AttachMessage == 0 || DiscoverMessage == 0) {
        throw std::runtime_error("Cannot register the window messages of the desktop API");
    }
    Windows.HookMainWindow([this](WindowMessage& message) { return Hook(message); });
}

SkypePeer::~SkypePeer() {
    Client.OnForgotten = nullptr;
    Windows.UnhookMainWindow();
}

void SkypePeer::AnnounceAPIAvailable() {
    Windows.Broadcast(AttachMessage, Windows.ApplicationWindow(), APIAvailable);
}

void SkypePeer::AnnounceAPIUnavailable() {
    for (const WindowHandle program : Attached) {
        Queue(program, {true, APINotAvailable, {}, 0});
    }
}

void SkypePeer::AnnounceFriends() {
    SendToAll(Client.FriendsLine());
}

bool SkypePeer::Hook(WindowMessage& message) {
    if (message.Msg == DiscoverMessage) {
        const WindowHandle program = message.WParam;
        // Answered once the broadcast is over, as a client that asks its
        // user first would; its own broadcast and one without a sender are not.
        const bool answered = program != 0 && program != Windows.ApplicationWindow();
        if (answered && !Take({true, program, {}, 0, false})) {
            return false;
        }
        message.Result = 1;
        return true;
    }
    if (message.Msg == platform::CopyDataMessage && message.LParam != 0) {
        const auto& record = *reinterpret_cast<const CopyDataRecord*>(message.LParam);
        const WindowHandle program = message.WParam;
        // A copy: the block belongs to the sender, and is gone once this returns.
        const bool attached = IsAttached(program);
        if (!Take({false, program, std::string(CopyDataLine(record)), record.cbData, attached}) ||
            !attached) {
            return false; // not accepted: no room, or the program has not attached
        }
        message.Result = 1;
        return true;
    }
    return false;
}

bool SkypePeer::Take(Arrival arrival) {
    if (Arrivals.size() >= MaxWaitingCommands ||
        ArrivalBytes + arrival.Line.size() > MaxWaitingCommandBytes) {
        Report("too many commands waiting to be answered (" + std::to_string(Arrivals.size()) +
               "); refused from window " + std::to_string(arrival.Program) + ": " +
               Shown(arrival.Line));
        return false;
    }
    ArrivalBytes += arrival.Line.size();
    Arrivals.push_back(std::move(arrival));
    if (!HandlingScheduled) {
        HandlingScheduled = true;
        Later([this] { HandleArrivals(); });
    }
    return true;
}

void SkypePeer::HandleArrivals() {
    HandlingScheduled = false;
    for (int handled = 0; handled < CommandsPerTurn && !Arrivals.empty(); ++handled) {
        const Arrival arrival = std::move(Arrivals.front());
        Arrivals.pop_front();
        ArrivalBytes -= arrival.Line.size();
        Handle(arrival);
    }
    if (!Arrivals.empty() && !HandlingScheduled) {
        HandlingScheduled = true;
        Later([this] { HandleArrivals(); });
    }
}

void SkypePeer::Handle(const Arrival& arrival) {
    if (arrival.Discover) {
        AnswerDiscover(arrival.Program);
        return;
    }
    if (OnCommand) {
        OnCommand(arrival.Program, arrival.Line, arrival.BlockSize);
    }
    if (arrival.Accepted) {
        AnswerCommand(arrival.Program, arrival.Line);
    }
}

void SkypePeer::AnswerDiscover(WindowHandle program) {
    Queue(program, {true, AttachPending, {}, 0});
    // Attached once the success message is on its way: the program starts
    // its handshake as soon as that message reaches it.
    if (!IsAttached(program)) {
        Attached.push_back(program);
    }
    Queue(program, {true, AttachSuccess, {}, 0});
}

void SkypePeer::AnswerCommand(WindowHandle program, std::string_view line) {
    Answer answer = Client.Command(line);
    for (std::string& reply : answer.Lines) {
        Queue(program, {false, 0, std::move(reply), 0});
    }
    if (answer.HandshakeDone) {
        if (OnHandshake) {
            OnHandshake(program);
        }
        // What came while no program was attached is not announced now: it
        // is missed, and a program asks for it (SEARCH MISSEDCHATMESSAGES),
        // as it does for the ones it did not take.
    }
    if (answer.Echo) {
        Later([this, echo = std::move(*answer.Echo)] { PlayIncoming(echo); });
    }
}

void SkypePeer::PlayIncoming(const IncomingMessage& message) {
    const bool attached = !Attached.empty();
    const ChatClient::Notice notice = Client.Receive(message);
    if (attached) {
        Announce(notice);
    }
}

void SkypePeer::PlayOwn(const OwnMessage& message) {
    SendToAll(Client.RecordOwn(message).Line);
}

void SkypePeer::Announce(const ChatClient::Notice& notice) {
    for (const WindowHandle program : Attached) {
        Queue(program, {false, 0, notice.Line, notice.Id});
    }
}

void SkypePeer::SendToAll(const std::string& line) {
    for (const WindowHandle program : Attached) {
        Queue(program, {false, 0, line, 0});
    }
}

std::size_t SkypePeer::QueuedFor(WindowHandle program) const {
    const auto found = Channels.find(program);
    return found == Channels.end() ? 0 : found->second.Queue.size();
}

bool SkypePeer::Busy() const {
    return std::any_of(Channels.begin(), Channels.end(), [](const auto& channel) {
        return channel.second.Queue.size() >= BusyQueue;
    });
}

void SkypePeer::Queue(WindowHandle program, Outgoing outgoing) {
    Channel& channel = Channels[program];
    if (channel.Queue.size() >= MaxQueuedPerProgram ||
        channel.Bytes + outgoing.Line.size() > MaxQueuedBytesPerProgram) {
        Report("window " + std::to_string(program) + " takes lines more slowly than they come (" +
               std::to_string(channel.Queue.size()) + " waiting); dropped " +
               (outgoing.Status ? "attach status " + std::to_string(outgoing.StatusValue)
                                : Shown(outgoing.Line)));
        return;
    }
    channel.Bytes += outgoing.Line.size();
    channel.Queue.push_back(std::move(outgoing));
    if (!channel.Sending) {
        SendNext(program);
    }
}

void SkypePeer::SendNext(WindowHandle program) {
    Channel& channel = Channels[program];
    if (channel.Queue.empty()) {
        return;
    }
    // Shared with the result's handler, so that the line stays where the
    // record points while the send copies it.
    const auto outgoing = std::make_shared<const Outgoing>(std::move(channel.Queue.front()));
    channel.Queue.pop_front();
    channel.Bytes -= outgoing->Line.size();
    channel.Sending = true;

    std::intptr_t lParam = outgoing->StatusValue;
    std::uint32_t msg = AttachMessage;
    // The line and its NUL, the NUL counted in cbData; the bytes are copied
    // before the send returns.
    CopyDataRecord record;
    if (!outgoing->Status) {
        record.cbData = static_cast<std::uint32_t>(outgoing->Line.size() + 1);
        record.lpData = outgoing->Line.c_str();
        lParam = reinterpret_cast<std::intptr_t>(&record);
        msg = platform::CopyDataMessage;
    }
    const std::weak_ptr<SkypePeer*> self = Self;
    Windows.SendToWindow(program, msg, Windows.ApplicationWindow(), lParam,
                         [self, program, outgoing](std::intptr_t result) {
                             if (const auto peer = self.lock()) {
                                 (*peer)->Sent(program, *outgoing, result);
                             }
                         });
}

void SkypePeer::Sent(WindowHandle program, const Outgoing& outgoing, std::intptr_t result) {
    Channels[program].Sending = false;
    if (outgoing.Status && OnAttachStatus) {
        OnAttachStatus(program, outgoing.StatusValue, result != 0);
    } else if (!outgoing.Status && OnSent) {
        OnSent(program, outgoing.Line, result != 0);
    }
    if (outgoing.Announces != 0 && result != 0) {
        Client.Taken(outgoing.Announces);
    }
    SendNext(program);
}

bool SkypePeer::IsAttached(WindowHandle program) const {
    return std::find(Attached.begin(), Attached.end(), program) != Attached.end();
}

void SkypePeer::Report(const std::string& line) const {
    if (OnProblem) {
        OnProblem(line);
    }
}

void SkypePeer::Later(std::function<void()> work) {
    const std::weak_ptr<SkypePeer*> self = Self;
    Windows.RunLater([self, work = std::move(work)] {
        if (self.lock()) {
            work();
        }
    });
}

} // namespace velantro::standins
