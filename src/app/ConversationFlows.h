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
#include <unordered_set>

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

/// The mark after an incoming message shown in its own words.
inline constexpr std::u16string_view NotTranslatedMark = u" [not translated]";

/// How much of the service's trouble a message's entry shows.
enum class TEntryForm { Translated, NotTranslated };

/// The entry for an incoming message on its sender's page: the sender's
/// handle, ": " and the text (the translation, or the message's own words
/// followed by the mark).
std::u16string IncomingEntry(std::string_view from, std::u16string_view text, TEntryForm form);

/// Waits for the chat client's answer to a command just sent, handling the
/// client's lines meanwhile (but not the user's input), until answered()
/// gives true or a short deadline has passed.
using AnswerWait = std::function<void(const std::function<bool()>& answered)>;

class ConversationFlows {
public:
    /// wait: how to wait for the client's answer to a message that it took
    /// without answering at once; without one the flow does not wait.
    ConversationFlows(MainView& view, skype::TSkypeControl& skype, Translator translate,
                      AnswerWait wait = {});

    /// Empties the pending-message queue.
    void ClearQueue() { Queue.Clear(); }

    void SkypeControlChatMsgInfo(std::int32_t ChatMsgID,
                                 skype::TSkypeChatMsgProperty ChatMsgProperty,
                                 const std::string& data);
    void SkypeControlAttachSuccess();
    void SkypeControlSearchResult(skype::TSkypeSearchType SearchType,
                                  const skype::TStringList& aList);
    void SkypeControlCurrentUserHandle(const std::string& UserHandle);
    /// The client's ERROR line: the answer to a message being sent, when one is.
    void SkypeControlError(std::int32_t Code, const std::string& Description);

    /// The user chose the page of partner: "To" selects the partner.
    void PageControl1Change(const std::string& partner);

    /// Enables the Send button exactly when the message has sendable text.
    void SendMessageChange();
    void btnSendClick();

    const std::string& OwnHandle() const { return Own; }
    const TMessageQueue& PendingMessages() const { return Queue; }
    /// The messages shown in their own words, oldest first, until translated.
    std::size_t UntranslatedCount() const { return Untranslated.size(); }

    /// The most messages kept for a later translation; older ones stay shown
    /// in their own words.
    static constexpr std::size_t UntranslatedLimit = 1000;
    /// The most sends kept that the client neither took nor refused in time.
    static constexpr std::size_t MaybeSentLimit = 16;

private:
    /// A message whose sender and body are known.
    struct Complete {
        std::int32_t Id = 0;
        std::string From;
        std::string Body;
        bool Retry = false; ///< shown in its own words already
    };

    /// What became of the MESSAGE command being sent, as far as the client said.
    struct SendAnswer {
        int Depth = 0; ///< the command depth at which the MESSAGE is being sent
        bool Confirmed = false;
        bool Refused = false;
        std::int32_t Code = 0;
        std::string Description;
        bool Answered() const { return Confirmed || Refused; }
    };

    /// A send the client neither took nor refused in time: a client that
    /// was only slow sends it still, and says so afterwards.
    struct LateSend {
        std::string Target;
        std::u16string Entry; ///< what its page shows once it is known sent
        std::string Body;     ///< the text the client sends, footer and all
    };

    void TakeComplete(std::int32_t id);
    /// A status of a message this program did not see being sent: while a
    /// send may still go out late, asks for the message's body to match it.
    void CheckLateSend(std::int32_t id);
    /// The body of a message asked by CheckLateSend: the send it matches is
    /// written on its partner's page; false when it matches none.
    bool RecordLateSend(const std::string& body);
    void ShowReady(Complete message);
    void Show(const Complete& message);
    void RetryOne(std::int32_t id, const std::string& body);
    void RetryUntranslated();
    /// Translates a message shown in its own words and shows the translation;
    /// false when the translation failed again.
    bool ShowTranslated(const Complete& message);
    void KeepUntranslated(Complete message);
    /// Writes a translated message's entry and tells the window it arrived.
    void AppendTranslated(ConversationLog& log, const Complete& message,
                          std::u16string_view translation);
    ConversationLog* PageOf(const std::string& handle);
    void RequestPiece(std::int32_t id, skype::TSkypeChatMsgProperty property);
    std::u16string Translation(const std::string& body);
    /// Sends bytes to target; entry is what the page is to show should the
    /// client send it late.
    void SendToClient(const std::string& target, const std::string& bytes,
                      const std::u16string& entry);

    MainView& View;
    skype::TSkypeControl& Skype;
    Translator TranslateText;
    AnswerWait WaitForAnswer;
    TMessageQueue Queue;
    /// Messages complete and waiting to be shown, in the order they completed.
    /// A translation blocks (the window look-up and the exchange run no event
    /// loop), but a command sent to the chat client while a message is shown
    /// (the contact search) waits for the answer while this program's window
    /// still receives messages, so other messages may complete inside it;
    /// they are shown after it, so each page keeps the order in which
    /// messages came.
    std::deque<Complete> ReadyToShow;
    /// The ids in ReadyToShow or being shown.
    std::unordered_set<std::int32_t> Underway;
    bool Showing = false;
    /// Shown in their own words after a failed translation, oldest first.
    std::deque<Complete> Untranslated;
    std::unordered_set<std::int32_t> UntranslatedIds;
    /// Messages shown translated: the client announcing one again shows nothing.
    TRecentIds Translated;
    /// Commands of this flow being sent right now (sends nest: the client's
    /// answers are handled while a command is still being sent).
    int CommandDepth = 0;
    SendAnswer* Awaited = nullptr;
    /// Sends that may still go out, oldest first.
    std::deque<LateSend> MaybeSent;
    /// Messages whose status was taken into account already: confirmed sends
    /// of this program's, and messages whose body was asked for.
    TRecentIds StatusesSeen{256};
    /// The ids whose body was asked for to match a late send.
    std::deque<std::int32_t> BodiesAsked;
    /// A page the flow creates may become the current one; that is no choice
    /// of the user's.
    bool CreatingPage = false;
    std::string Own;
};

} // namespace velantro::app
