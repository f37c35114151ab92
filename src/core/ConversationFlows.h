#pragma once

// The conversation core: the contact list and the user's own handle, the
// incoming and the outgoing message flows. Plain C++ over the MainView, the
// chat-client component and a translation service. Everything here runs from
// the event loop: the component hands over the client's lines one at a time,
// commands are answered later, translations come back later, and nothing
// ever waits.

#include "core/MainView.h"
#include "core/MessageQueue.h"
#include "core/TranslationService.h"
#include "history/ConversationHistory.h"
#include "skype/SkypeControl.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace velantro::core {

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
/// The mark after a message the chat client kept while Velantro was not running.
inline constexpr std::u16string_view MissedMark = u" [received while Velantro was closed]";

/// How much of the service's trouble a message's entry shows.
enum class TEntryForm { Translated, NotTranslated };

/// The entry for an incoming message on its sender's page: the sender's
/// handle, ": " and the text (the translation, or the message's own words
/// followed by the mark).
std::u16string IncomingEntry(std::string_view from, std::u16string_view text, TEntryForm form);

/// The id of the chat message an answer line names ("CHATMESSAGE 12 STATUS
/// SENT" gives 12), when it names one.
std::optional<std::int32_t> ChatMessageIdOf(std::string_view answerLine);

/// The value of the property an answer line reports: what follows
/// "CHATMESSAGE <id> <property> ".
std::string_view PropertyValueOf(std::string_view answerLine);

/// Orders handles without regard to ASCII case, as the chat client compares them.
struct HandleLess {
    bool operator()(std::string_view a, std::string_view b) const;
};

/// What is kept of one conversation partner.
struct Partner {
    /// The message being written to them, lines joined by CR LF.
    std::u16string Draft;
    /// The "in" language last used with them.
    std::optional<std::int32_t> Language;
    /// Messages on their page the user has not seen.
    std::size_t Unread = 0;
    bool HasPage = false;
    /// The history's id of each entry on their page, top to bottom; 0 for
    /// an entry the history does not hold.
    std::deque<std::int64_t> StoredIds;
};

/// A message the user sends, from the press of Send until the chat client
/// has settled it.
struct OutgoingSend {
    enum class State {
        Translating, ///< waits for its translation
        WithClient,  ///< handed to the chat client, its answer not yet in
        Sent,        ///< the client took it: the entry is written, the field cleared
        Refused,     ///< not sent: the box says why, the text stays
        Unanswered,  ///< the client did not take it in time; it may still send it late
    };
    State Now = State::Translating;
    std::string Target;
    std::int32_t LanguageCode = 0;
    std::int32_t LanguageIndex = 0; ///< the "in" position it was sent with
    std::u16string Text;            ///< as typed
    LogEntry Entry;                 ///< what the partner's page shows once it is sent
    std::u16string Translation;     ///< the translation, without the footer
    std::string Body;               ///< the bytes handed to the client: translation and footer
};

class ConversationFlows {
public:
    ConversationFlows(MainView& view, skype::TSkypeControl& skype, TranslationService& translate);

    /// Keeps every entry in store from now on (none with null) and brings
    /// back its conversations: the pages in their order, each with its
    /// latest entries. The store outlives the flows.
    void UseHistory(history::ConversationHistory* store);
    /// No history is kept: turned off, or its file can't be used (problem says why).
    void HistoryUnavailable(StatusLine::History why, std::string problem);
    /// The entries of the shown partner's history that hold every word of
    /// text, newest first.
    std::vector<history::StoredEntry> FindInHistory(std::u16string_view text) const;
    /// Shows the entry id of the shown partner's history in its place on
    /// their page, the entries before it brought back as needed; found is
    /// marked in it. False when the history holds no such entry.
    bool RevealFound(std::int64_t id, std::u16string_view found);
    /// Forgets the conversation with partner: from the history file, then
    /// from their page. False (and the user told why) when the file kept it.
    bool DeleteHistory(const std::string& partner);
    bool HistoryKept() const { return Store != nullptr; }

    /// The entries each page brings back at start; the rest on demand.
    static constexpr std::size_t RestoredEntries = 200;
    /// The most entries a search finds; entries brought back at a time.
    static constexpr std::size_t SearchResults = 500;
    static constexpr std::size_t EarlierAtATime = 500;

    /// Empties the pending-message queue.
    void ClearQueue() { Queue.Clear(); }

