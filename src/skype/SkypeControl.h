#pragma once

#include "platform/WindowMessages.h"
#include "skype/SkypeEvents.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace velantro::skype {

/// What became of a command line handed to the component.
enum class TCommandResult {
    Answered,     ///< the client answered it; TCommandOutcome::AnswerLine holds the answer
    Refused,      ///< the client answered it with an ERROR line
    Unanswered,   ///< the client's window took it, but no answer came within the time limit
    NotAccepted,  ///< the client's window did not take it, or did not answer the send in time
    Dropped,      ///< empty, or not attached: nothing to send to
    TooLong,      ///< over MaxCommandLength bytes: nothing was sent
    NotSupported, ///< the protocol in force does not carry it: nothing was sent
};

/// How a command ended.
struct TCommandOutcome {
    TCommandResult Result = TCommandResult::Dropped;
    /// The line that answered it (Answered, Refused).
    std::string AnswerLine;
    /// The ERROR line's code and description (Refused).
    std::int32_t ErrorCode = 0;
    std::string ErrorDescription;
};

/// Told how a command ended, from the event loop, never inside the call that
/// handed the command over.
using TCommandDone = std::function<void(const TCommandOutcome& outcome)>;

/// Whether one of the client's lines (its first word, and the rest) is the
/// answer to a command. ERROR lines answer every command and need no test.
using TAnswerTest = std::function<bool(std::string_view firstWord, std::string_view rest)>;

/// The component through which the program talks to the chat client. It finds
/// the client by a broadcast, attaches, announces its name and protocol, sends
/// command lines and turns every line the client sends into a typed event.
///
/// Nothing is done inside another program's call: a line or attach status
/// that reaches the application window is copied and queued, the window
/// answers at once, and the queue is handled from the event loop in arrival
/// order, a few messages a turn. Commands go out from a queue of their own,
/// one at a time: the next is sent once the previous one has its answer (a
/// line of the kind it asks for, or ERROR), or its time limit has passed.
/// The client answers commands in the order it takes them, so the answer to
/// the one command under way is never in doubt; a line that arrived before
/// that command went out is never taken for its answer.
class TSkypeControl : public TSkypeEvents {
public:
    /// A component without a window-message service: it never hears from the
    /// client and sends nothing, but its parser works (tools, parser tests).
    TSkypeControl() = default;

    /// Registers the two messages of the client's desktop API and, when both
    /// registrations succeed, hooks the application window of messages.
    /// messages must outlive the component.
    explicit TSkypeControl(platform::WindowMessages* messages);

    /// Removes the hook when it was installed; sends nothing.
    ~TSkypeControl();

    // The hook captures this component, so it can be neither copied nor moved.
    TSkypeControl(const TSkypeControl&) = delete;
    TSkypeControl& operator=(const TSkypeControl&) = delete;
    TSkypeControl(TSkypeControl&&) = delete;
    TSkypeControl& operator=(TSkypeControl&&) = delete;

    /// The name announced to the client in the handshake.
    std::string IdentName = "SkypeControl";

    /// When true, attaches again with protocol 4 as soon as the client reports
    /// that its API has become available.
    bool AutoReAttach = false;

    /// Stores ProtocolNumber as the protocol in force and broadcasts the
    /// discover message; the client answers later with attach statuses. Gives
    /// the broadcast's result (0 when nothing was broadcast: the component is
    /// not hooked and could never hear the answer).
    std::intptr_t Attach(std::int32_t ProtocolNumber);

    /// Queues one command line (without terminator) for the client's API
    /// window. isAnswer tells its answer from other lines; without one the
    /// command is done once the window has taken it. done, when set, learns
    /// how it ended. A line longer than MaxCommandLength is never sent, not
    /// even in part, attached or not. An empty line, or any line while not
    /// attached when its turn comes, is dropped.
    void SendCommand(std::string_view command, TAnswerTest isAnswer = {}, TCommandDone done = {});

    /// The longest command line the transport carries (one more byte for the NUL).
    static constexpr std::size_t MaxCommandLength = 1023;

    /// How long a command the client's window took waits for its answer
    /// before the next one goes out.
    static constexpr std::chrono::milliseconds AnswerTimeout{2000};

