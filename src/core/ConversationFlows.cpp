#include "core/ConversationFlows.h"

#include "common/AsciiText.h"
#include "common/IntegerText.h"
#include "core/DisplayText.h"
#include "translate/LangCodes.h"
#include "translate/Utf8Encode.h"
#include "translate/WebEncoding.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <utility>

namespace velantro::core {

using history::StoredEntry;
using skype::TCommandOutcome;
using skype::TCommandResult;
using translate::LangCodeFromComboIndex;

namespace {

constexpr std::int32_t BulgarianCode = 2;

std::string TooLongText(std::size_t messageBytes, std::string_view target) {
    const std::size_t overhead = std::string_view("MESSAGE ").size() + target.size() + 1;
    const std::size_t room = skype::TSkypeControl::MaxCommandLength > overhead
                                 ? skype::TSkypeControl::MaxCommandLength - overhead
                                 : 0;
    return "The message is too long to send: it is " + std::to_string(messageBytes) +
           " bytes of UTF-8, and the chat client takes at most " +
           std::to_string(skype::TSkypeControl::MaxCommandLength) +
           " bytes per command, which leaves " + std::to_string(room) +
           " bytes for a message to \"" + std::string(target) + "\"";
}

/// Appends item, dropping the oldest one when more than limit are kept.
template <typename Item>
void PushKeepingAtMost(std::deque<Item>& queue, Item item, std::size_t limit) {
    queue.push_back(std::move(item));
    if (queue.size() > limit) {
        queue.pop_front();
    }
}

std::int64_t SecondsNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

/// An incoming body's bytes as text.
std::u16string BodyText(std::string_view body) {
    return translate::Utf8DecodeReplacing(body);
}

std::string NotSentText(std::string_view target, std::string_view why) {
    // No contact chosen: there is no name to give.
    const std::string whom = target.empty() ? "" : " to \"" + std::string(target) + "\"";
    return "The message" + whom + " was not sent: " + std::string(why);
}

/// The first user of the chat client's list of a message's users (blank
/// separated) that wanted takes; empty when there is none.
template <typename Wanted>
std::string_view FirstUser(std::string_view users, Wanted wanted) {
    while (!users.empty()) {
        const std::size_t blank = users.find(' ');
        const std::string_view user = users.substr(0, blank);
        if (!user.empty() && wanted(user)) {
            return user;
        }
        users = blank == std::string_view::npos ? std::string_view{} : users.substr(blank + 1);
    }
    return {};
}

/// Whether the chat client's list of a message's users names handle.
bool NamesUser(std::string_view users, std::string_view handle) {
    return !FirstUser(users, [handle](std::string_view user) {
                return common::EqualsNoCaseAscii(user, handle);
            }).empty();
}

/// What the history keeps of a send of the user's.
history::StoredEntry SentEntry(const OutgoingSend& send) {
    history::StoredEntry stored;
    stored.Way = history::Direction::Sent;
    stored.Original = translate::Utf8Encode(send.Text);
    stored.Translation = translate::Utf8Encode(send.Translation);
    stored.Translated = true;
    stored.ToLanguage = send.LanguageCode;
    stored.Result = history::Outcome::Sent;
    return stored;
}

} // namespace

bool HandleLess::operator()(std::string_view a, std::string_view b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return common::ToLowerAscii(x) < common::ToLowerAscii(y);
    });
}

std::u16string IncomingEntry(std::string_view handle, std::u16string_view translation,
                             std::u16string_view original, bool showOriginal) {
    std::u16string entry = IncomingEntry(handle, translation, TEntryForm::Translated);
    if (showOriginal && !original.empty()) {
        entry += u" (";
        entry += original;
        entry += u")";
    }
    return entry;
}

std::u16string_view FooterFor(std::int32_t languageCode) {
    return languageCode == BulgarianCode ? BulgarianFooter : EnglishFooter;
}

bool HasSendableText(std::u16string_view text) {
    return std::any_of(text.begin(), text.end(), [](char16_t unit) { return unit > u' '; });
}

std::u16string IncomingEntry(std::string_view from, std::u16string_view text, TEntryForm form) {
    std::u16string entry = HandleText(from) + u": ";
    entry += text;
    if (form == TEntryForm::NotTranslated) {
        entry += NotTranslatedMark;
    }
    return entry;
}

std::optional<std::int32_t> ChatMessageIdOf(std::string_view answerLine) {
    const std::size_t first = answerLine.find(' ');
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view rest = answerLine.substr(first + 1);
    return common::ReadInteger(rest.substr(0, rest.find(' ')));
}

std::string_view PropertyValueOf(std::string_view answerLine) {
    // The value is the rest of the line as it is, blanks and all.
    std::size_t at = 0;
    for (int word = 0; word < 3; ++word) {
        at = answerLine.find(' ', at);
        if (at == std::string_view::npos) {
            return {};
        }
        ++at;
    }
    return answerLine.substr(at);
}