    // The component's events.
    void ChatMessageReported(std::int32_t id, skype::TSkypeChatMsgProperty property,
                             const std::string& data);
    void Attached();
    /// The chat client's API is not available.
    void ClientUnavailable();
    /// Not attached: the client is starting, asking its user, or refused.
    void ClientWaiting();
    /// Looks again where translations go, for the status line.
    void RefreshStatus();
    void FriendsReported(const skype::TStringList& handles);
    /// A search reply: friends fill the contact list, chat messages are the
    /// missed ones asked for at attach.
    void SearchReported(skype::TSkypeSearchType type, const skype::TStringList& items);
    /// The chat client's messages that came while no program was attached:
    /// each is fetched and shown as any incoming one, then marked seen.
    void MissedReported(const skype::TStringList& ids);
    void OwnHandleReported(const std::string& handle);

    // The shown page and "To" are one choice, and only the user makes it.
    /// The user brought the page of partner to the front.
    void PageChosen(const std::string& partner);
    /// The user chose partner in "To": their page is shown, made when missing.
    void ContactChosen(const std::string& partner);
    /// The user chose the "in" language at index: it is the shown partner's now.
    void LanguageChosen(std::int32_t index);
    /// The window became the one the user works in: the shown page is seen.
    void WindowActivated();
    /// The partner of the first page after the shown one (round the end) with
    /// unread messages; empty when there is none.
    std::string NextUnread() const;

    /// The message's text changed: it is the chosen partner's draft, and Send
    /// is enabled exactly when it has sendable text and no send is under way.
    void MessageChanged();
    /// The user pressed Send (or its keys): the typed message is translated
    /// and handed to the chat client; the field is read-only meanwhile.
    void SendTyped();

    const std::string& OwnHandle() const { return Own; }
    const StatusLine& Status() const { return StatusPublished; }
    /// The partner whose page is shown; empty while there is no page.
    const std::string& ShownPartner() const { return OnShow; }
    /// Everyone met in this run, for what is kept until the next.
    const std::map<std::string, Partner, HandleLess>& Partners() const { return Known; }
    const TMessageQueue& PendingMessages() const { return Queue; }
    /// The messages shown in their own words, oldest first, until translated.
    std::size_t UntranslatedCount() const { return Untranslated.size(); }
    /// The send under way, if any.
    const std::optional<OutgoingSend>& SendUnderWay() const { return Sending; }
    /// Sends that the client did not take in time and may still send late.
    std::size_t MaybeSentCount() const { return MaybeSent.size(); }

    /// The most messages kept for a later translation; older ones stay shown
    /// in their own words.
    static constexpr std::size_t UntranslatedLimit = 1000;
    /// How many waiting messages one round of retries takes at most; the
    /// next round comes from the event loop, after what arrived meanwhile.
    static constexpr std::size_t RetriesPerRound = 10;
    /// The most sends kept that the client neither took nor refused in time.
    static constexpr std::size_t MaybeSentLimit = 16;
    /// The most sent messages waiting to be asked about.
    static constexpr std::size_t LateQuestionsLimit = 64;
    /// The most missed messages taken from one answer, and fetched at once.
    static constexpr std::size_t MissedLimit = 10000;
    static constexpr std::size_t MissedAtOnce = 16;
    /// Missed messages waiting to be fetched, and those still missed.
    std::size_t MissedWaiting() const { return MissedToFetch.size() + Missed.size(); }

private:
    /// A message whose sender and body are known.
    struct Complete {
        std::int32_t Id = 0;
        std::string From;
        std::string Body;
        bool Missed = false; ///< came while no program was attached
    };
    /// A message shown in its own words, waiting for a translation.
    struct Waiting {
        Complete Message;
        ConversationLog* Log = nullptr;
        std::size_t Entry = 0;
        std::u16string Time;         ///< when it was first shown
        history::StoredEntry Stored; ///< as the history holds it
    };
    /// What is known of a message asked about to match a late send.
    struct LateQuestion {
        std::optional<std::string> Partner;
        std::optional<std::string> Body;
    };

    void TakeComplete(std::int32_t id);
    void Translate(const Complete& message);
    void Translated(const Complete& message, TranslationOutcome outcome);
    void KeepUntranslated(Complete message, ConversationLog* log, std::size_t entry,
                          std::u16string time, history::StoredEntry stored);
    /// Starts a round of retries unless one runs; from the event loop.
    void RetryWaiting();
    void RetryNext(std::size_t leftInRound);
    void Retried(std::int32_t id, TranslationOutcome outcome, std::size_t leftInRound);
    /// Appends entry to partner's page and stored to the history (its time,
    /// partner and sender filled in here); gives the entry's number on the
    /// log, and stored's id through stored.
    std::size_t Write(const std::string& partner, ConversationLog& log, const LogEntry& entry,
                      history::StoredEntry& stored);
    /// The entry a stored one shows, as a live one would.
    LogEntry ShownFromHistory(const history::StoredEntry& stored) const;
    /// Brings back the next page of the history, and the ones after it from
    /// the event loop.
    void RestoreNext();
    void RestoreLater();
    /// Brings back earlier entries of partner's page; false when there are none.
    bool BringBackEarlier(const std::string& partner, ConversationLog& log);
    /// A write to the history succeeded or failed: the status line says so.
    void HistoryWritten(bool written);
    /// The entry of a translated message.
    LogEntry TranslatedEntry(const Complete& message, std::u16string_view translation) const;

