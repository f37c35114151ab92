#include "XmppMapping.h"

#include <algorithm>
#include <memory>

namespace velantro::standins {

namespace {

constexpr std::string_view RosterNs = "jabber:iq:roster";
constexpr std::string_view CarbonsNs = "urn:xmpp:carbons:2";
constexpr std::string_view ForwardNs = "urn:xmpp:forward:0";
constexpr std::string_view MucUserNs = "http://jabber.org/protocol/muc#user";

struct TextFree {
    xmpp_ctx_t* Ctx;
    void operator()(char* text) const { xmpp_free(Ctx, text); }
};

std::string_view Attribute(xmpp_stanza_t* stanza, const char* name) {
    const char* value = xmpp_stanza_get_attribute(stanza, name);
    return value == nullptr ? std::string_view() : std::string_view(value);
}

std::string TextOf(xmpp_stanza_t* stanza) {
    std::unique_ptr<char, TextFree> text(xmpp_stanza_get_text(stanza),
                                         TextFree{xmpp_stanza_get_context(stanza)});
    return text ? std::string(text.get()) : std::string();
}

xmpp_stanza_t* Child(xmpp_stanza_t* stanza, const char* name, std::string_view ns) {
    return xmpp_stanza_get_child_by_name_and_ns(stanza, name, std::string(ns).c_str());
}

} // namespace

XmppMapping::XmppMapping(std::string_view ownJid)
    : Own(BareJid(ownJid)) {}

std::vector<std::string> XmppMapping::Friends() const {
    std::vector<std::string> friends;
    for (const auto& [jid, subscription] : Roster) {
        if (subscription == "to" || subscription == "both") {
            friends.push_back(jid);
        }
    }
    return friends;
}

bool XmppMapping::TakeRoster(xmpp_stanza_t* iq) {
    const std::vector<std::string> before = Friends();
    Roster.clear();
    xmpp_stanza_t* query = Child(iq, "query", RosterNs);
    for (xmpp_stanza_t* item = query == nullptr ? nullptr : xmpp_stanza_get_children(query);
         item != nullptr; item = xmpp_stanza_get_next(item)) {
        const char* name = xmpp_stanza_get_name(item);
        if (name != nullptr && std::string_view(name) == "item") {
            TakeItem(Attribute(item, "jid"), Attribute(item, "subscription"));
        }
    }
    return Friends() != before;
}

void XmppMapping::TakeItem(std::string_view jid, std::string_view subscription) {
    if (IsFriendHandle(jid)) {
        if (subscription == "remove") {
            Roster.erase(std::string(jid));
        } else {
            Roster[std::string(jid)] = std::string(subscription);
        }
        return;
    }
    // Never stored, so neither a friends list nor a message can reach it;
    // named when it would have been a friend.
    const bool friendly = subscription == "to" || subscription == "both";
    if (friendly && !jid.empty() && EverRefused.insert(std::string(jid)).second) {
        Refused.emplace_back(jid);
    }
}

std::vector<std::string> XmppMapping::TakeRefused() {
    std::vector<std::string> refused;
    refused.swap(Refused);
    return refused;
}

XmppMapping::PushOutcome XmppMapping::TakePush(xmpp_stanza_t* iq) {
    if (!FromAccountItself(iq)) {
        return PushOutcome::Ignored;
    }
    const std::vector<std::string> before = Friends();
    xmpp_stanza_t* query = Child(iq, "query", RosterNs);
    xmpp_stanza_t* item = query == nullptr ? nullptr : xmpp_stanza_get_child_by_name(query, "item");
    if (item != nullptr) {
        TakeItem(Attribute(item, "jid"), Attribute(item, "subscription"));
    }
    return Friends() == before ? PushOutcome::Unchanged : PushOutcome::Changed;
}

bool XmppMapping::FromAccountItself(xmpp_stanza_t* stanza) const {
    // The server sends what concerns the account without a sender, or as the
    // account's bare JID; anything else claiming to be the account is forged.
    const std::string_view from = Attribute(stanza, "from");
    return from.empty() || from == Own;
}

std::optional<IncomingMessage> XmppMapping::Incoming(xmpp_stanza_t* message) const {
    if (Child(message, "sent", CarbonsNs) != nullptr) {
        return std::nullopt; // the user's own message, sent from another device
    }
    if (xmpp_stanza_t* received = Child(message, "received", CarbonsNs)) {
        if (!FromAccountItself(message) || Attribute(message, "from").empty()) {
            return std::nullopt;
        }
        xmpp_stanza_t* forwarded = Child(received, "forwarded", ForwardNs);
        xmpp_stanza_t* inner =
            forwarded == nullptr ? nullptr : xmpp_stanza_get_child_by_name(forwarded, "message");
        return inner == nullptr ? std::nullopt : Plain(inner);
    }
    return Plain(message);
}

std::optional<IncomingMessage> XmppMapping::Plain(xmpp_stanza_t* message) const {
    const std::string_view type = Attribute(message, "type");
    if (!type.empty() && type != "chat" && type != "normal") {
        return std::nullopt; // error bounces carry the text the user sent; group chats are not
                             // mapped
    }
    if (Child(message, "x", MucUserNs) != nullptr) {
        return std::nullopt; // a private message through a group-chat room
    }
    const std::string from = BareJid(Attribute(message, "from"));
    xmpp_stanza_t* body = xmpp_stanza_get_child_by_name(message, "body");
    if (!IsBareJid(from) || body == nullptr) {
        return std::nullopt;
    }
    std::string text = TextOf(body);
    if (text.empty()) {
        return std::nullopt;
    }
    return IncomingMessage{from, std::move(text)};
}

xmpp_stanza_t* XmppMapping::ChatMessage(xmpp_ctx_t* ctx, std::string_view handle,
                                        std::string_view text, const std::string& id) {
    xmpp_stanza_t* message = xmpp_message_new(ctx, "chat", std::string(handle).c_str(), id.c_str());
    xmpp_message_set_body(message, XmlSafeText(text).c_str());
    return message;
}

xmpp_stanza_t* XmppMapping::IqResult(xmpp_ctx_t* ctx, xmpp_stanza_t* request) {
    // Built here rather than by xmpp_stanza_reply, which cannot address an
    // answer to a request that names no sender.
    const char* id = xmpp_stanza_get_id(request);
    xmpp_stanza_t* answer = xmpp_iq_new(ctx, "result", id != nullptr ? id : "");
    if (const char* from = xmpp_stanza_get_from(request)) {
        xmpp_stanza_set_to(answer, from);
    }
    return answer;
}

xmpp_stanza_t* XmppMapping::IqUnavailable(xmpp_ctx_t* ctx, xmpp_stanza_t* request) {
    xmpp_stanza_t* answer = IqResult(ctx, request);
    xmpp_stanza_set_type(answer, "error");
    xmpp_stanza_t* error = xmpp_stanza_new(ctx);
    xmpp_stanza_set_name(error, "error");
    xmpp_stanza_set_type(error, "cancel");
    xmpp_stanza_t* condition = xmpp_stanza_new(ctx);
    xmpp_stanza_set_name(condition, "service-unavailable");
    xmpp_stanza_set_ns(condition, "urn:ietf:params:xml:ns:xmpp-stanzas");
    xmpp_stanza_add_child_ex(error, condition, 0);
    xmpp_stanza_add_child_ex(answer, error, 0);
    return answer;
}

} // namespace velantro::standins