    /// How many bytes the messages waiting to be handled may hold, each
    /// counted as its line and WaitingOverhead bytes more; a line beyond them
    /// is refused (result 0), as a window that cannot take it would.
    static constexpr std::size_t MaxWaitingBytes = std::size_t{32} * 1024 * 1024;
    static constexpr std::size_t WaitingOverhead = 64;
    /// How many of them are handled in one turn of the event loop; the user's
    /// input gets its turn between.
    static constexpr int MessagesPerTurn = 32;
    /// How many commands may wait for their turn; one beyond is dropped.
    /// Lines from the client are not handled while half of them wait, so
    /// that their requests are never dropped.
    static constexpr std::size_t MaxQueuedCommands = 10000;

    /// The most messages that waited at once since creation: the figure of a burst.
    std::size_t MostWaiting() const { return MostWaitingCount; }
    /// Commands waiting for their turn, the one under way not counted.
    std::size_t QueuedCommands() const { return Commands.size(); }
    /// Whether a command is under way (sent, its answer not yet in).
    bool CommandUnderWay() const { return Current.has_value(); }

    /// Sees every message reaching the application window. Takes the five
    /// known attach statuses and the copy-data lines of the attached client's
    /// window: queues them, sets their Result to 1 and gives true. Gives
    /// false, leaving Result alone, for anything else (other statuses,
    /// copy-data from any other window or without a record).
    bool AppWindowHook(platform::WindowMessage& message);

    /// Sends "SEARCH <type word> <target>" when the protocol in force supports
    /// the search type, and otherwise reports it through OnNotSupportedError.
    /// Its answer is a search reply (USERS, CHATMESSAGES, ...).
    void Search(TSkypeSearchType SearchType, std::string_view target, TCommandDone done = {});

    /// Sends "GET CHATMESSAGE <id> <property word>" when the protocol in force
    /// supports the property, and otherwise reports it through
    /// OnNotSupportedError. Its answer is the CHATMESSAGE line of that id and
    /// property.
    void GetChatMsgProperty(std::int32_t ChatMsgID, TSkypeChatMsgProperty ChatMsgProperty,
                            TCommandDone done = {});

    /// Sends "MESSAGE <handle> <text>"; text is inserted unchanged (UTF-8 bytes
    /// in this program, line breaks and all). Its answer is the new chat
    /// message's status, SENDING or SENT: AnswerLine then names its id.
    void SendMessageTo(std::string_view userHandle, std::string_view text, TCommandDone done = {});

    /// Sends "SET CHATMESSAGE <id> SEEN": the chat message is marked as read,
    /// so that the client offers it as missed no more. Its answer is the
    /// message's new status ("CHATMESSAGE <id> STATUS READ").
    void SetChatMsgSeen(std::int32_t ChatMsgID, TCommandDone done = {});

    /// Whether the protocol in force carries the search type.
    bool SupportsSearch(TSkypeSearchType SearchType) const;

    bool IsHooked() const { return Hooked; }
    std::uint32_t AttachMessageId() const { return AttachMessage; }
    std::uint32_t DiscoverMessageId() const { return DiscoverMessage; }
    /// The client's API window, learnt from the latest attach success; 0 before.
    platform::WindowHandle SkypeWindowHandle() const { return SkypeWindow; }
    bool IsAttached() const { return Attached; }

private:
    platform::WindowMessages* Messages = nullptr;
    bool Hooked = false;
    std::uint32_t AttachMessage = 0;
    std::uint32_t DiscoverMessage = 0;
    platform::WindowHandle SkypeWindow = 0;
    /// Never cleared once set: a later refusal or absence of the client keeps
    /// sending to the old window, whose sends then fail.
    bool Attached = false;

public:
    /// The protocol in force: set by Attach, replaced by the client's PROTOCOL
    /// line. Public so that tools and tests can parse under a chosen protocol.
    std::int32_t Protocol = -1;

    /// Routes one received line, whose first word has already been cut off,
    /// to its handler; the events fire inside this call. Lines with an empty
    /// or unknown first word are dropped without a report.
    void DispatchNotification(std::string_view firstWord, std::string_view rest);

