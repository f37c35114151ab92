#include "ChatClient.h"

#include "common/AsciiText.h"
#include "common/IntegerText.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <limits>
#include <utility>

namespace velantro::standins {

namespace {

/// Cuts the text up to the first blank off rest, and that blank.
std::string_view CutWord(std::string_view& rest) {
    const auto blank = rest.find(' ');
    const std::string_view word = rest.substr(0, blank);
    rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
    return word;
}

bool ValidHandle(std::string_view handle) {
    return !handle.empty() && std::none_of(handle.begin(), handle.end(), [](char c) {
        return static_cast<unsigned char>(c) <= ' ';
    });
}

Answer Lines(std::vector<std::string> lines) {
    Answer answer;
    answer.Lines = std::move(lines);
    return answer;
}

Answer Error(std::string_view line) {
    return Lines({std::string(line)});
}

} // namespace

std::int64_t SecondsNow() {
    return static_cast<std::int64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                         std::chrono::system_clock::now().time_since_epoch())
                                         .count());
}

std::int64_t MillisecondsNow() {
    return static_cast<std::int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::system_clock::now().time_since_epoch())
                                         .count());
}

std::int32_t FirstMessageId(std::int64_t millisecondsNow) {
    constexpr std::int64_t Round = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(((millisecondsNow % Round) + Round) % Round) + 1;
}

namespace {

/// A word and the items after it, separated by ", " ("USERS a, b").
std::string ListLine(std::string_view word, const std::vector<std::string>& items) {
    std::string line(word);
    for (std::size_t i = 0; i < items.size(); ++i) {
        line += i == 0 ? " " : ", ";
        line += items[i];
    }
    return line;
}

std::string UsersLine(const std::vector<std::string>& handles) {
    return ListLine("USERS", handles);
}

std::string StatusLine(std::int32_t id, std::string_view status) {
    return "CHATMESSAGE " + std::to_string(id) + " STATUS " + std::string(status);
}

} // namespace

ChatClient::ChatClient(Options options)
    : OwnBackend(std::make_unique<ScriptBackend>(std::move(options))) {
    Backend = OwnBackend.get();
}

ChatClient::ChatClient(ChatBackend& backend)
    : Backend(&backend) {}

std::string ChatClient::FriendsLine() const {
    return UsersLine(Backend->Friends());
}

Answer ChatClient::Command(std::string_view line) {
    std::string_view rest = line;
    const std::string word = common::UpperAscii(CutWord(rest));
    if (word == "NAME") {
        return Lines({"OK"});
    }
    if (word == "PROTOCOL") {
        return Protocol(rest);
    }
    if (word == "PING") {
        return Lines({"PONG"});
    }
    if (word == "SEARCH") {
        return Search(rest);
    }
    if (word == "GET") {
        return Get(rest);
    }
    if (word == "MESSAGE") {
        return Message(rest);
    }
    if (word == "SET") {
        return Set(rest);
    }
    return Error(errors::UnknownCommand);
}

ChatClient::Notice ChatClient::Receive(const IncomingMessage& message) {
    ChatMessage stored{message.From, message.From, message.Body, "RECEIVED",
                       message.Timestamp != 0 ? message.Timestamp : Now()};
    stored.Tag = message.Tag;
    stored.Missed = true;
    const std::int32_t id = Store(std::move(stored));
    return {id, StatusLine(id, "RECEIVED")};
}

ChatClient::Notice ChatClient::RecordOwn(const OwnMessage& message) {
    const std::int32_t id = Store({Backend->UserHandle(), message.To, message.Body, "SENT",
                                   message.Timestamp != 0 ? message.Timestamp : Now()});
    return {id, StatusLine(id, "SENT")};
}

void ChatClient::Taken(std::int32_t id) {
    const auto found = Messages.find(id);
    if (found != Messages.end() && found->second.Missed) {
        Settle(id, found->second);
        Trim();
    }
}

Answer ChatClient::Protocol(std::string_view rest) {
    const auto asked = common::ReadDecimal(rest);
    if (!asked) {
        return Error(errors::InvalidProtocol);
    }
    // The client speaks protocols 1 to 4 and offers the highest one it shares.
    const std::int32_t offered = std::clamp(*asked, 1, 4);
    Answer answer = Lines(
        {"PROTOCOL " + std::to_string(offered), "CURRENTUSERHANDLE " + Backend->UserHandle()});
    answer.HandshakeDone = true;
    return answer;
}

Answer ChatClient::Search(std::string_view rest) {
    const std::string type = common::UpperAscii(CutWord(rest));
    if (type == "FRIENDS") {
        return Lines({FriendsLine()});
    }
    if (type == "MISSEDCHATMESSAGES") {
        std::vector<std::string> ids;
        ids.reserve(Missed.size());
        for (const auto& [arrival, id] : Missed) {
            ids.push_back(std::to_string(id));
        }
        return Lines({ListLine("CHATMESSAGES", ids)});
    }
    if (type == "USERS") {
        // The friends whose handle contains the target, ignoring ASCII case.
        const std::string target = common::UpperAscii(rest);
        std::vector<std::string> found;
        for (const std::string& handle : Backend->Friends()) {
            if (common::UpperAscii(handle).find(target) != std::string::npos) {
                found.push_back(handle);
            }
        }
        return Lines({UsersLine(found)});
    }
    return Error(errors::SearchNotSupported);
}

Answer ChatClient::Get(std::string_view rest) {
    const std::string what = common::UpperAscii(CutWord(rest));
    if (what == "CHATMESSAGE") {
        return GetChatMessage(rest);
    }
    if (what == "CURRENTUSERHANDLE") {
        return Lines({"CURRENTUSERHANDLE " + Backend->UserHandle()});
    }
    return Error(errors::UnknownCommand);
}

