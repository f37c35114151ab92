#include "app/ConversationFlows.h"

#include "translate/LangCodes.h"
#include "translate/Utf8Encode.h"
#include "translate/WebEncoding.h"

#include <exception>
#include <stdexcept>
#include <utility>

namespace velantro::app {

using skype::TCommandResult;
using translate::LangCodeFromComboIndex;

namespace {

constexpr std::int32_t BulgarianCode = 2;

/// A handle (bytes in the system's code page, UTF-8 here) as shown text. A
/// handle that is not UTF-8 keeps one character per byte rather than vanishing.
std::u16string HandleText(std::string_view handle) {
    std::u16string text = translate::Utf8Decode(handle);
    if (text.empty() && !handle.empty()) {
        text.assign(handle.begin(), handle.end());
        for (char16_t& unit : text) {
            unit = static_cast<unsigned char>(unit);
        }
    }
    return text;
}

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

} // namespace

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

ConversationFlows::ConversationFlows(MainView& view, skype::TSkypeControl& skype,
                                     Translator translate)
    : View(view)
    , Skype(skype)
    , TranslateText(std::move(translate)) {}

void ConversationFlows::SkypeControlChatMsgInfo(std::int32_t ChatMsgID,
                                                skype::TSkypeChatMsgProperty ChatMsgProperty,
                                                const std::string& data) {
    // The client's answers may arrive, and be handled here, while these
    // requests are still being sent; the queue is consistent at each send.
    if (ChatMsgProperty == skype::cmStatus && data == "RECEIVED") {
        Skype.GetChatMsgProperty(ChatMsgID, skype::cmFromHandle);
        Skype.GetChatMsgProperty(ChatMsgID, skype::cmBody);
    }
    if (ChatMsgProperty == skype::cmBody) {
        Queue.QueueChatMsgPart(ChatMsgID, data, TMsgPart::Body);
    } else if (ChatMsgProperty == skype::cmFromHandle) {
        Queue.QueueChatMsgPart(ChatMsgID, data, TMsgPart::Sender);
    } else {
        return;
    }
    ShowWhenComplete(ChatMsgID);
}

void ConversationFlows::ShowWhenComplete(std::int32_t id) {
    const QueueAtom* atom = Queue.Find(id);
    if (atom == nullptr || atom->FromHandle.empty() || atom->Body.empty()) {
        return;
    }
    ReadyToShow.push_back(id);
    if (Showing) {
        return; // shown by the call under way, after the message it shows
    }
    Showing = true;
    std::exception_ptr firstError;
    while (!ReadyToShow.empty()) {
        const std::int32_t next = ReadyToShow.front();
        ReadyToShow.pop_front();
        try {
            Show(next);
        } catch (...) {
            // The message stays queued with both pieces; the others still show.
            if (!firstError) {
                firstError = std::current_exception();
            }
        }
    }
    Showing = false;
    if (firstError) {
        std::rethrow_exception(firstError);
    }
}

void ConversationFlows::Show(std::int32_t id) {
    const QueueAtom* atom = Queue.Find(id);
    if (atom == nullptr || atom->FromHandle.empty() || atom->Body.empty()) {
        return; // shown already, when it was ready twice
    }
    const std::string from = atom->FromHandle;
    const std::string body = atom->Body;
    View.SelectContact(from);
    ConversationLog* log = View.FindOrCreatePage(from);
    if (log == nullptr) {
        return;
    }
    View.ShowPages();
    const std::int32_t code = LangCodeFromComboIndex(View.ReceiveLanguageIndex());
    // On failure the error leaves here and the atom stays, with both pieces.
    const std::u16string translation = TranslateText(translate::Utf8DecodeReplacing(body), code);
    QueueAtom* shown = Queue.Find(id);
    if (shown == nullptr) {
        return;
    }
    log->AppendLine(HandleText(from) + u": " + translation);
    Queue.Unlink(*shown);
}

void ConversationFlows::SkypeControlAttachSuccess() {
    Skype.Search(skype::stFriends, "");
}

void ConversationFlows::SkypeControlSearchResult(skype::TSkypeSearchType /*SearchType*/,
                                                 skype::TStringList aList) {
    View.SetContacts(aList);
}

void ConversationFlows::SkypeControlCurrentUserHandle(const std::string& UserHandle) {
    Own = UserHandle;
    View.AppendToCaption(" - " + UserHandle);
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
    const std::string bytes = translate::Utf8Encode(message);
    if (Skype.SendMessageTo(target, bytes) == TCommandResult::TooLong) {
        throw std::runtime_error(TooLongText(bytes.size(), target));
    }
    ConversationLog* log = View.FindOrCreatePage(target);
    if (log == nullptr) {
        return;
    }
    View.ShowPages();
    std::u16string entry = HandleText(Own) + u": " + text;
    if (!translation.empty()) {
        entry += u" (" + translation + u")";
    }
    log->AppendLine(entry);
    View.ClearMessage();
    View.EnableSend(false);
}

} // namespace velantro::app