ConversationFlows::ConversationFlows(MainView& view, skype::TSkypeControl& skype,
                                     TranslationService& translate)
    : View(view)
    , Skype(skype)
    , Service(translate) {}

// --- incoming messages ------------------------------------------------------

void ConversationFlows::ChatMessageReported(std::int32_t id, skype::TSkypeChatMsgProperty property,
                                            const std::string& data) {
    if (property == skype::cmStatus) {
        if (data == "RECEIVED") {
            if (!Shown.Contains(id) && !Underway.contains(id)) {
                RequestPiece(id, skype::cmFromHandle);
                RequestPiece(id, skype::cmBody);
            }
        } else if ((data == "SENDING" || data == "SENT") && !StatusesSeen.Contains(id)) {
            AskAboutLateSend(id);
        }
        return;
    }
    if (property != skype::cmBody && property != skype::cmFromHandle) {
        return;
    }
    // Answers to the questions about a late send are taken by those questions.
    if (LateQuestions.contains(id) || OwnMessages.Contains(id) || Shown.Contains(id) ||
        Underway.contains(id)) {
        return;
    }
    if (const auto waiting = std::find_if(Untranslated.begin(), Untranslated.end(),
                                          [id](const Waiting& w) { return w.Message.Id == id; });
        waiting != Untranslated.end()) {
        // Its body again: a chance to translate it now.
        if (property == skype::cmBody) {
            waiting->Message.Body = data;
            RetryWaiting();
        }
        return;
    }
    Queue.QueueChatMsgPart(id, data, property == skype::cmBody ? TMsgPart::Body : TMsgPart::Sender);
    TakeComplete(id);
}

void ConversationFlows::RequestPiece(std::int32_t id, skype::TSkypeChatMsgProperty property) {
    Skype.GetChatMsgProperty(id, property);
}

void ConversationFlows::TakeComplete(std::int32_t id) {
    QueueAtom* atom = Queue.Find(id);
    if (atom == nullptr || atom->FromHandle.empty() || atom->Body.empty()) {
        return; // waits for its other piece
    }
    Complete message{id, std::move(atom->FromHandle), std::move(atom->Body), Missed.contains(id)};
    Queue.Unlink(*atom);
    Translate(message);
}

void ConversationFlows::Translate(const Complete& message) {
    // The page comes now, so that pages open in the order messages came.
    if (PageOf(message.From) == nullptr) {
        return;
    }
    View.ShowPages();
    if (OnShow.empty()) {
        // The first page is shown; a reply already being written to someone
        // else keeps its recipient, whose page is then the one shown.
        const std::string chosen = View.ContactText();
        Choose(!chosen.empty() && HasSendableText(View.MessageText()) ? chosen : message.From);
    } else if (!IsFriend(message.From)) {
        ListContacts();
    }
    Underway.insert(message.Id);
    const std::u16string text = BodyText(message.Body);
    Service.Translate(text, ReceiveCode(), [this, message](TranslationOutcome outcome) {
        Translated(message, std::move(outcome));
    });
}

void ConversationFlows::Translated(const Complete& message, TranslationOutcome outcome) {
    Underway.erase(message.Id);
    ConversationLog* log = PageOf(message.From);
    if (log == nullptr) {
        return;
    }
    StoredEntry stored;
    stored.Way = history::Direction::Received;
    stored.Original = translate::Utf8Encode(BodyText(message.Body));
    stored.ToLanguage = ReceiveCode();
    stored.Missed = message.Missed;
    if (outcome.Text) {
        Shown.Add(message.Id);
        stored.Translation = translate::Utf8Encode(*outcome.Text);
        stored.Translated = true;
        Write(message.From, *log, TranslatedEntry(message, *outcome.Text), stored);
        Arrived(message.From, *outcome.Text);
        MissedShown(message.Id);
        TranslatorAnswered(true);
        // The service answers again: the messages that waited for it get their turn.
        RetryWaiting();
        return;
    }
    // Shown at once in its own words; translated once the service answers.
    const std::u16string ownWords = BodyText(message.Body);
    LogEntry entry{View.ClockTime(), message.From, ownWords + std::u16string(NotTranslatedMark)};
    if (message.Missed) {
        entry.Text += MissedMark;
    }
    const std::size_t number = Write(message.From, *log, entry, stored);
    Arrived(message.From, ownWords);
    MissedShown(message.Id);
    KeepUntranslated(message, log, number, entry.Time, std::move(stored));
    // Marked on its entry and counted on the status line: a box for each
    // would stand between the user and the conversation.
    TranslatorAnswered(false);
}

