#include "XmppMapping.h"

#include <algorithm>
#include <memory>

namespace velantro::standins {

namespace {

constexpr std::string_view RosterNs = "jabber:iq:roster";
constexpr std::string_view CarbonsNs = "urn:xmpp:carbons:2";
constexpr std::string_view ForwardNs = "urn:xmpp:forward:0";
constexpr std::string_view MucUserNs = "http://jabber.org/protocol/muc#user";
constexpr std::string_view MamNs = "urn:xmpp:mam:2";
constexpr std::string_view RsmNs = "http://jabber.org/protocol/rsm";
constexpr std::string_view DelayNs = "urn:xmpp:delay";
constexpr std::string_view StanzaIdNs = "urn:xmpp:sid:0";
constexpr std::string_view DiscoInfoNs = "http://jabber.org/protocol/disco#info";
constexpr std::string_view StanzasNs = "urn:ietf:params:xml:ns:xmpp-stanzas";
constexpr std::size_t LongestId = 256;

struct TextFree {
    xmpp_ctx_t* Ctx;
    void operator()(char* text) const { xmpp_free(Ctx, text); }
};

std::string_view Attribute(xmpp_stanza_t* stanza, const char* name) {
    const char* value = stanza == nullptr ? nullptr : xmpp_stanza_get_attribute(stanza, name);
    return value == nullptr ? std::string_view() : std::string_view(value);
}

std::string TextOf(xmpp_stanza_t* stanza) {
    std::unique_ptr<char, TextFree> text(xmpp_stanza_get_text(stanza),
                                         TextFree{xmpp_stanza_get_context(stanza)});
    return text ? std::string(text.get()) : std::string();
}

xmpp_stanza_t* Child(xmpp_stanza_t* stanza, const char* name, std::string_view ns) {
    return stanza == nullptr
               ? nullptr
               : xmpp_stanza_get_child_by_name_and_ns(stanza, name, std::string(ns).c_str());
}

XmppArrival Forged() {
    XmppArrival arrival;
    arrival.What = XmppArrival::Kind::Forged;
    return arrival;
}

/// The message a forwarded element (XEP-0297) carries, if any.
xmpp_stanza_t* ForwardedMessage(xmpp_stanza_t* wrapper) {
    xmpp_stanza_t* forwarded = Child(wrapper, "forwarded", ForwardNs);
    return forwarded == nullptr ? nullptr : xmpp_stanza_get_child_by_name(forwarded, "message");
}

/// The time of a delay element (XEP-0203) inside stanza; 0 without one.
std::int64_t DelayOf(xmpp_stanza_t* stanza) {
    return ReadXmppTime(Attribute(Child(stanza, "delay", DelayNs), "stamp")).value_or(0);
}

xmpp_stanza_t* Element(xmpp_ctx_t* ctx, const char* name, std::string_view ns = {}) {
    xmpp_stanza_t* element = xmpp_stanza_new(ctx);
    xmpp_stanza_set_name(element, name);
    if (!ns.empty()) {
        xmpp_stanza_set_ns(element, std::string(ns).c_str());
    }
    return element;
}

/// Adds child to parent, which takes it over.
xmpp_stanza_t* Adopt(xmpp_stanza_t* parent, xmpp_stanza_t* child) {
    xmpp_stanza_add_child_ex(parent, child, 0);
    return child;
}

void AddTextElement(xmpp_stanza_t* parent, const char* name, const std::string& text) {
    xmpp_ctx_t* ctx = xmpp_stanza_get_context(parent);
    xmpp_stanza_t* element = Adopt(parent, Element(ctx, name));
    if (!text.empty()) {
        xmpp_stanza_t* node = xmpp_stanza_new(ctx);
        xmpp_stanza_set_text(node, text.c_str());
        Adopt(element, node);
    }
}

/// Reads width decimal digits at text[at]; advances at.
std::optional<int> Digits(std::string_view text, std::size_t& at, std::size_t width) {
    if (at + width > text.size()) {
        return std::nullopt;
    }
    int value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        const char c = text[at + i];
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    at += width;
    return value;
}

bool Expect(std::string_view text, std::size_t& at, char wanted) {
    if (at < text.size() && text[at] == wanted) {
        ++at;
        return true;
    }
    return false;
}

/// Days from 1970-01-01 to the date (proleptic Gregorian calendar).
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

} // namespace

std::optional<std::int64_t> ReadXmppTime(std::string_view text) {
    std::size_t at = 0;
    const auto year = Digits(text, at, 4);
    const bool dateSeparators = Expect(text, at, '-');
    const auto month = Digits(text, at, 2);
    const bool daySeparator = Expect(text, at, '-');
    const auto day = Digits(text, at, 2);
    const bool timeSeparator = Expect(text, at, 'T');
    const auto hour = Digits(text, at, 2);
    const bool minuteSeparator = Expect(text, at, ':');
    const auto minute = Digits(text, at, 2);
    const bool secondSeparator = Expect(text, at, ':');
    const auto second = Digits(text, at, 2);
    if (!year || !month || !day || !hour || !minute || !second || !dateSeparators ||
        !daySeparator || !timeSeparator || !minuteSeparator || !secondSeparator || *month < 1 ||
        *month > 12 || *day < 1 || *day > 31 || *hour > 23 || *minute > 59 || *second > 60) {
        return std::nullopt;
    }
    if (Expect(text, at, '.')) {
        const std::size_t digits = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            ++at;
        }
        if (at == digits) {
            return std::nullopt;
        }
    }
    std::int64_t offset = 0;
    if (Expect(text, at, 'Z')) {
        offset = 0;
    } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        const int sign = text[at++] == '-' ? -1 : 1;
        const auto hours = Digits(text, at, 2);
        const bool separator = Expect(text, at, ':');
        const auto minutes = Digits(text, at, 2);
        if (!hours || !separator || !minutes || *hours > 23 || *minutes > 59) {
            return std::nullopt;
        }
        offset = sign * (std::int64_t{*hours} * 3600 + std::int64_t{*minutes} * 60);
    } else {
        return std::nullopt;
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    return DaysFromCivil(*year, *month, *day) * 86400 + std::int64_t{*hour} * 3600 +
           std::int64_t{*minute} * 60 + *second - offset;
}