    /// Passes text to OnNotSupportedError when it is set.
    void ReportNotSupported(std::string text);

private:
    void HandleError(std::string_view rest);
    void HandleUserStatus(std::string_view rest);
    void HandleConnStatus(std::string_view rest);
    void HandleUser(std::string_view rest);
    void HandleName(std::string_view rest);
    void HandleProtocol(std::string_view rest);
    void HandlePong(std::string_view rest);
    void HandleCall(std::string_view rest);
    void HandleMessage(std::string_view rest);
    void HandleCurrentUserHandle(std::string_view rest);
    void HandleSearchReply(TSkypeSearchType type, std::string_view rest);
    void HandleCallHistoryChanged(std::string_view rest);
    void HandleIMHistoryChanged(std::string_view rest);
    void HandleAudioIn(std::string_view rest);
    void HandleAudioOut(std::string_view rest);
    void HandleMute(std::string_view rest);
    void HandlePrivilege(std::string_view rest);
    void HandleProfile(std::string_view rest);
    void HandleVersion(std::string_view rest);
    void HandleChat(std::string_view rest);
    void HandleChatMessage(std::string_view rest);

    bool HandleAttachStatus(platform::WindowMessage& message);
    bool HandleCopyData(platform::WindowMessage& message);
    void HandleLine(std::string_view line, std::optional<std::uint64_t> answers);
    void Handshake();

    /// One message taken from the application window, waiting to be handled.
    struct Arrival {
        std::uint64_t Number = 0; ///< counts every message taken
        std::function<void(std::uint64_t number)> Work;
        std::size_t Bytes = 0;
    };
    /// Queues work for a message just taken; false when there is no room.
    bool Take(std::function<void(std::uint64_t number)> work, std::size_t bytes);
    void HandleArrivals();

    /// A command waiting for its turn or under way.
    struct Command {
        std::string Line;
        TAnswerTest IsAnswer;
        TCommandDone Done;
        std::uint64_t Number = 0; ///< counts every command sent
        bool Taken = false;       ///< the window took it
        /// Its answer has come and waits for its turn to end it.
        std::optional<TCommandOutcome> Answer;
    };
    void SendNext();
    /// The command under way has ended; the next one goes out.
    void Finish(const TCommandOutcome& outcome);
    void SendResult(std::uint64_t command, std::intptr_t result);
    void AnswerTimedOut(std::uint64_t command);
    /// Whether a line just taken answers the command under way: then the
    /// command ends from the loop, before the line's own event fires, even
    /// while lines wait; gives the command's number.
    std::optional<std::uint64_t> MatchAnswer(std::string_view line);
    /// Ends the command with this number, when it is still the one under way.
    void FinishAnswered(std::uint64_t command);
    /// Tells done how a command ended, from the event loop.
    void Tell(TCommandDone done, TCommandOutcome outcome);
    /// Runs work from the event loop unless the component is gone by then.
    void Later(std::function<void()> work, std::chrono::milliseconds delay = {});

    std::deque<Arrival> Arrivals;
    std::uint64_t ArrivalCount = 0;
    std::size_t WaitingBytes = 0;
    std::size_t MostWaitingCount = 0;
    bool HandlingScheduled = false;
    /// Lines wait while the commands they caused fill half the command queue.
    bool ArrivalsHeld = false;
    std::deque<Command> Commands;
    std::optional<Command> Current;
    std::uint64_t CommandCount = 0;
    /// Dropped with the component, so that nothing queued runs after it.
    std::shared_ptr<TSkypeControl*> Self = std::make_shared<TSkypeControl*>(this);

    /// Reports a received word that the protocol in force should not carry.
    void ReportReceived(std::string_view prefix, std::string_view word);

    /// Looks a property word up and reports it when the protocol in force
    /// does not support it.
    template <typename E, std::size_t N>
    E PropertyOf(std::string_view word, const TWordTable<E, N>& words,
                 const TSupportTable<E>& support, std::string_view reportPrefix);

    struct Route;
    static const Route Routes[];
};

} // namespace velantro::skype