LogEntry ConversationFlows::TranslatedEntry(const Complete& message,
                                            std::u16string_view translation) const {
    std::u16string text(translation);
    const std::u16string original = BodyText(message.Body);
    if (View.ShowOriginalText() && !original.empty()) {
        text += u" (" + original + u")";
    }
    if (message.Missed) {
        text += MissedMark;
    }
    return {View.ClockTime(), message.From, std::move(text)};
}

void ConversationFlows::KeepUntranslated(Complete message, ConversationLog* log, std::size_t entry,
                                         std::u16string time, StoredEntry stored) {
    // Beyond the limit the oldest stays shown in its own words for good.
    PushKeepingAtMost(Untranslated,
                      Waiting{std::move(message), log, entry, std::move(time), std::move(stored)},
                      UntranslatedLimit);
}

void ConversationFlows::RetryWaiting() {
    if (Retrying || Untranslated.empty()) {
        return;
    }
    Retrying = true;
    RetryNext(RetriesPerRound);
}

void ConversationFlows::RetryNext(std::size_t leftInRound) {
    if (Untranslated.empty()) {
        Retrying = false;
        return;
    }
    if (leftInRound == 0) {
        // A new round, behind whatever came meanwhile.
        Retrying = false;
        RetryWaiting();
        return;
    }
    // Oldest first, one at a time: messages arriving meanwhile are
    // translated in between, and a failure ends the round at once.
    const Complete& next = Untranslated.front().Message;
    Service.Translate(BodyText(next.Body), ReceiveCode(),
                      [this, id = next.Id, leftInRound](TranslationOutcome outcome) {
                          Retried(id, std::move(outcome), leftInRound);
                      });
}

void ConversationFlows::Retried(std::int32_t id, TranslationOutcome outcome,
                                std::size_t leftInRound) {
    if (!outcome.Text) {
        Retrying = false;
        TranslatorAnswered(false);
        return;
    }
    const auto waiting = std::find_if(Untranslated.begin(), Untranslated.end(),
                                      [id](const Waiting& w) { return w.Message.Id == id; });
    if (waiting != Untranslated.end()) {
        // In its place on the page: the message keeps its turn in the conversation.
        // The time it came stays: the message keeps its turn in the conversation.
        LogEntry entry = TranslatedEntry(waiting->Message, *outcome.Text);
        entry.Time = waiting->Time;
        waiting->Log->ReplaceEntry(waiting->Entry, entry);
        if (Store != nullptr && waiting->Stored.Id != 0) {
            waiting->Stored.Translation = translate::Utf8Encode(*outcome.Text);
            waiting->Stored.Translated = true;
            HistoryWritten(Store->Replace(waiting->Stored.Id, waiting->Stored));
        }
        Shown.Add(id);
        Untranslated.erase(waiting);
    }
    TranslatorAnswered(true);
    RetryNext(leftInRound - 1);
}

// --- sends the client may still make late -----------------------------------

void ConversationFlows::AskAboutLateSend(std::int32_t id) {
    // Also with no send of this program's waiting: the user may have written
    // from another device, and that is their own entry on the page. But a
    // client that does not describe its sent messages is asked about them
    // no more, and the questions go one at a time, a bounded number
    // waiting: a flood of statuses holds up no other command for long.
    if (OwnMessages.Contains(id) || (MaybeSent.empty() && !ClientDescribesSends) ||
        SendQuestions.size() >= LateQuestionsLimit) {
        return;
    }
    StatusesSeen.Add(id);
    SendQuestions.push_back(id);
    AskNextAboutSend();
}

void ConversationFlows::AskNextAboutSend() {
    if (MaybeSent.empty() && !ClientDescribesSends) {
        SendQuestions.clear();
    }
    if (!LateQuestions.empty() || SendQuestions.empty()) {
        return;
    }
    const std::int32_t id = SendQuestions.front();
    SendQuestions.pop_front();
    LateQuestions[id] = {};
    // To whom and what: a send is known by both, never by its text alone.
    for (const auto property : {skype::cmUsers, skype::cmBody}) {
        Skype.GetChatMsgProperty(id, property, [this, id, property](const TCommandOutcome& o) {
            LateAnswer(id, property, o);
        });
    }
}

void ConversationFlows::LateAnswer(std::int32_t id, skype::TSkypeChatMsgProperty property,
                                   const TCommandOutcome& outcome) {
    const auto question = LateQuestions.find(id);
    if (question == LateQuestions.end()) {
        return;
    }
    // An answer that did not come counts as one that matches nothing.
    std::string value;
    if (outcome.Result == TCommandResult::Answered) {
        value = PropertyValueOf(outcome.AnswerLine);
    } else if (outcome.Result != TCommandResult::Refused) {
        ClientDescribesSends = false; // it took no question, or left it unanswered
    }
    (property == skype::cmUsers ? question->second.Partner : question->second.Body) = value;
    if (!question->second.Partner || !question->second.Body) {
        return;
    }
    const LateQuestion known = std::move(question->second);
    LateQuestions.erase(question);
    MatchLateSend(id, known);
    AskNextAboutSend();
}

