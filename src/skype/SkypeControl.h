#pragma once

#include "skype/SkypeEvents.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace velantro::skype {

/// The component through which the program talks to the chat client. It turns
/// every line the client sends into a typed event.
class TSkypeControl : public TSkypeEvents {
public:
    TSkypeControl() = default;
    TSkypeControl(const TSkypeControl&) = delete;
    TSkypeControl& operator=(const TSkypeControl&) = delete;

    /// The protocol in force: set by Attach, replaced by the client's PROTOCOL line.
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