bool KeepableId(std::string_view text) {
    return !text.empty() && text.size() <= LongestId &&
           std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7F; });
}

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

XmppArrival XmppMapping::Read(xmpp_stanza_t* message) const {
    if (xmpp_stanza_t* result = Child(message, "result", MamNs)) {
        return ArchiveResult(message, result);
    }
    for (const char* name : {"sent", "received"}) {
        if (xmpp_stanza_t* carbon = Child(message, name, CarbonsNs)) {
            return Carbon(message, carbon);
        }
    }
    return Plain(message, false);
}

XmppArrival XmppMapping::Carbon(xmpp_stanza_t* message, xmpp_stanza_t* carbon) const {
    // Only the server copies the account's messages, as the account's bare JID.
    if (Attribute(message, "from") != Own) {
        return Forged();
    }
    xmpp_stanza_t* inner = ForwardedMessage(carbon);
    if (inner == nullptr) {
        return {};
    }
    XmppArrival arrival = Plain(inner, true);
    const bool sent = std::string_view(xmpp_stanza_get_name(carbon)) == "sent";
    const auto expected = sent ? XmppArrival::Kind::Own : XmppArrival::Kind::Received;
    if (arrival.What != expected) {
        return {};
    }
    if (const std::int64_t stamp = DelayOf(Child(carbon, "forwarded", ForwardNs))) {
        arrival.Timestamp = stamp;
    }
    return arrival;
}

XmppArrival XmppMapping::ArchiveResult(xmpp_stanza_t* message, xmpp_stanza_t* result) const {
    if (!FromAccountItself(message)) {
        return Forged();
    }
    xmpp_stanza_t* inner = ForwardedMessage(result);
    XmppArrival arrival = inner == nullptr ? XmppArrival{} : Plain(inner, true);
    const std::string_view id = Attribute(result, "id");
    arrival.ArchiveId = KeepableId(id) ? std::string(id) : std::string();
    arrival.QueryId = Attribute(result, "queryid");
    if (const std::int64_t stamp = DelayOf(Child(result, "forwarded", ForwardNs))) {
        arrival.Timestamp = stamp;
    }
    return arrival;
}