void ConversationFlows::MatchLateSend(std::int32_t id, const LateQuestion& known) {
    std::vector<std::deque<OutgoingSend>::iterator> candidates;
    for (auto send = MaybeSent.begin(); send != MaybeSent.end(); ++send) {
        if (send->Body == *known.Body && NamesUser(*known.Partner, send->Target)) {
            candidates.push_back(send);
        }
    }
    if (candidates.empty()) {
        ShowSentElsewhere(id, known);
        return;
    }
    OwnMessages.Add(id);
    if (candidates.size() > 1) {
        const std::string target = candidates.front()->Target;
        MaybeSent.erase(candidates.front());
        View.ShowError("The chat client has sent to \"" + target +
                       "\" late a message that did not go out in time, but " +
                       std::to_string(candidates.size()) +
                       " such messages had the same text, so it is written on no page");
        return;
    }
    const OutgoingSend send = std::move(*candidates.front());
    MaybeSent.erase(candidates.front());
    if (ConversationLog* log = PageOf(send.Target); log != nullptr) {
        View.ShowPages();
        LogEntry entry = send.Entry;
        entry.Time = View.ClockTime();
        StoredEntry stored = SentEntry(send);
        stored.Result = history::Outcome::SentLate;
        Write(send.Target, *log, entry, stored);
    }
}

void ConversationFlows::ShowSentElsewhere(std::int32_t id, const LateQuestion& known) {
    // The partner is the first user who is not the user; a message the
    // client could not describe is written nowhere.
    const std::string partner(FirstUser(*known.Partner, [this](std::string_view user) {
        return !common::EqualsNoCaseAscii(user, Own);
    }));
    if (partner.empty() || known.Body->empty()) {
        return;
    }
    OwnMessages.Add(id);
    if (ConversationLog* log = PageOf(partner); log != nullptr) {
        View.ShowPages();
        StoredEntry stored;
        stored.Way = history::Direction::Sent;
        stored.Original = translate::Utf8Encode(BodyText(*known.Body));
        stored.Result = history::Outcome::Sent;
        Write(partner, *log, {View.ClockTime(), Own, BodyText(*known.Body)}, stored);
    }
}

// --- messages that came while no program was attached -------------------------

void ConversationFlows::MissedReported(const skype::TStringList& ids) {
    // Only the answer to this attach's question: a list nobody asked for
    // names no missed messages.
    if (!std::exchange(MissedAsked, false)) {
        return;
    }
    for (const std::string& item : ids) {
        const auto id = common::ReadInteger(item);
        if (!id || Missed.contains(*id) || Shown.Contains(*id) || Underway.contains(*id)) {
            continue;
        }
        if (Missed.size() + MissedToFetch.size() >= MissedLimit) {
            break;
        }
        MissedToFetch.push_back(*id);
    }
    FetchMissed();
}

void ConversationFlows::FetchMissed() {
    while (MissedFetching < MissedAtOnce && !MissedToFetch.empty()) {
        const std::int32_t id = MissedToFetch.front();
        MissedToFetch.pop_front();
        Missed.insert(id);
        ++MissedFetching;
        Skype.GetChatMsgProperty(id, skype::cmFromHandle);
        // The body is asked last: when it is answered, the message is complete
        // or the client does not know it.
        Skype.GetChatMsgProperty(id, skype::cmBody, [this, id](const TCommandOutcome& outcome) {
            --MissedFetching;
            if (outcome.Result != TCommandResult::Answered) {
                Missed.erase(id);
                if (QueueAtom* atom = Queue.Find(id); atom != nullptr) {
                    Queue.Unlink(*atom);
                }
            }
            FetchMissed();
        });
    }
}

void ConversationFlows::MissedShown(std::int32_t id) {
    if (Missed.erase(id) > 0) {
        Skype.SetChatMsgSeen(id);
    }
}

// --- the user's messages ----------------------------------------------------

void ConversationFlows::MessageChanged() {
    const std::u16string text = View.MessageText();
    if (!LoadingDraft) {
        PartnerOf(View.ContactText()).Draft = text;
    }
    View.EnableSend(!Sending && HasSendableText(text));
}

void ConversationFlows::SendTyped() {
    const std::u16string text = View.MessageText();
    if (Sending || !HasSendableText(text)) {
        return;
    }
    OutgoingSend send;
    send.Target = View.ContactText();
    send.LanguageIndex = View.SendLanguageIndex();
    send.LanguageCode = LangCodeFromComboIndex(send.LanguageIndex);
    send.Text = text;
    Sending = std::move(send);
    View.SetSendPending(true);
    Service.Translate(text, Sending->LanguageCode,
                      [this](TranslationOutcome outcome) { Translating(std::move(outcome)); });
}

