#pragma once

// skype-peer's side of the window-message transport: it answers the
// discovery broadcast, takes command lines from attached programs and sends
// the chat client's answers and notifications back.
//
// Nothing is done inside another program's call: the hook copies a command
// line, answers at once and queues it; commands are answered from the event
// loop in arrival order. What goes to a program waits in a queue of its own
// and goes out one send at a time, the next once the window has given the
// previous one's result, so a program sees its lines in the order they were
// made whatever the transport does meanwhile.

#include "ChatClient.h"
#include "platform/WindowMessages.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velantro::standins {

class SkypePeer {
public:
    /// How many lines and attach statuses may wait to go to one program, and
    /// how many bytes their lines may hold; one beyond is dropped and
    /// reported rather than kept.
    static constexpr std::size_t MaxQueuedPerProgram = 10000;
    static constexpr std::size_t MaxQueuedBytesPerProgram = std::size_t{64} * 1024 * 1024;
    /// How many messages taken from programs may wait to be handled, and how
    /// many bytes their lines may hold; a line beyond is refused (result 0).
    static constexpr std::size_t MaxWaitingCommands = 10000;
    static constexpr std::size_t MaxWaitingCommandBytes = std::size_t{16} * 1024 * 1024;
    /// How many of them are handled in one turn of the event loop, so that
    /// the network and the results of sends get their turns between.
    static constexpr int CommandsPerTurn = 32;
    /// From how many lines waiting for one program on the peer counts as
    /// busy: sources that can wait (the console, a script) hold back then, so
    /// that only the network's bursts meet the limits.
    static constexpr std::size_t BusyQueue = MaxQueuedPerProgram / 2;

    /// Registers the two messages of the desktop API and hooks the
    /// application window of windows, which must outlive the peer. Throws
    /// std::runtime_error when a registration fails.
    SkypePeer(platform::WindowMessages& windows, ChatClient& client);
    ~SkypePeer();
    SkypePeer(const SkypePeer&) = delete;
    SkypePeer& operator=(const SkypePeer&) = delete;

    /// Every command line received, from any window, in arrival order, before
    /// it is answered, with the size (cbData) of the copy-data block that
    /// carried it.
    std::function<void(platform::WindowHandle from, std::string_view line, std::uint32_t blockSize)>
        OnCommand;
    /// Every line sent, with whether the receiver accepted it.
    std::function<void(platform::WindowHandle to, std::string_view line, bool accepted)> OnSent;
    /// An attach status sent, with whether the receiver accepted it.
    std::function<void(platform::WindowHandle to, std::intptr_t status, bool accepted)>
        OnAttachStatus;
    /// A program finished its handshake.
    std::function<void(platform::WindowHandle program)> OnHandshake;
    /// Something was dropped or refused for want of room, in one line;
    /// written to stderr unless replaced.
    std::function<void(const std::string& line)> OnProblem;

    /// Announces a message from a contact to every attached program, or
    /// after the next handshake when none is attached. It is missed until a
    /// program takes its notification (or marks it seen).
    void PlayIncoming(const IncomingMessage& message);

    /// Announces a message the user wrote elsewhere to every attached
    /// program, as sent.
    void PlayOwn(const OwnMessage& message);

    /// Tells every window that the API has become available (attach status
    /// 32769, broadcast), as the client does when it starts, so programs that
    /// re-attach by themselves attach again.
    void AnnounceAPIAvailable();

    /// Tells every attached program that the API is not available now
    /// (attach status 3), as the client does when it loses its network. The
    /// programs stay attached; AnnounceAPIAvailable later brings them back.
    void AnnounceAPIUnavailable();

    /// Tells every attached program the friends, as the answer to a friends
    /// search, when they have changed.
    void AnnounceFriends();

    /// Sends a line as it is to every attached program.
    void SendToAll(const std::string& line);

    const std::vector<platform::WindowHandle>& AttachedPrograms() const { return Attached; }

    /// Lines and statuses waiting to go to program, the one under way not counted.
    std::size_t QueuedFor(platform::WindowHandle program) const;
    /// Whether some program has BusyQueue lines or more waiting for it.
    bool Busy() const;
    /// Messages taken from programs and not yet handled.
    std::size_t WaitingCommands() const { return Arrivals.size(); }

private:
    /// A message taken from a window, handled from the event loop.
    struct Arrival {
        bool Discover = false; ///< a discover message; otherwise a command line
        platform::WindowHandle Program = 0;
        std::string Line;
        std::uint32_t BlockSize = 0;
        bool Accepted = false; ///< the program was attached when the line came
    };

    /// A line or an attach status on its way to one program.
    struct Outgoing {
        bool Status = false;
        std::intptr_t StatusValue = 0;
        std::string Line;
        /// The received message the line announces; 0 for none.
        std::int32_t Announces = 0;
    };

    /// The queue of one program and whether a send to it is under way.
    struct Channel {
        std::deque<Outgoing> Queue;
        std::size_t Bytes = 0;
        bool Sending = false;
    };

    bool Hook(platform::WindowMessage& message);
    bool Take(Arrival arrival);
    void HandleArrivals();
    void Handle(const Arrival& arrival);
    void AnswerDiscover(platform::WindowHandle program);
    void AnswerCommand(platform::WindowHandle program, std::string_view line);
    void Announce(const ChatClient::Notice& notice);
    void Queue(platform::WindowHandle program, Outgoing outgoing);
    void SendNext(platform::WindowHandle program);
    void Sent(platform::WindowHandle program, const Outgoing& outgoing, std::intptr_t result);
    bool IsAttached(platform::WindowHandle program) const;
    void Report(const std::string& line) const;
    /// Runs work from the event loop unless the peer is gone by then.
    void Later(std::function<void()> work);

    platform::WindowMessages& Windows;
    ChatClient& Client;
    std::uint32_t AttachMessage = 0;
    std::uint32_t DiscoverMessage = 0;
    std::vector<platform::WindowHandle> Attached;
    std::deque<Arrival> Arrivals;
    std::size_t ArrivalBytes = 0;
    bool HandlingScheduled = false;
    std::map<platform::WindowHandle, Channel> Channels;
    /// Dropped with the peer, so that no result or queued work reaches it after.
    std::shared_ptr<SkypePeer*> Self = std::make_shared<SkypePeer*>(this);
};

/// The line a copy-data block carries: its bytes up to the first NUL, never
/// past cbData.
std::string_view CopyDataLine(const platform::CopyDataRecord& record);

} // namespace velantro::standins