XmppArrival XmppMapping::Plain(xmpp_stanza_t* message, bool copied) const {
    const std::string_view type = Attribute(message, "type");
    if (!type.empty() && type != "chat" && type != "normal") {
        return {}; // error bounces carry the text the user sent; group chats are not mapped
    }
    if (Child(message, "x", MucUserNs) != nullptr) {
        return {}; // a private message through a group-chat room
    }
    const std::string from = BareJid(Attribute(message, "from"));
    xmpp_stanza_t* body = xmpp_stanza_get_child_by_name(message, "body");
    if (!IsBareJid(from) || body == nullptr) {
        return {};
    }
    XmppArrival arrival;
    arrival.Body = TextOf(body);
    if (arrival.Body.empty()) {
        return {};
    }
    const std::string_view id = Attribute(message, "id");
    // A copy of what the user wrote: from another device, or from here,
    // which the chat client knows already.
    if (copied && from == Own) {
        if (!OwnIdPrefix.empty() && id.substr(0, OwnIdPrefix.size()) == OwnIdPrefix) {
            return {};
        }
        arrival.What = XmppArrival::Kind::Own;
        arrival.Partner = BareJid(Attribute(message, "to"));
        if (!IsBareJid(arrival.Partner)) {
            return {};
        }
    } else {
        arrival.What = XmppArrival::Kind::Received;
        arrival.Partner = from;
    }
    arrival.Timestamp = DelayOf(message);
    // Only the account's own archive numbers what reaches it; a stanza-id by
    // anyone else is the sender's claim.
    for (xmpp_stanza_t* child = xmpp_stanza_get_children(message); child != nullptr;
         child = xmpp_stanza_get_next(child)) {
        const char* name = xmpp_stanza_get_name(child);
        const char* ns = xmpp_stanza_get_ns(child);
        if (name != nullptr && ns != nullptr && std::string_view(name) == "stanza-id" &&
            std::string_view(ns) == StanzaIdNs && Attribute(child, "by") == Own &&
            KeepableId(Attribute(child, "id"))) {
            arrival.ArchiveId = Attribute(child, "id");
            break;
        }
    }
    if (KeepableId(id)) {
        arrival.SenderKey = from + "\n" + std::string(id);
    }
    return arrival;
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

xmpp_stanza_t* XmppMapping::DiscoInfo(xmpp_ctx_t* ctx, const std::string& to,
                                      const std::string& id) {
    xmpp_stanza_t* iq = xmpp_iq_new(ctx, "get", id.c_str());
    xmpp_stanza_set_to(iq, to.c_str());
    Adopt(iq, Element(ctx, "query", DiscoInfoNs));
    return iq;
}

bool XmppMapping::Offers(xmpp_stanza_t* result, std::string_view feature) {
    if (Attribute(result, "type") != "result") {
        return false;
    }
    xmpp_stanza_t* query = Child(result, "query", DiscoInfoNs);
    for (xmpp_stanza_t* child = query == nullptr ? nullptr : xmpp_stanza_get_children(query);
         child != nullptr; child = xmpp_stanza_get_next(child)) {
        const char* name = xmpp_stanza_get_name(child);
        if (name != nullptr && std::string_view(name) == "feature" &&
            Attribute(child, "var") == feature) {
            return true;
        }
    }
    return false;
}

xmpp_stanza_t* XmppMapping::EnableCarbons(xmpp_ctx_t* ctx, const std::string& id) {
    xmpp_stanza_t* iq = xmpp_iq_new(ctx, "set", id.c_str());
    Adopt(iq, Element(ctx, "enable", CarbonsNs));
    return iq;
}

xmpp_stanza_t* XmppMapping::ArchiveQuery(xmpp_ctx_t* ctx, const std::string& id,
                                         const std::string& queryId, const std::string& after,
                                         std::size_t page, bool newest) {
    xmpp_stanza_t* iq = xmpp_iq_new(ctx, "set", id.c_str());
    xmpp_stanza_t* query = Adopt(iq, Element(ctx, "query", MamNs));
    xmpp_stanza_set_attribute(query, "queryid", queryId.c_str());
    xmpp_stanza_t* set = Adopt(query, Element(ctx, "set", RsmNs));
    AddTextElement(set, "max", std::to_string(newest ? 1 : page));
    if (newest) {
        AddTextElement(set, "before", ""); // the last page
    } else if (!after.empty()) {
        AddTextElement(set, "after", after);
    }
    return iq;
}

ArchivePage XmppMapping::ReadArchivePage(xmpp_stanza_t* iq) {
    ArchivePage page;
    if (Attribute(iq, "type") != "result") {
        xmpp_stanza_t* error = xmpp_stanza_get_child_by_name(iq, "error");
        page.ItemNotFound = Child(error, "item-not-found", StanzasNs) != nullptr;
        return page;
    }
    xmpp_stanza_t* fin = Child(iq, "fin", MamNs);
    page.Answered = fin != nullptr;
    const std::string_view complete = Attribute(fin, "complete");
    page.Complete = complete == "true" || complete == "1";
    xmpp_stanza_t* set = Child(fin, "set", RsmNs);
    xmpp_stanza_t* last = set == nullptr ? nullptr : xmpp_stanza_get_child_by_name(set, "last");
    const std::string text = last == nullptr ? std::string() : TextOf(last);
    page.Last = KeepableId(text) ? text : std::string();
    return page;
}

} // namespace velantro::standins
