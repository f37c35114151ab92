#pragma once

// skype-peer's side of the window-message transport: it answers the
// discovery broadcast, takes command lines from attached programs and sends
// the chat client's answers and notifications back.

#include "ChatClient.h"
#include "platform/WindowMessages.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velantro::standins {

class SkypePeer {
public:
    /// Runs a piece of work once the current message has been handled.
    using Scheduler = std::function<void(std::function<void()>)>;

    /// Registers the two messages of the desktop API and hooks the
    /// application window of windows. Throws std::runtime_error when a
    /// registration fails.
    SkypePeer(platform::WindowMessages& windows, ChatClient& client, Scheduler later);
    ~SkypePeer();
    SkypePeer(const SkypePeer&) = delete;
    SkypePeer& operator=(const SkypePeer&) = delete;

    /// Every command line received, from any window, before it is answered,
    /// with the size (cbData) of the copy-data block that carried it.
    std::function<void(platform::WindowHandle from, std::string_view line, std::uint32_t blockSize)>
        OnCommand;
    /// Every line sent, with whether the receiver accepted it.
    std::function<void(platform::WindowHandle to, std::string_view line, bool accepted)> OnSent;
    /// An attach status sent, with whether the receiver accepted it.
    std::function<void(platform::WindowHandle to, std::intptr_t status, bool accepted)>
        OnAttachStatus;
    /// A program finished its handshake.
    std::function<void(platform::WindowHandle program)> OnHandshake;

    /// Announces a message from a contact to every attached program; kept
    /// until a program has attached when none has.
    void PlayIncoming(const IncomingMessage& message);

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

private:
    bool Hook(platform::WindowMessage& message);
    void AnswerDiscover(platform::WindowHandle program);
    void SendStatus(platform::WindowHandle program, std::intptr_t status);
    void AnswerCommand(platform::WindowHandle program, std::string_view line);
    bool SendLine(platform::WindowHandle program, const std::string& line);
    bool IsAttached(platform::WindowHandle program) const;

    platform::WindowMessages& Windows;
    ChatClient& Client;
    Scheduler Later;
    std::uint32_t AttachMessage = 0;
    std::uint32_t DiscoverMessage = 0;
    std::vector<platform::WindowHandle> Attached;
    std::vector<IncomingMessage> Waiting;
};

/// The line a copy-data block carries: its bytes up to the first NUL, never
/// past cbData.
std::string_view CopyDataLine(const platform::CopyDataRecord& record);

} // namespace velantro::standins