void ConversationFlows::Translating(TranslationOutcome outcome) {
    if (!Sending) {
        return;
    }
    if (!outcome.Text) {
        TranslatorAnswered(false);
        SendFailed("Not sent: the translation service at " + StatusNow.Route.HostPort +
                   " is not answering (" + outcome.Error + "). Your text is kept.");
        return;
    }
    TranslatorAnswered(true);
    const std::u16string& translation = *outcome.Text;
    // A lone surrogate half becomes U+FFFD here rather than the half's own
    // three bytes, which are not UTF-8 and which a chat client may reject.
    std::u16string message = translation;
    message += FooterFor(Sending->LanguageCode);
    Sending->Body = translate::Utf8Encode(message);
    Sending->Entry = {{}, Own, Sending->Text};
    Sending->Translation = translation;
    if (!translation.empty()) {
        Sending->Entry.Text += u" (" + translation + u")";
    }
    // Checked here, so that the box can say how much room there is.
    const std::size_t line =
        std::string_view("MESSAGE ").size() + Sending->Target.size() + 1 + Sending->Body.size();
    if (line > skype::TSkypeControl::MaxCommandLength) {
        SendFailed(TooLongText(Sending->Body.size(), Sending->Target));
        return;
    }
    Sending->Now = OutgoingSend::State::WithClient;
    Skype.SendMessageTo(Sending->Target, Sending->Body,
                        [this](const TCommandOutcome& answer) { ClientAnswered(answer); });
}

void ConversationFlows::ClientAnswered(const TCommandOutcome& outcome) {
    if (!Sending) {
        return;
    }
    const std::string target = Sending->Target;
    switch (outcome.Result) {
    case TCommandResult::Answered:
        SendSucceeded(ChatMessageIdOf(outcome.AnswerLine));
        return;
    case TCommandResult::Unanswered:
        // The client took the line and said nothing against it.
        SendSucceeded(std::nullopt);
        return;
    case TCommandResult::Refused:
        SendFailed(NotSentText(target, "the chat client refused it with error " +
                                           std::to_string(outcome.ErrorCode) + ": " +
                                           outcome.ErrorDescription));
        return;
    case TCommandResult::NotAccepted: {
        // Neither taken nor refused: a client that was only slow still sends
        // it, and the page shows it then.
        OutgoingSend late = *Sending;
        late.Now = OutgoingSend::State::Unanswered;
        PushKeepingAtMost(MaybeSent, std::move(late), MaybeSentLimit);
        SendFailed(
            NotSentText(target, "the chat client did not take it, or did not answer in time"));
        return;
    }
    case TCommandResult::TooLong:
        SendFailed(TooLongText(Sending->Body.size(), target));
        return;
    case TCommandResult::Dropped:
    case TCommandResult::NotSupported:
        ClientWaiting();
        SendFailed(NotSentText(target, "Velantro is not attached to the chat client"));
        return;
    }
}

void ConversationFlows::SendSucceeded(std::optional<std::int32_t> id) {
    if (id) {
        // Its statuses are this send's, not a late one's.
        OwnMessages.Add(*id);
        StatusesSeen.Add(*id);
    }
    Sending->Now = OutgoingSend::State::Sent;
    if (ConversationLog* log = PageOf(Sending->Target); log != nullptr) {
        View.ShowPages();
        Sending->Entry.Time = View.ClockTime();
        StoredEntry stored = SentEntry(*Sending);
        Write(Sending->Target, *log, Sending->Entry, stored);
    }
    Partner& partner = PartnerOf(Sending->Target);
    partner.Draft.clear();
    partner.Language = Sending->LanguageIndex;
    // The field holds the draft of whoever is chosen now, maybe not the send's.
    if (common::EqualsNoCaseAscii(Sending->Target, View.ContactText())) {
        View.ClearMessage();
    }
    const std::string target = std::move(Sending->Target);
    Sending.reset();
    // A send with no page shown yet makes its partner's page the shown one.
    if (OnShow.empty() && !target.empty()) {
        Choose(target);
    }
    View.SetSendPending(false);
}

void ConversationFlows::SendFailed(const std::string& why) {
    Sending->Now = OutgoingSend::State::Refused;
    Sending.reset();
    View.SetSendPending(false);
    View.ShowError(why);
}

// --- contacts and own identity ------------------------------------------------

