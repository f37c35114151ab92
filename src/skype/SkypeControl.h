#pragma once

#include "platform/WindowMessages.h"
#include "skype/SkypeEvents.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

namespace velantro::skype {

/// What became of a command line handed to the component.
enum class TCommandResult {
    Sent,        ///< the client's window took it
    Dropped,     ///< empty, or not attached: nothing to send to
    TooLong,     ///< over MaxCommandLength bytes: nothing was sent
    NotAccepted, ///< sent, but the client did not take it (or did not answer)
};

/// The component through which the program talks to the chat client. It finds
/// the client by a broadcast, attaches, announces its name and protocol, sends
/// command lines and turns every line the client sends into a typed event.
///
/// Everything runs on the thread of the application window. Sends are
/// synchronous, so the client's answers (and the events they fire) may arrive
/// re-entrantly while a command is being sent: that is, up to MaxHandlingDepth
/// messages handled inside one another. A message that arrives deeper, or
/// while earlier ones wait, is taken at once (result 1) and handled after the
/// ones before it, once the outermost message's handling is done.
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

    /// Sends one command line (without terminator) to the client's API window.
    /// A line longer than MaxCommandLength is never sent, not even in part,
    /// attached or not. An empty line, or any other line before the attach
    /// succeeded, is dropped.
    TCommandResult SendCommand(std::string_view command);

    /// The longest command line the transport carries (one more byte for the NUL).
    static constexpr std::size_t MaxCommandLength = 1023;

    /// How many of the client's messages (lines and attach statuses) are
    /// handled inside one another at most: a message and the answers to the
    /// commands its handlers send.
    static constexpr int MaxHandlingDepth = 2;

    /// How many bytes the messages waiting for their turn may hold, each
    /// counted as its line and WaitingOverhead bytes more; a line beyond them
    /// is refused (result 0), as a window that cannot take it would.
    static constexpr std::size_t MaxWaitingBytes = std::size_t{32} * 1024 * 1024;
    static constexpr std::size_t WaitingOverhead = 64;

    /// The deepest the handling of messages has gone, and the most messages
    /// that waited at once, since creation: the figures of a burst.
    int DeepestHandling() const { return Deepest; }
    std::size_t MostWaiting() const { return MostWaitingCount; }

    /// Sees every message reaching the application window. Takes the five
    /// known attach statuses and the copy-data lines of the attached client's
    /// window: sets their Result to 1 and gives true. Gives false, leaving
    /// Result alone, for anything else (other statuses, copy-data from any
    /// other window or without a record).
    bool AppWindowHook(platform::WindowMessage& message);

    /// Sends "SEARCH <type word> <target>" when the protocol in force supports
    /// the search type, and otherwise reports it through OnNotSupportedError.
    void Search(TSkypeSearchType SearchType, std::string_view target);

    /// Sends "GET CHATMESSAGE <id> <property word>" when the protocol in force
    /// supports the property, and otherwise reports it through OnNotSupportedError.
    void GetChatMsgProperty(std::int32_t ChatMsgID, TSkypeChatMsgProperty ChatMsgProperty);

    /// Sends "MESSAGE <handle> <text>"; text is inserted unchanged (UTF-8 bytes
    /// in this program, line breaks and all). The caller learns whether the
    /// line was too long to send.
    TCommandResult SendMessageTo(std::string_view userHandle, std::string_view text);

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
    void HandleLine(std::string_view line);
    void Handshake();

    /// Runs work now when few enough messages are being handled and none
    /// waits, and otherwise after those that wait. Errors of the work, and of
    /// the waiting work run after it, are raised once all has run (the first).
    void HandleInTurn(std::function<void()> work, std::size_t bytes);
    /// Whether a message of that many bytes can be handled now or wait.
    bool CanTake(std::size_t bytes) const;

    struct WaitingWork {
        std::function<void()> Work;
        std::size_t Bytes = 0;
    };
    int HandlingDepth = 0;
    int Deepest = 0;
    std::deque<WaitingWork> Waiting;
    std::size_t WaitingBytes = 0;
    std::size_t MostWaitingCount = 0;

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
