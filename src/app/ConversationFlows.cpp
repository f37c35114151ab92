#include "app/ConversationFlows.h"

#include "app/DisplayText.h"
#include "translate/LangCodes.h"
#include "translate/Utf8Encode.h"
#include "translate/WebEncoding.h"

#include <algorithm>
#include <deque>
#include <exception>
#include <stdexcept>
#include <utility>

namespace velantro::app {

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

/// An incoming body's bytes as text.
std::u16string BodyText(std::string_view body) {
    return translate::Utf8DecodeReplacing(body);
}

std::string NotSentText(std::string_view target, std::string_view why) {
    // No contact chosen: there is no name to give.
    const std::string whom = target.empty() ? "" : " to \"" + std::string(target) + "\"";
    return "The message" + whom + " was not sent: " + std::string(why);
}

/// Counts a command of the flow as being sent while it lives.
class CommandInFlight {
public:
    explicit CommandInFlight(int& depth)
        : Depth(depth) {
        ++Depth;
    }
    ~CommandInFlight() { --Depth; }
    CommandInFlight(const CommandInFlight&) = delete;
    CommandInFlight& operator=(const CommandInFlight&) = delete;

private:
    int& Depth;
};

} // namespace

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
    for (const char16_t unit : text) {
        if (unit > u' ') {
            return true;
        }
    }
    return false;
}

std::u16string IncomingEntry(std::string_view from, std::u16string_view text, TEntryForm form) {
    std::u16string entry = HandleText(from) + u": ";
    entry += text;
    if (form == TEntryForm::NotTranslated) {
        entry += NotTranslatedMark;
    }
    return entry;
}

ConversationFlows::ConversationFlows(MainView& view, skype::TSkypeControl& skype,
                                     Translator translate, AnswerWait wait)
    : View(view)
    , Skype(skype)
    , TranslateText(std::move(translate))
    , WaitForAnswer(std::move(wait)) {}

void ConversationFlows::SkypeControlChatMsgInfo(std::int32_t ChatMsgID,
                                                skype::TSkypeChatMsgProperty ChatMsgProperty,
                                                const std::string& data) {
    if (ChatMsgProperty == skype::cmStatus) {
        // The client's answers may arrive, and be handled here, while these
        // requests are still being sent; the queue is consistent at each send.
        if (data == "RECEIVED" && !Translated.Contains(ChatMsgID)) {
            RequestPiece(ChatMsgID, skype::cmFromHandle);
            RequestPiece(ChatMsgID, skype::cmBody);
        } else if (data == "SENDING" || data == "SENT") {
            if (Awaited != nullptr && !Awaited->Answered() && CommandDepth == Awaited->Depth) {
                Awaited->Confirmed = true;
                StatusesSeen.Add(ChatMsgID);
            } else {
                CheckLateSend(ChatMsgID);
            }
        }
        return;
    }
    if (ChatMsgProperty != skype::cmBody && ChatMsgProperty != skype::cmFromHandle) {
        return;
    }
    if (ChatMsgProperty == skype::cmBody) {
        if (const auto asked = std::find(BodiesAsked.begin(), BodiesAsked.end(), ChatMsgID);
            asked != BodiesAsked.end()) {
            BodiesAsked.erase(asked);
            if (RecordLateSend(data)) {
                return;
            }
            // Any other body is a piece like every other.
        }
    }
    if (Translated.Contains(ChatMsgID) || Underway.contains(ChatMsgID)) {
        return; // shown already, or being shown: a piece again changes nothing
    }
    if (UntranslatedIds.contains(ChatMsgID)) {
        // Its body again: a chance to translate it now.
        if (ChatMsgProperty == skype::cmBody) {
            ShowReady({ChatMsgID, {}, data, true});
        }
        return;
    }
    Queue.QueueChatMsgPart(ChatMsgID, data,
                           ChatMsgProperty == skype::cmBody ? TMsgPart::Body : TMsgPart::Sender);
    TakeComplete(ChatMsgID);
}

void ConversationFlows::CheckLateSend(std::int32_t id) {
    if (MaybeSent.empty() || StatusesSeen.Contains(id)) {
        return;
    }
    StatusesSeen.Add(id);
    // As many as late sends can be told apart; an older question goes unanswered.
    constexpr std::size_t MaxBodiesAsked = 64;
    PushKeepingAtMost(BodiesAsked, id, MaxBodiesAsked);
    RequestPiece(id, skype::cmBody);
}

bool ConversationFlows::RecordLateSend(const std::string& body) {
    const auto late = std::find_if(MaybeSent.begin(), MaybeSent.end(),
                                   [&body](const LateSend& send) { return send.Body == body; });
    if (late == MaybeSent.end()) {
        return false; // sent from the client itself, or no message of the user's
    }
    const LateSend send = std::move(*late);
    MaybeSent.erase(late);
    if (ConversationLog* log = PageOf(send.Target); log != nullptr) {
        View.ShowPages();
        log->AppendLine(send.Entry);
    }
    return true;
}