void ConversationFlows::Attached() {
    StatusNow.ChatClient = StatusLine::Client::Attached;
    PublishStatus();
    ClientDescribesSends = true;
    Skype.Search(skype::stFriends, "");
    // Once per attach: what came while no program was attached.
    if (Skype.SupportsSearch(skype::stMissedChatMsgs)) {
        MissedAsked = true;
        Skype.Search(skype::stMissedChatMsgs, "", [this](const TCommandOutcome& outcome) {
            // An answer's event comes after this; without one, no list is taken.
            if (outcome.Result != TCommandResult::Answered) {
                MissedAsked = false;
            }
        });
    }
}

void ConversationFlows::SearchReported(skype::TSkypeSearchType type,
                                       const skype::TStringList& items) {
    // The reply's own word tells the lists apart: chat messages are no friends.
    switch (type) {
    case skype::stUsers:
    case skype::stFriends:
        FriendsReported(items);
        return;
    case skype::stChatMsgs:
        MissedReported(items);
        return;
    default:
        return;
    }
}

void ConversationFlows::ClientUnavailable() {
    StatusNow.ChatClient = StatusLine::Client::NotAvailable;
    PublishStatus();
}

void ConversationFlows::ClientWaiting() {
    StatusNow.ChatClient = StatusLine::Client::Waiting;
    PublishStatus();
}

void ConversationFlows::RefreshStatus() {
    PublishStatus();
}

void ConversationFlows::TranslatorAnswered(bool answered) {
    if (!answered && StatusNow.Answering) {
        StatusNow.Since = View.ClockTime();
    }
    StatusNow.Answering = answered;
    if (answered) {
        StatusNow.Since.clear();
    }
    PublishStatus();
}

void ConversationFlows::PublishStatus() {
    StatusNow.Route = View.CurrentRoute();
    StatusNow.Waiting = Untranslated.size();
    if (!StatusShown || StatusNow != StatusPublished) {
        StatusShown = true;
        StatusPublished = StatusNow;
        View.ShowStatus(StatusNow);
    }
}

void ConversationFlows::FriendsReported(const skype::TStringList& handles) {
    // A new friends list (after a re-attach, or the client's friends changed)
    // keeps the partner chosen: the shown page's, or with no page the one
    // "To" names while still a friend.
    const std::string chosen = OnShow.empty() ? View.ContactText() : OnShow;
    const std::u16string typed = View.MessageText();
    Friends = handles;
    ListContacts(false);
    if (!OnShow.empty() || (!chosen.empty() && IsFriend(chosen))) {
        View.SelectContact(chosen);
        return;
    }
    // Another partner now: the field shows their draft; text typed with no
    // partner at all becomes the first one's.
    Partner& first = PartnerOf(View.ContactText());
    if (chosen.empty() && first.Draft.empty()) {
        first.Draft = typed;
    }
    LoadingDraft = true;
    View.SetMessageText(first.Draft);
    LoadingDraft = false;
    MessageChanged();
}

void ConversationFlows::OwnHandleReported(const std::string& handle) {
    Own = handle;
    StatusNow.Own = handle;
    PublishStatus();
    View.ShowOwnHandle(handle);
}

void ConversationFlows::PageChosen(const std::string& partner) {
    // A page the flow makes may become the current one; that is no choice
    // of the user's.
    if (!CreatingPage && partner != OnShow) {
        Choose(partner);
    }
}

void ConversationFlows::ContactChosen(const std::string& partner) {
    if (!partner.empty() && partner != OnShow) {
        Choose(partner);
    }
}

void ConversationFlows::LanguageChosen(std::int32_t index) {
    UserLanguage = index;
    const std::string partner = View.ContactText();
    if (!partner.empty()) {
        PartnerOf(partner).Language = index;
    }
}

void ConversationFlows::WindowActivated() {
    if (!OnShow.empty()) {
        PartnerOf(OnShow).Unread = 0;
        View.SetUnread(OnShow, 0);
    }
}

std::string ConversationFlows::NextUnread() const {
    const auto shown = std::find(PageOrder.begin(), PageOrder.end(), OnShow);
    const std::size_t start = shown == PageOrder.end() ? 0 : shown - PageOrder.begin() + 1;
    for (std::size_t step = 0; step < PageOrder.size(); ++step) {
        const std::string& partner = PageOrder[(start + step) % PageOrder.size()];
        if (const auto found = Known.find(partner);
            found != Known.end() && found->second.Unread > 0) {
            return partner;
        }
    }
    return {};
}

void ConversationFlows::Choose(const std::string& partner) {
    if (!UserLanguage) {
        UserLanguage = View.SendLanguageIndex();
    }
    if (PageOf(partner) == nullptr) {
        return;
    }
    OnShow = partner;
    View.ShowPages();
    View.ShowPage(partner);
    if (!IsFriend(partner)) {
        ListContacts();
    }
    View.SelectContact(partner);
    Partner& chosen = PartnerOf(partner);
    chosen.Unread = 0;
    View.SetUnread(partner, 0);
    LoadingDraft = true;
    View.SetMessageText(chosen.Draft);
    LoadingDraft = false;
    View.SelectSendLanguage(chosen.Language.value_or(*UserLanguage));
    MessageChanged();
}