    /// A status of a message this program did not see being sent: while a
    /// send may still go out late, asks who it went to and what it said.
    void AskAboutLateSend(std::int32_t id);
    void AskNextAboutSend();
    void LateAnswer(std::int32_t id, skype::TSkypeChatMsgProperty property,
                    const skype::TCommandOutcome& outcome);
    void MatchLateSend(std::int32_t id, const LateQuestion& known);
    /// A message the user sent from elsewhere (another device, the client
    /// itself): their own entry on the partner's page.
    void ShowSentElsewhere(std::int32_t id, const LateQuestion& known);

    /// Fetches missed messages, a few at a time.
    void FetchMissed();
    /// A missed message is on its page: the client may forget it.
    void MissedShown(std::int32_t id);

    void Translating(TranslationOutcome outcome);
    void ClientAnswered(const skype::TCommandOutcome& outcome);
    void SendSucceeded(std::optional<std::int32_t> id);
    void SendFailed(const std::string& why);

    ConversationLog* PageOf(const std::string& handle);
    /// Shows partner's page (made when missing), selects them in "To" and
    /// puts their draft and language in the field and "in".
    void Choose(const std::string& partner);
    Partner& PartnerOf(const std::string& handle);
    bool IsFriend(std::string_view handle) const;
    /// Lists friends and the partners with a page who are no friends; the
    /// list's first is selected unless keepChoice keeps the one selected.
    void ListContacts(bool keepChoice = true);
    /// Shows the status line when it changed.
    void PublishStatus();
    /// The translator answered, or did not (since now, unless it already
    /// had not).
    void TranslatorAnswered(bool answered);
    /// A message from handle was written on its page.
    void Arrived(const std::string& handle, std::u16string_view text);
    void RequestPiece(std::int32_t id, skype::TSkypeChatMsgProperty property);
    std::int32_t ReceiveCode() const;

    MainView& View;
    history::ConversationHistory* Store = nullptr;
    /// The history's partners whose pages are still to come back, in order.
    std::deque<std::string> ToRestore;
    bool Restoring = false;
    skype::TSkypeControl& Skype;
    TranslationService& Service;
    TMessageQueue Queue;
    /// The ids given to the translation service and not yet back.
    std::unordered_set<std::int32_t> Underway;
    /// Shown in their own words after a failed translation, oldest first.
    std::deque<Waiting> Untranslated;
    bool Retrying = false;
    /// Messages shown translated: the client announcing one again shows nothing.
    TRecentIds Shown;
    /// The send under way, and those that may still go out, oldest first.
    std::optional<OutgoingSend> Sending;
    std::deque<OutgoingSend> MaybeSent;
    /// Messages whose status was taken into account already: sends of this
    /// program's, and messages asked about.
    TRecentIds StatusesSeen{256};
    /// Messages known to be the user's own: sends the client confirmed, and
    /// late sends matched; their pieces are no incoming message's.
    TRecentIds OwnMessages{256};
    /// The message asked about (one at a time), and the ones waiting.
    std::unordered_map<std::int32_t, LateQuestion> LateQuestions;
    std::deque<std::int32_t> SendQuestions;
    /// Whether the client answers questions about its sent messages; found
    /// out anew at each attach.
    bool ClientDescribesSends = true;
    /// The missed messages: asked for once per attach, then fetched a few at
    /// a time; an id stays in Missed until its entry is written.
    bool MissedAsked = false;
    std::deque<std::int32_t> MissedToFetch;
    std::unordered_set<std::int32_t> Missed;
    std::size_t MissedFetching = 0;
    /// A page the flow creates may become the current one; that is no choice
    /// of the user's.
    bool CreatingPage = false;
    /// Set while the field is given a draft: that is no change of the user's.
    bool LoadingDraft = false;
    std::string Own;
    std::string OnShow;
    /// The status line as it is, and as last shown.
    StatusLine StatusNow;
    StatusLine StatusPublished;
    bool StatusShown = false;
    std::vector<std::string> Friends;
    /// Partners with a page, in the pages' order.
    std::vector<std::string> PageOrder;
    /// What "To" was last given besides the friends, and in which language
    /// its marks were written. The friends change only with a new listing.
    struct Listing {
        std::vector<std::string> Others;
        std::int32_t Language = -1;
        bool operator==(const Listing&) const = default;
    };
    std::optional<Listing> Listed;
    std::map<std::string, Partner, HandleLess> Known;
    /// The "in" language the user chose last, for partners not yet written to.
    std::optional<std::int32_t> UserLanguage;
};

} // namespace velantro::core