void ConversationFlows::RequestPiece(std::int32_t id, skype::TSkypeChatMsgProperty property) {
    const CommandInFlight sending(CommandDepth);
    Skype.GetChatMsgProperty(id, property);
}

void ConversationFlows::TakeComplete(std::int32_t id) {
    QueueAtom* atom = Queue.Find(id);
    if (atom == nullptr || atom->FromHandle.empty() || atom->Body.empty()) {
        return; // waits for its other piece
    }
    Complete message{id, std::move(atom->FromHandle), std::move(atom->Body), false};
    Queue.Unlink(*atom);
    Underway.insert(id);
    ShowReady(std::move(message));
}

void ConversationFlows::ShowReady(Complete message) {
    ReadyToShow.push_back(std::move(message));
    if (Showing) {
        return; // shown by the call under way, after the message it shows
    }
    Showing = true;
    std::exception_ptr firstError;
    while (!ReadyToShow.empty()) {
        const Complete next = std::move(ReadyToShow.front());
        ReadyToShow.pop_front();
        try {
            Show(next);
        } catch (...) {
            if (!firstError) {
                firstError = std::current_exception();
            }
        }
        if (!next.Retry) {
            Underway.erase(next.Id);
        }
    }
    Showing = false;
    if (firstError) {
        std::rethrow_exception(firstError);
    }
}

void ConversationFlows::Show(const Complete& message) {
    if (message.Retry) {
        RetryOne(message.Id, message.Body);
        return;
    }
    if (Translated.Contains(message.Id) || UntranslatedIds.contains(message.Id)) {
        return; // shown already, when it was complete twice
    }
    // A reply being written keeps its recipient.
    if (!HasSendableText(View.MessageText())) {
        View.SelectContact(message.From);
    }
    ConversationLog* log = PageOf(message.From);
    if (log == nullptr) {
        return;
    }
    View.ShowPages();
    std::u16string translation;
    try {
        translation = Translation(message.Body);
    } catch (const std::exception& error) {
        // Shown at once in its own words; translated once the service answers.
        const std::u16string ownWords = BodyText(message.Body);
        log->AppendLine(IncomingEntry(message.From, ownWords, TEntryForm::NotTranslated));
        View.MessageShown(message.From, ownWords);
        KeepUntranslated(message);
        throw std::runtime_error("The message from " + message.From +
                                 " could not be translated: " + error.what());
    }
    Translated.Add(message.Id);
    // The service answers again: the messages that waited for it come first.
    RetryUntranslated();
    if (ConversationLog* page = PageOf(message.From); page != nullptr) {
        AppendTranslated(*page, message, translation);
    }
}

void ConversationFlows::RetryOne(std::int32_t id, const std::string& body) {
    const auto waiting = std::find_if(Untranslated.begin(), Untranslated.end(),
                                      [id](const Complete& m) { return m.Id == id; });
    if (waiting == Untranslated.end()) {
        return; // translated meanwhile
    }
    waiting->Body = body;
    const Complete message = *waiting;
    if (ShowTranslated(message)) {
        RetryUntranslated();
    }
}

void ConversationFlows::RetryUntranslated() {
    // Oldest first; the first that fails again ends the round, since each
    // failure can take the exchange's whole time limit. A success always
    // takes its message out of the list.
    while (!Untranslated.empty()) {
        const Complete message = Untranslated.front();
        if (!ShowTranslated(message)) {
            return;
        }
    }
}

bool ConversationFlows::ShowTranslated(const Complete& message) {
    std::u16string translation;
    try {
        translation = Translation(message.Body);
    } catch (const std::exception&) {
        return false; // the user was told when it first failed
    }
    // Shown once: another round, nested in the translation, may have done it.
    if (!UntranslatedIds.erase(message.Id)) {
        return true;
    }
    std::erase_if(Untranslated, [&](const Complete& m) { return m.Id == message.Id; });
    Translated.Add(message.Id);
    if (ConversationLog* log = PageOf(message.From); log != nullptr) {
        AppendTranslated(*log, message, translation);
    }
    return true;
}

void ConversationFlows::AppendTranslated(ConversationLog& log, const Complete& message,
                                         std::u16string_view translation) {
    log.AppendLine(
        IncomingEntry(message.From, translation, BodyText(message.Body), View.ShowOriginalText()));
    View.MessageShown(message.From, translation);
}

void ConversationFlows::KeepUntranslated(Complete message) {
    UntranslatedIds.insert(message.Id);
    message.Retry = false;
    Untranslated.push_back(std::move(message));
    if (Untranslated.size() > UntranslatedLimit) {
        UntranslatedIds.erase(Untranslated.front().Id);
        Untranslated.pop_front();
    }
}