void ConversationFlows::Arrived(const std::string& handle, std::u16string_view text) {
    if (handle != OnShow || !View.WindowActive()) {
        Partner& partner = PartnerOf(handle);
        ++partner.Unread;
        View.SetUnread(handle, partner.Unread);
    }
    View.MessageShown(handle, text);
}

Partner& ConversationFlows::PartnerOf(const std::string& handle) {
    const auto [found, added] = Known.try_emplace(handle);
    if (added && !handle.empty()) {
        found->second.Draft = View.RememberedDraft(handle);
        found->second.Language = View.RememberedLanguage(handle);
    }
    return found->second;
}

bool ConversationFlows::IsFriend(std::string_view handle) const {
    return std::any_of(Friends.begin(), Friends.end(), [handle](const std::string& f) {
        return common::EqualsNoCaseAscii(f, handle);
    });
}

void ConversationFlows::ListContacts(bool keepChoice) {
    Listing listing{{}, View.ReceiveLanguageIndex()};
    for (const std::string& partner : PageOrder) {
        if (!IsFriend(partner)) {
            listing.Others.push_back(partner);
        }
    }
    const std::string chosen = View.ContactText();
    // "To" shows this list already, and its choice stays: a roster of
    // thousands listed anew for every message of a partner who is no
    // friend stalled the window each time.
    if (keepChoice && !chosen.empty() && Listed == listing) {
        return;
    }
    View.SetContacts(Friends, listing.Others);
    Listed = std::move(listing);
    if (keepChoice && !chosen.empty()) {
        View.SelectContact(chosen);
    }
}

ConversationLog* ConversationFlows::PageOf(const std::string& handle) {
    // A new page comes after the ones still to be brought back.
    if (!ToRestore.empty() && !PartnerOf(handle).HasPage && !Restoring) {
        Restoring = true;
        while (!ToRestore.empty()) {
            RestoreNext();
        }
        Restoring = false;
    }
    struct Restore {
        bool& Flag;
        bool Outer;
        ~Restore() { Flag = Outer; }
    } restore{CreatingPage, std::exchange(CreatingPage, true)};
    ConversationLog* log = View.FindOrCreatePage(handle);
    Partner& partner = PartnerOf(handle);
    if (log != nullptr && !partner.HasPage) {
        partner.HasPage = true;
        PageOrder.push_back(handle);
    }
    return log;
}

// --- the history ---------------------------------------------------------------

void ConversationFlows::UseHistory(history::ConversationHistory* store) {
    Store = store;
    if (Store == nullptr) {
        return;
    }
    // The first page comes back now, to be shown; the others one at a time
    // from the event loop, in their order, so that the window is not held up
    // by a long history.
    const std::vector<std::string> conversations = Store->Conversations();
    ToRestore.assign(conversations.begin(), conversations.end());
    while (!ToRestore.empty() && PageOrder.empty()) {
        RestoreNext();
    }
    if (OnShow.empty() && !PageOrder.empty()) {
        Choose(PageOrder.front());
    }
    RestoreLater();
}

void ConversationFlows::RestoreLater() {
    if (!ToRestore.empty()) {
        View.RunLater([this] {
            RestoreNext();
            RestoreLater();
        });
    }
}

void ConversationFlows::RestoreNext() {
    if (ToRestore.empty() || Store == nullptr) {
        return;
    }
    const std::string partner = std::move(ToRestore.front());
    ToRestore.pop_front();
    const auto slice = Store->Recent(partner, RestoredEntries);
    const bool outer = std::exchange(Restoring, true);
    ConversationLog* log = slice.Entries.empty() ? nullptr : PageOf(partner);
    Restoring = outer;
    if (log == nullptr) {
        return;
    }
    std::vector<LogEntry> entries;
    entries.reserve(slice.Entries.size());
    std::deque<std::int64_t> ids;
    for (const StoredEntry& stored : slice.Entries) {
        entries.push_back(ShownFromHistory(stored));
        ids.push_back(stored.Id);
    }
    // Entries written meanwhile (a message that came first) stay below.
    std::deque<std::int64_t>& kept = PartnerOf(partner).StoredIds;
    kept.insert(kept.begin(), ids.begin(), ids.end());
    log->PrependEntries(entries, slice.MoreBefore);
}

void ConversationFlows::HistoryUnavailable(StatusLine::History why, std::string problem) {
    Store = nullptr;
    StatusNow.Kept = why;
    StatusNow.HistoryProblem = std::move(problem);
    PublishStatus();
}

