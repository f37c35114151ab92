#pragma once

// The main window's work with the chat client: the contact list and the
// user's own handle, the incoming and the outgoing message flows. Plain C++
// over the MainView; the window binds these handlers to its controls and to
// the component's events.

#include "app/MainView.h"
#include "app/MessageQueue.h"
#include "skype/SkypeControl.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

namespace velantro::app {

/// Translates text into the language with the given code; raises on failure.
using Translator = std::function<std::u16string(std::u16string_view text, std::int32_t code)>;

/// The footers appended to every outgoing translation.
inline constexpr std::u16string_view EnglishFooter = u" - Translated with Velantro";
inline constexpr std::u16string_view BulgarianFooter =
    u" - \u041f\u0440\u0435\u0432\u0435\u0434\u0435\u043d\u043e \u0441\u044a\u0441 Velantro";

/// The entry of a received message: "handle: translation", and with
/// showOriginal (and an original) " (original)" after it, the mirror of a
/// sent message's entry.
std::u16string IncomingEntry(std::string_view handle, std::u16string_view translation,
                             std::u16string_view original, bool showOriginal);

/// The footer for an outgoing message in the language with this code.
std::u16string_view FooterFor(std::int32_t languageCode);

/// True when text holds a character other than blanks and control characters.
bool HasSendableText(std::u16string_view text);

class ConversationFlows {
public:
    ConversationFlows(MainView& view, skype::TSkypeControl& skype, Translator translate);

    /// Empties the pending-message queue.
    void ClearQueue() { Queue.Clear(); }

    void SkypeControlChatMsgInfo(std::int32_t ChatMsgID,
                                 skype::TSkypeChatMsgProperty ChatMsgProperty,
                                 const std::string& data);
    void SkypeControlAttachSuccess();
    void SkypeControlSearchResult(skype::TSkypeSearchType SearchType,
                                  const skype::TStringList& aList);
    void SkypeControlCurrentUserHandle(const std::string& UserHandle);

    /// Enables the Send button exactly when the message has sendable text.
    void SendMessageChange();
    void btnSendClick();

    const std::string& OwnHandle() const { return Own; }
    const TMessageQueue& PendingMessages() const { return Queue; }

private:
    void ShowWhenComplete(std::int32_t id);
    void Show(std::int32_t id);

    MainView& View;
    skype::TSkypeControl& Skype;
    Translator TranslateText;
    TMessageQueue Queue;
    /// Messages complete and waiting to be shown, in the order they completed.
    /// A translation blocks (the window look-up and the exchange run no event
    /// loop), but the contact search that showing a message ends with waits
    /// for the chat client's reply while this program's window still receives
    /// messages, so other messages may complete inside it; they are shown
    /// after it, so each page keeps the order in which messages came.
    std::deque<std::int32_t> ReadyToShow;
    bool Showing = false;
    std::string Own;
};

} // namespace velantro::app