Answer ChatClient::GetChatMessage(std::string_view rest) {
    const std::string_view idText = CutWord(rest);
    const std::string property = common::UpperAscii(CutWord(rest));
    const auto id = common::ReadDecimal(idText);
    const auto found = id ? Messages.find(*id) : Messages.end();
    if (found == Messages.end()) {
        return Error(errors::InvalidMessageId);
    }
    const ChatMessage& message = found->second;
    std::string value;
    if (property == "CHATNAME") {
        value = Backend->UserHandle() + "/" + message.Partner;
    } else if (property == "TIMESTAMP") {
        value = std::to_string(message.Timestamp);
    } else if (property == "FROM_HANDLE" || property == "FROM_DISPNAME") {
        value = message.From;
    } else if (property == "TYPE") {
        value = "SAID";
    } else if (property == "USERS") {
        value = message.Partner;
    } else if (property == "LEAVEREASON") {
        value = "";
    } else if (property == "BODY") {
        value = message.Body;
    } else if (property == "STATUS") {
        value = message.Status;
    } else {
        return Error(errors::UnknownProperty);
    }
    return Lines({"CHATMESSAGE " + std::to_string(*id) + " " + property + " " + value});
}

Answer ChatClient::Set(std::string_view rest) {
    const std::string what = common::UpperAscii(CutWord(rest));
    const std::string_view idText = CutWord(rest);
    const std::string property = common::UpperAscii(CutWord(rest));
    if (what != "CHATMESSAGE" || property != "SEEN") {
        return Error(errors::UnknownCommand);
    }
    const auto id = common::ReadDecimal(idText);
    const auto found = id ? Messages.find(*id) : Messages.end();
    if (found == Messages.end()) {
        return Error(errors::InvalidMessageId);
    }
    ChatMessage& message = found->second;
    // Only a received message is read; the user's own stay sent.
    if (message.Status == "RECEIVED") {
        message.Status = "READ";
    }
    Answer answer = Lines({StatusLine(*id, message.Status)});
    Settle(*id, message);
    Trim();
    return answer;
}

Answer ChatClient::Message(std::string_view rest) {
    const std::string_view handle = CutWord(rest);
    if (!ValidHandle(handle)) {
        return Error(errors::InvalidUserHandle);
    }
    // The text is the rest of the line as it is: blanks, line breaks and all.
    Delivery delivery = Backend->Deliver(handle, rest);
    if (!delivery.Error.empty()) {
        return Error(delivery.Error);
    }
    const std::int32_t id =
        Store({Backend->UserHandle(), std::string(handle), std::string(rest), "SENT", Now()});
    const std::string prefix = "CHATMESSAGE " + std::to_string(id) + " STATUS ";
    Answer answer = Lines({prefix + "SENDING", prefix + "SENT"});
    answer.Echo = std::move(delivery.Reply);
    return answer;
}

bool ScriptBackend::IsFriend(std::string_view handle) const {
    const std::string wanted = common::UpperAscii(handle);
    return std::any_of(
               Config.Friends.begin(), Config.Friends.end(),
               [&](const std::string& name) { return common::UpperAscii(name) == wanted; }) ||
           (!Config.EchoContact.empty() && common::UpperAscii(Config.EchoContact) == wanted);
}

std::int32_t ChatClient::Store(ChatMessage message) {
    const std::int32_t id = NextId;
    // Round again after the last number rather than past it.
    NextId = NextId == std::numeric_limits<std::int32_t>::max() ? 1 : NextId + 1;
    // A number given again after a round: whatever still had it goes.
    Forget(id);
    message.Arrival = ++Arrivals;
    ChatMessage& stored = Messages[id] = std::move(message);
    if (stored.Missed) {
        Missed.emplace(stored.Arrival, id);
        MissedBytes += stored.Bytes();
    } else {
        Keep(id, stored);
    }
    Trim();
    return id;
}

void ChatClient::Settle(std::int32_t id, ChatMessage& message) {
    if (!message.Missed) {
        return;
    }
    Missed.erase(message.Arrival);
    MissedBytes -= message.Bytes();
    message.Missed = false;
    Keep(id, message);
    if (message.Tag != 0) {
        Backend->Settled(message.Tag);
    }
}

void ChatClient::Keep(std::int32_t id, const ChatMessage& message) {
    KeptOrder.emplace_back(message.Arrival, id);
    ++KeptCount;
    KeptBytes += message.Bytes();
}

void ChatClient::Forget(std::int32_t id) {
    const auto found = Messages.find(id);
    if (found == Messages.end()) {
        return;
    }
    Settle(id, found->second);
    --KeptCount;
    KeptBytes -= found->second.Bytes();
    Messages.erase(found); // its entry in KeptOrder is skipped when its turn comes
}

void ChatClient::Trim() {
    while (!Missed.empty() && (Missed.size() > MaxMissed || MissedBytes > MaxMissedBytes)) {
        const std::int32_t id = Missed.begin()->second;
        ChatMessage& oldest = Messages.at(id);
        if (OnForgotten) {
            OnForgotten(id, oldest.From, oldest.Body);
        }
        Settle(id, oldest);
    }
    while (!KeptOrder.empty() && (KeptCount > MaxKept || KeptBytes > MaxKeptBytes)) {
        const auto [arrival, id] = KeptOrder.front();
        KeptOrder.pop_front();
        const auto found = Messages.find(id);
        if (found != Messages.end() && found->second.Arrival == arrival && !found->second.Missed) {
            --KeptCount;
            KeptBytes -= found->second.Bytes();
            Messages.erase(found);
        }
    }
}

} // namespace velantro::standins