std::size_t ConversationFlows::Write(const std::string& partner, ConversationLog& log,
                                     const LogEntry& entry, StoredEntry& stored) {
    const std::size_t number = log.AppendEntry(entry);
    std::int64_t id = 0;
    if (Store != nullptr) {
        stored.Time = SecondsNow();
        stored.Partner = partner;
        stored.Sender = entry.Sender;
        const auto added = Store->Append(stored);
        HistoryWritten(added.has_value());
        id = added.value_or(0);
    }
    stored.Id = id;
    PartnerOf(partner).StoredIds.push_back(id);
    return number;
}

void ConversationFlows::HistoryWritten(bool written) {
    if (written == (StatusNow.Kept == StatusLine::History::Kept)) {
        return;
    }
    StatusNow.Kept = written ? StatusLine::History::Kept : StatusLine::History::NotWritten;
    StatusNow.HistoryProblem = written ? std::string() : Store->LastError();
    PublishStatus();
}

LogEntry ConversationFlows::ShownFromHistory(const StoredEntry& stored) const {
    const std::u16string original = BodyText(stored.Original);
    std::u16string text;
    if (stored.Way == history::Direction::Sent) {
        // As the send was written: the typed text, then its translation.
        text = original;
        if (!stored.Translation.empty()) {
            text += u" (" + BodyText(stored.Translation) + u")";
        }
    } else if (stored.Translated) {
        text = BodyText(stored.Translation);
        if (View.ShowOriginalText() && !original.empty()) {
            text += u" (" + original + u")";
        }
    } else {
        text = original + std::u16string(NotTranslatedMark);
    }
    if (stored.Missed) {
        text += MissedMark;
    }
    // Entries of older files name no sender.
    std::string sender = stored.Sender;
    if (sender.empty()) {
        sender = stored.Way == history::Direction::Sent ? Own : stored.Partner;
    }
    return {View.EntryTime(stored.Time), std::move(sender), std::move(text)};
}

std::vector<StoredEntry> ConversationFlows::FindInHistory(std::u16string_view text) const {
    if (Store == nullptr || OnShow.empty()) {
        return {};
    }
    return Store->Search(OnShow, translate::Utf8Encode(text), SearchResults);
}

bool ConversationFlows::BringBackEarlier(const std::string& partner, ConversationLog& log) {
    Partner& kept = PartnerOf(partner);
    // Entries written in this run that the history could not keep have no id.
    const auto oldest = std::find_if(kept.StoredIds.begin(), kept.StoredIds.end(),
                                     [](std::int64_t id) { return id != 0; });
    const std::int64_t before =
        oldest == kept.StoredIds.end() ? std::numeric_limits<std::int64_t>::max() : *oldest;
    const auto slice = Store->Before(partner, before, EarlierAtATime);
    if (slice.Entries.empty()) {
        return false;
    }
    std::vector<LogEntry> entries;
    entries.reserve(slice.Entries.size());
    for (const StoredEntry& stored : slice.Entries) {
        entries.push_back(ShownFromHistory(stored));
    }
    for (auto stored = slice.Entries.rbegin(); stored != slice.Entries.rend(); ++stored) {
        kept.StoredIds.push_front(stored->Id);
    }
    log.PrependEntries(entries, slice.MoreBefore);
    return true;
}

bool ConversationFlows::RevealFound(std::int64_t id, std::u16string_view found) {
    if (Store == nullptr || OnShow.empty() || id == 0) {
        return false;
    }
    ConversationLog* log = PageOf(OnShow);
    if (log == nullptr) {
        return false;
    }
    const std::deque<std::int64_t>& ids = PartnerOf(OnShow).StoredIds;
    auto at = std::find(ids.begin(), ids.end(), id);
    while (at == ids.end()) {
        if (!BringBackEarlier(OnShow, *log)) {
            return false;
        }
        at = std::find(ids.begin(), ids.end(), id);
    }
    log->RevealEntry(static_cast<std::size_t>(at - ids.begin()), found);
    return true;
}

bool ConversationFlows::DeleteHistory(const std::string& partner) {
    if (Store != nullptr && !Store->DeleteConversation(partner)) {
        View.ShowError("The history of the conversation with \"" + partner +
                       "\" could not be deleted: " + Store->LastError());
        return false;
    }
    ConversationLog* log = PageOf(partner);
    if (log == nullptr) {
        return true;
    }
    // Messages shown in their own words there are not written back later.
    std::erase_if(Untranslated, [log](const Waiting& w) { return w.Log == log; });
    PartnerOf(partner).StoredIds.clear();
    log->Clear();
    PublishStatus();
    return true;
}

std::int32_t ConversationFlows::ReceiveCode() const {
    return LangCodeFromComboIndex(View.ReceiveLanguageIndex());
}

} // namespace velantro::core