ConversationLog* ConversationFlows::PageOf(const std::string& handle) {
    struct Restore {
        bool& Flag;
        bool Outer;
        ~Restore() { Flag = Outer; }
    } restore{CreatingPage, std::exchange(CreatingPage, true)};
    return View.FindOrCreatePage(handle);
}

std::u16string ConversationFlows::Translation(const std::string& body) {
    const std::int32_t code = LangCodeFromComboIndex(View.ReceiveLanguageIndex());
    return TranslateText(BodyText(body), code);
}

void ConversationFlows::SkypeControlAttachSuccess() {
    const CommandInFlight sending(CommandDepth);
    Skype.Search(skype::stFriends, "");
}

void ConversationFlows::SkypeControlSearchResult(skype::TSkypeSearchType /*SearchType*/,
                                                 const skype::TStringList& aList) {
    // A new friends list (after a re-attach, or the client's friends changed)
    // selects the first friend, except under a reply being written: that
    // keeps its recipient, or has none when the friend is no longer listed.
    const std::string chosen = View.ContactText();
    const bool writing = HasSendableText(View.MessageText());
    View.SetContacts(aList);
    if (writing && !chosen.empty()) {
        View.SelectContact(chosen);
    }
}

void ConversationFlows::SkypeControlCurrentUserHandle(const std::string& UserHandle) {
    Own = UserHandle;
    View.AppendToCaption(" - " + UserHandle);
}

void ConversationFlows::SkypeControlError(std::int32_t Code, const std::string& Description) {
    // The client answers commands in the order it takes them, so an error
    // that comes while the MESSAGE is the innermost command being sent (or
    // while its answer is awaited right after) is the MESSAGE's answer.
    if (Awaited == nullptr || Awaited->Answered() || CommandDepth != Awaited->Depth) {
        return;
    }
    Awaited->Refused = true;
    Awaited->Code = Code;
    Awaited->Description = Description;
}

void ConversationFlows::PageControl1Change(const std::string& partner) {
    if (!CreatingPage) {
        View.SelectContact(partner);
    }
}

void ConversationFlows::SendMessageChange() {
    View.EnableSend(HasSendableText(View.MessageText()));
}

void ConversationFlows::btnSendClick() {
    const std::string target = View.ContactText();
    const std::int32_t code = LangCodeFromComboIndex(View.SendLanguageIndex());
    const std::u16string text = View.MessageText();
    const std::u16string translation = TranslateText(text, code);
    // A lone surrogate half becomes U+FFFD here rather than the half's own
    // three bytes, which are not UTF-8 and which a chat client may reject.
    std::u16string message = translation;
    message += FooterFor(code);
    std::u16string entry = HandleText(Own) + u": " + text;
    if (!translation.empty()) {
        entry += u" (" + translation + u")";
    }
    SendToClient(target, translate::Utf8Encode(message), entry);
    ConversationLog* log = PageOf(target);
    if (log == nullptr) {
        return;
    }
    View.ShowPages();
    log->AppendLine(entry);
    View.ClearMessage();
    View.EnableSend(false);
}

void ConversationFlows::SendToClient(const std::string& target, const std::string& bytes,
                                     const std::u16string& entry) {
    SendAnswer answer;
    SendAnswer* const outer = std::exchange(Awaited, &answer);
    struct Restore {
        SendAnswer*& Awaited;
        SendAnswer* Outer;
        ~Restore() { Awaited = Outer; }
    } restore{Awaited, outer};

    TCommandResult result = TCommandResult::Sent;
    {
        const CommandInFlight sending(CommandDepth);
        answer.Depth = CommandDepth;
        result = Skype.SendMessageTo(target, bytes);
    }
    if (result == TCommandResult::TooLong) {
        throw std::runtime_error(TooLongText(bytes.size(), target));
    }
    if (result == TCommandResult::Dropped) {
        throw std::runtime_error(
            NotSentText(target, "Velantro is not attached to the chat client"));
    }
    // A client that took the line may answer only once the send has returned.
    if (result == TCommandResult::Sent && !answer.Answered() && WaitForAnswer) {
        answer.Depth = CommandDepth;
        WaitForAnswer([&answer] { return answer.Answered(); });
    }
    if (answer.Refused) {
        throw std::runtime_error(NotSentText(target, "the chat client refused it with error " +
                                                         std::to_string(answer.Code) + ": " +
                                                         answer.Description));
    }
    if (result == TCommandResult::NotAccepted) {
        // Neither taken nor refused: a client that was only slow still sends
        // it, and the page shows it then.
        PushKeepingAtMost(MaybeSent, LateSend{target, entry, bytes}, MaybeSentLimit);
        throw std::runtime_error(
            NotSentText(target, "the chat client did not take it, or did not answer in time"));
    }
}

} // namespace velantro::app
