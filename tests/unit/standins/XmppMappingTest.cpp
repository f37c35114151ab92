// The XMPP account's mapping onto the chat client, and the connection
// policy that needs no server: stanzas are parsed from text by libstrophe.

#include "XmppMapping.h"

#include "ChatClient.h"
#include "ConnectionProblem.h"
#include "Jid.h"
#include "PeerProgram.h"
#include "SocketDeadline.h"
#include "XmppAccount.h"
#include "XmppPassword.h"
#include "XmppSettings.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <ostream>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace velantro::standins;
using ::testing::HasSubstr;

namespace velantro::standins {
std::ostream& operator<<(std::ostream& out, const IncomingMessage& message) {
    return out << "{" << ::testing::PrintToString(message.From) << ": "
               << ::testing::PrintToString(message.Body) << "}";
}
std::ostream& operator<<(std::ostream& out, const XmppArrival& arrival) {
    constexpr const char* Kinds[] = {"nothing", "received", "own", "forged"};
    return out << "{" << Kinds[static_cast<int>(arrival.What)] << " "
               << ::testing::PrintToString(arrival.Partner) << ": "
               << ::testing::PrintToString(arrival.Body) << " at " << arrival.Timestamp
               << ", archive id " << ::testing::PrintToString(arrival.ArchiveId) << ", sender key "
               << ::testing::PrintToString(arrival.SenderKey) << ", query "
               << ::testing::PrintToString(arrival.QueryId) << "}";
}
std::ostream& operator<<(std::ostream& out, const ServerAddress& address) {
    return out << address.Host << " port " << address.Port;
}
} // namespace velantro::standins

namespace {

/// A libstrophe context for parsing and building stanzas, no connection.
class Stanzas : public ::testing::Test {
protected:
    static void SetUpTestSuite() { xmpp_initialize(); }
    static void TearDownTestSuite() { xmpp_shutdown(); }

    struct Release {
        void operator()(xmpp_stanza_t* stanza) const { xmpp_stanza_release(stanza); }
    };
    using Stanza = std::unique_ptr<xmpp_stanza_t, Release>;

    Stanza Parse(const std::string& xml) {
        Stanza stanza(xmpp_stanza_new_from_string(Ctx.get(), xml.c_str()));
        EXPECT_NE(stanza, nullptr) << xml;
        return stanza;
    }

    std::string Text(xmpp_stanza_t* stanza) {
        char* buffer = nullptr;
        std::size_t length = 0;
        xmpp_stanza_to_text(stanza, &buffer, &length);
        std::string text(buffer, length);
        xmpp_free(Ctx.get(), buffer);
        return text;
    }

    struct ContextFree {
        void operator()(xmpp_ctx_t* ctx) const { xmpp_ctx_free(ctx); }
    };
    std::unique_ptr<xmpp_ctx_t, ContextFree> Ctx{xmpp_ctx_new(nullptr, nullptr)};
};

// ---------------------------------------------------------------------------
// Messages

struct MessageCase {
    std::string Xml;
    std::optional<IncomingMessage> Expected;
};

using IncomingMessages = Stanzas;

/// The received message a stanza brings, as the chat client sees it.
std::optional<IncomingMessage> Received(const XmppMapping& mapping, xmpp_stanza_t* stanza) {
    const XmppArrival arrival = mapping.Read(stanza);
    if (arrival.What != XmppArrival::Kind::Received) {
        return std::nullopt;
    }
    return IncomingMessage{arrival.Partner, arrival.Body};
}

TEST_F(IncomingMessages, ChatAndNormalMessagesWithABodyAreChatMessagesFromTheBareJid) {
    const std::vector<MessageCase> cases = {
        {"<message type='chat' from='bob@example.org/phone'><body>Hola</body></message>",
         IncomingMessage{"bob@example.org", "Hola"}},
        {"<message from='bob@example.org/phone'><body>no type is normal</body></message>",
         IncomingMessage{"bob@example.org", "no type is normal"}},
        {"<message type='normal' from='bob@example.org'><subject>s</subject>"
         "<body>a &lt;b&gt; &amp; line\nbreak</body></message>",
         IncomingMessage{"bob@example.org", "a <b> & line\nbreak"}},
        {"<message type='chat' from='bob@example.org/x'><body>\xD0\x97\xD0\xB4</body></message>",
         IncomingMessage{"bob@example.org", "\xD0\x97\xD0\xB4"}},
        // Typing notifications, receipts and empty bodies carry no text.
        {"<message type='chat' from='bob@example.org/phone'>"
         "<composing xmlns='http://jabber.org/protocol/chatstates'/></message>",
         std::nullopt},
        {"<message from='bob@example.org/phone'><received xmlns='urn:xmpp:receipts' id='1'/>"
         "</message>",
         std::nullopt},
        {"<message type='chat' from='bob@example.org'><body></body></message>", std::nullopt},
        // An error bounce carries the text the user sent: never incoming.
        {"<message type='error' from='bob@example.org'><body>mine</body>"
         "<error type='cancel'/></message>",
         std::nullopt},
        // Group chats, headlines and private messages through a room are not mapped.
        {"<message type='groupchat' from='room@muc.example.org/bob'><body>hi all</body></message>",
         std::nullopt},
        {"<message type='headline' from='news.example.org'><body>news</body></message>",
         std::nullopt},
        {"<message type='chat' from='room@muc.example.org/bob'><body>psst</body>"
         "<x xmlns='http://jabber.org/protocol/muc#user'/></message>",
         std::nullopt},
        // No sender, or one that is no JID.
        {"<message type='chat'><body>who?</body></message>", std::nullopt},
        {"<message type='chat' from='a b@example.org'><body>x</body></message>", std::nullopt},
    };
    const XmppMapping mapping("alice@example.org/velantro");
    for (const MessageCase& row : cases) {
        EXPECT_EQ(Received(mapping, Parse(row.Xml).get()), row.Expected) << row.Xml;
    }
}

TEST_F(IncomingMessages, CarbonsOfOwnMessagesAreNotIncomingAndOnlyTheAccountSendsCarbons) {
    const std::string inner = "<forwarded xmlns='urn:xmpp:forward:0'>"
                              "<message type='chat' from='bob@example.org/pc' "
                              "to='alice@example.org/phone'><body>to your phone</body></message>"
                              "</forwarded>";
    const std::string sentInner = "<forwarded xmlns='urn:xmpp:forward:0'>"
                                  "<message type='chat' from='alice@example.org/phone' "
                                  "to='bob@example.org'><body>from my phone</body></message>"
                                  "</forwarded>";
    const std::vector<MessageCase> cases = {
        {"<message from='alice@example.org' type='chat'><sent xmlns='urn:xmpp:carbons:2'>" +
             sentInner + "</sent></message>",
         std::nullopt},
        {"<message from='alice@example.org' type='chat'><received xmlns='urn:xmpp:carbons:2'>" +
             inner + "</received></message>",
         IncomingMessage{"bob@example.org", "to your phone"}},
        // A carbon from anyone but the account is forged.
        {"<message from='mallory@example.org' type='chat'><received "
         "xmlns='urn:xmpp:carbons:2'>" +
             inner + "</received></message>",
         std::nullopt},
        {"<message from='alice@example.org/other' type='chat'><received "
         "xmlns='urn:xmpp:carbons:2'>" +
             inner + "</received></message>",
         std::nullopt},
    };
    const XmppMapping mapping("alice@example.org");
    for (const MessageCase& row : cases) {
        EXPECT_EQ(Received(mapping, Parse(row.Xml).get()), row.Expected) << row.Xml;
    }
}

XmppArrival Arrival(XmppArrival::Kind what, std::string partner, std::string body,
                    std::int64_t timestamp = 0, std::string archiveId = {},
                    std::string senderKey = {}, std::string queryId = {}) {
    XmppArrival arrival;
    arrival.What = what;
    arrival.Partner = std::move(partner);
    arrival.Body = std::move(body);
    arrival.Timestamp = timestamp;
    arrival.ArchiveId = std::move(archiveId);
    arrival.SenderKey = std::move(senderKey);
    arrival.QueryId = std::move(queryId);
    return arrival;
}

TEST_F(IncomingMessages, CopiesCarbonsAndArchiveResultsSayWhoseTheyAreAndTheirArchiveIds) {
    using Kind = XmppArrival::Kind;
    const std::string fromBob = "<message type='chat' from='bob@example.org/pc' id='m1' "
                                "to='alice@example.org'><body>hi</body>"
                                "<stanza-id xmlns='urn:xmpp:sid:0' by='alice@example.org' "
                                "id='S1'/></message>";
    const std::string fromPhone = "<message type='chat' from='alice@example.org/phone' id='p1' "
                                  "to='bob@example.org/pc'><body>sent elsewhere</body></message>";
    const auto forwarded = [](const std::string& message, const std::string& stamp = {}) {
        return "<forwarded xmlns='urn:xmpp:forward:0'>" +
               (stamp.empty() ? std::string()
                              : "<delay xmlns='urn:xmpp:delay' stamp='" + stamp + "'/>") +
               message + "</forwarded>";
    };
    const auto carbon = [&](const std::string& from, const char* kind, const std::string& inner) {
        return "<message from='" + from + "' type='chat'><" + kind +
               " xmlns='urn:xmpp:carbons:2'>" + forwarded(inner) + "</" + kind + "></message>";
    };
    const auto result = [&](const std::string& from, const std::string& id,
                            const std::string& inner) {
        return "<message" + (from.empty() ? std::string() : " from='" + from + "'") +
               "><result xmlns='urn:xmpp:mam:2' queryid='q7' id='" + id + "'>" +
               forwarded(inner, "2024-05-01T12:00:00Z") + "</result></message>";
    };
    const struct {
        std::string Xml;
        XmppArrival Expected;
    } cases[] = {
        // Live or kept offline: the archive's id only from the account's own archive.
        {fromBob, Arrival(Kind::Received, "bob@example.org", "hi", 0, "S1", "bob@example.org\nm1")},
        {"<message type='chat' from='bob@example.org/pc' id='m2'><body>x</body>"
         "<stanza-id xmlns='urn:xmpp:sid:0' by='bob@example.org' id='forged'/>"
         "<delay xmlns='urn:xmpp:delay' stamp='2000-02-29T23:59:59Z'/></message>",
         Arrival(Kind::Received, "bob@example.org", "x", 951868799, "", "bob@example.org\nm2")},
        {"<message type='chat' from='bob@example.org/pc' id='has blank'><body>x</body></message>",
         Arrival(Kind::Received, "bob@example.org", "x")},
        // Carbons: only from the account's bare JID.
        {carbon("alice@example.org", "sent", fromPhone),
         Arrival(Kind::Own, "bob@example.org", "sent elsewhere", 0, "", "alice@example.org\np1")},
        {carbon("alice@example.org", "received", fromBob),
         Arrival(Kind::Received, "bob@example.org", "hi", 0, "S1", "bob@example.org\nm1")},
        {carbon("alice@example.org", "sent", fromBob), XmppArrival{}},
        {carbon("alice@example.org", "received", fromPhone), XmppArrival{}},
        {carbon("mallory@example.org", "sent", fromPhone), Arrival(Kind::Forged, "", "")},
        {carbon("alice@example.org/phone", "received", fromBob), Arrival(Kind::Forged, "", "")},
        {"<message type='chat'><received xmlns='urn:xmpp:carbons:2'>" + forwarded(fromBob) +
             "</received></message>",
         Arrival(Kind::Forged, "", "")},
        // Archive results: from the account itself or no one; the result's id counts.
        {result("", "A1", fromBob), Arrival(Kind::Received, "bob@example.org", "hi", 1714564800,
                                            "A1", "bob@example.org\nm1", "q7")},
        {result("alice@example.org", "A2", fromPhone),
         Arrival(Kind::Own, "bob@example.org", "sent elsewhere", 1714564800, "A2",
                 "alice@example.org\np1", "q7")},
        {result("bob@example.org", "A3", fromBob), Arrival(Kind::Forged, "", "")},
        // Sent from here: no news, but still a result of the query.
        {result("", "A4",
                "<message type='chat' from='alice@example.org/velantro' id='velantro-ab-3' "
                "to='bob@example.org'><body>mine</body></message>"),
         Arrival(Kind::Nothing, "", "", 1714564800, "A4", "", "q7")},
        {result("", "A5",
                "<message from='bob@example.org/pc'><composing "
                "xmlns='http://jabber.org/protocol/chatstates'/></message>"),
         Arrival(Kind::Nothing, "", "", 1714564800, "A5", "", "q7")},
        {result("", "bad id", fromBob), Arrival(Kind::Received, "bob@example.org", "hi", 1714564800,
                                                "", "bob@example.org\nm1", "q7")},
    };
    XmppMapping mapping("alice@example.org/velantro");
    mapping.SetOwnIdPrefix("velantro-ab-");
    for (const auto& row : cases) {
        EXPECT_EQ(mapping.Read(Parse(row.Xml).get()), row.Expected) << row.Xml;
    }
}

TEST(XmppTime, DatesAndTimesOfXmppAreSecondsSince1970) {
    const std::vector<std::pair<std::string, std::optional<std::int64_t>>> cases = {
        {"1970-01-01T00:00:00Z", 0},
        {"2024-05-01T12:00:00Z", 1714564800},
        {"2024-05-01T12:00:00.123456Z", 1714564800},
        {"2024-05-01T14:00:00+02:00", 1714564800},
        {"2024-05-01T06:30:00-05:30", 1714564800},
        {"2000-02-29T23:59:59Z", 951868799},
        {"1969-12-31T23:00:00Z", -3600},
        {"", std::nullopt},
        {"2024-05-01T12:00:00", std::nullopt},
        {"2024-05-01 12:00:00Z", std::nullopt},
        {"2024-13-01T12:00:00Z", std::nullopt},
        {"2024-05-01T24:00:00Z", std::nullopt},
        {"2024-05-01T12:00:00.Z", std::nullopt},
        {"2024-05-01T12:00:00Zjunk", std::nullopt},
        {"2024-05-01T12:00:00+0200", std::nullopt},
        {"24-05-01T12:00:00Z", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(ReadXmppTime(text), expected) << text;
    }
}

TEST_F(IncomingMessages, TheServersAnswersAboutFeaturesAndArchivePages) {
    const std::string info = "<iq type='result' id='i5'><query "
                             "xmlns='http://jabber.org/protocol/disco#info'><feature "
                             "var='urn:xmpp:carbons:2'/></query></iq>";
    EXPECT_TRUE(XmppMapping::Offers(Parse(info).get(), "urn:xmpp:carbons:2"));
    EXPECT_FALSE(XmppMapping::Offers(Parse(info).get(), "urn:xmpp:mam:2"));
    EXPECT_FALSE(XmppMapping::Offers(
        Parse("<iq type='error' id='i5'><query xmlns='http://jabber.org/protocol/disco#info'>"
              "<feature var='urn:xmpp:mam:2'/></query></iq>")
            .get(),
        "urn:xmpp:mam:2"));

    const auto fin = [](const std::string& attributes, const std::string& last) {
        return "<iq type='result' id='i1'><fin xmlns='urn:xmpp:mam:2'" + attributes +
               "><set xmlns='http://jabber.org/protocol/rsm'>" + last + "</set></fin></iq>";
    };
    const struct {
        std::string Xml;
        ArchivePage Expected;
    } pages[] = {
        {fin(" complete='true'", "<first>A1</first><last>A9</last>"), {true, false, true, "A9"}},
        {fin("", "<first>A1</first><last>A9</last>"), {true, false, false, "A9"}},
        {fin(" complete='true'", ""), {true, false, true, ""}},
        {fin("", "<last>not an id</last>"), {true, false, false, ""}},
        {"<iq type='result' id='i1'/>", {false, false, false, ""}},
        {"<iq type='error' id='i1'><error type='cancel'><item-not-found "
         "xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error></iq>",
         {false, true, false, ""}},
        {"<iq type='error' id='i1'><error type='cancel'><internal-server-error "
         "xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error></iq>",
         {false, false, false, ""}},
    };
    for (const auto& row : pages) {
        const ArchivePage read = XmppMapping::ReadArchivePage(Parse(row.Xml).get());
        EXPECT_EQ(read, row.Expected) << row.Xml << ": " << read.Answered << read.ItemNotFound
                                      << read.Complete << " " << read.Last;
    }
}

TEST_F(IncomingMessages, AnOutgoingChatMessageCarriesTheTextEscapedAndXmlSafe) {
    const Stanza message(XmppMapping::ChatMessage(Ctx.get(), "bob@example.org",
                                                  "a <b> & \"c\"\n\x01\xFF end", "velantro7"));
    const std::string text = Text(message.get());
    EXPECT_THAT(text, HasSubstr("type=\"chat\""));
    EXPECT_THAT(text, HasSubstr("to=\"bob@example.org\""));
    EXPECT_THAT(text, HasSubstr("id=\"velantro7\""));
    // Parsed back, the body is the text, with what XML cannot carry replaced.
    const Stanza back = Parse(text);
    const XmppMapping bob("bob@example.org");
    xmpp_stanza_set_attribute(back.get(), "from", "alice@example.org/velantro");
    EXPECT_EQ(
        Received(bob, back.get()),
        (IncomingMessage{"alice@example.org", "a <b> & \"c\"\n\xEF\xBF\xBD\xEF\xBF\xBD end"}));
}

// ---------------------------------------------------------------------------
// The roster

using Roster = Stanzas;

TEST_F(Roster, FriendsAreTheItemsWhosePresenceTheUserSeesAndPushesChangeThem) {
    XmppMapping mapping("alice@example.org/velantro");
    const bool changed = mapping.TakeRoster(
        Parse("<iq type='result' id='r1'><query xmlns='jabber:iq:roster'>"
              "<item jid='carol@example.org' subscription='both'/>"
              "<item jid='bob@example.org' subscription='to'/>"
              "<item jid='dave@example.org' subscription='from'/>"
              "<item jid='erin@example.org' subscription='none' ask='subscribe'/>"
              "<item jid='not a jid' subscription='both'/>"
              "</query></iq>")
            .get());
    EXPECT_TRUE(changed);
    EXPECT_EQ(mapping.Friends(),
              (std::vector<std::string>{"bob@example.org", "carol@example.org"}));

    struct PushCase {
        std::string Xml;
        XmppMapping::PushOutcome Outcome;
        std::vector<std::string> Friends;
    };
    const auto push = [](const std::string& from, const std::string& item) {
        return "<iq type='set' id='p'" + from + "><query xmlns='jabber:iq:roster'>" + item +
               "</query></iq>";
    };
    using Outcome = XmppMapping::PushOutcome;
    const std::vector<PushCase> pushes = {
        {push("", "<item jid='dave@example.org' subscription='both'/>"),
         Outcome::Changed,
         {"bob@example.org", "carol@example.org", "dave@example.org"}},
        {push(" from='alice@example.org'", "<item jid='bob@example.org' subscription='remove'/>"),
         Outcome::Changed,
         {"carol@example.org", "dave@example.org"}},
        {push("", "<item jid='carol@example.org' subscription='both' name='Carol'/>"),
         Outcome::Unchanged,
         {"carol@example.org", "dave@example.org"}},
        {push("", "<item jid='carol@example.org' subscription='from'/>"),
         Outcome::Changed,
         {"dave@example.org"}},
        // Only the account itself pushes its roster.
        {push(" from='mallory@example.org'", "<item jid='evil@example.org' subscription='both'/>"),
         Outcome::Ignored,
         {"dave@example.org"}},
        {push(" from='alice@example.org/phone'",
              "<item jid='evil@example.org' subscription='both'/>"),
         Outcome::Ignored,
         {"dave@example.org"}},
    };
    for (const PushCase& row : pushes) {
        EXPECT_EQ(mapping.TakePush(Parse(row.Xml).get()), row.Outcome) << row.Xml;
        EXPECT_EQ(mapping.Friends(), row.Friends) << row.Xml;
    }

    // A roster read again after a reconnection replaces everything.
    EXPECT_TRUE(mapping.TakeRoster(Parse("<iq type='result' id='r2'>"
                                         "<query xmlns='jabber:iq:roster'/></iq>")
                                       .get()));
    EXPECT_TRUE(mapping.Friends().empty());
    EXPECT_EQ(mapping.OwnHandle(), "alice@example.org");
}

TEST_F(Roster, HandlesAFriendsListCannotCarryAreNoFriendsAndAreNamedOnce) {
    struct Case {
        std::string Jid;
        std::string Subscription;
        bool Friend;
        bool Named;
    };
    const std::vector<Case> cases = {
        {"bob@localhost", "both", true, false},
        {"h\xC3\xA9l\xC3\xA8ne@localhost", "to", true, false},
        // "USERS ann,carol@localhost" reads as two friends, ann and carol@localhost.
        {"ann,carol@localhost", "both", false, true},
        {",@localhost", "to", false, true},
        {"fay gil@localhost", "both", false, true},
        {"ivy@localhost/phone", "both", false, true},
        // Not a friend anyway: nothing to say.
        {"dan,eve@localhost", "from", false, false},
        {"", "both", false, false},
    };
    const auto item = [](const Case& row) {
        return "<item jid='" + row.Jid + "' subscription='" + row.Subscription + "'/>";
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.Jid);
        const std::vector<std::string> named =
            row.Named ? std::vector<std::string>{row.Jid} : std::vector<std::string>{};
        XmppMapping read("alice@localhost");
        read.TakeRoster(Parse("<iq type='result' id='r'><query xmlns='jabber:iq:roster'>" +
                              item(row) + "</query></iq>")
                            .get());
        EXPECT_EQ(read.Friends(),
                  row.Friend ? std::vector<std::string>{row.Jid} : std::vector<std::string>{});
        EXPECT_EQ(read.TakeRefused(), named);

        XmppMapping pushed("alice@localhost");
        const std::string push =
            "<iq type='set' id='p'><query xmlns='jabber:iq:roster'>" + item(row) + "</query></iq>";
        EXPECT_EQ(pushed.TakePush(Parse(push).get()) == XmppMapping::PushOutcome::Changed,
                  row.Friend);
        EXPECT_EQ(pushed.TakeRefused(), named);
        pushed.TakePush(Parse(push).get());
        EXPECT_THAT(pushed.TakeRefused(), ::testing::IsEmpty()) << "named once only";
    }
}

TEST_F(Roster, RequestsAreAnsweredWhetherOrNotTheyNameASender) {
    // Attribute order is libstrophe's own: answers are compared field by field.
    const auto describe = [](xmpp_stanza_t* answer) {
        const char* to = xmpp_stanza_get_to(answer);
        xmpp_stanza_t* error = xmpp_stanza_get_child_by_name(answer, "error");
        xmpp_stanza_t* condition = error == nullptr ? nullptr : xmpp_stanza_get_children(error);
        return std::string(xmpp_stanza_get_type(answer)) + " id=" + xmpp_stanza_get_id(answer) +
               " to=" + (to != nullptr ? to : "(none)") +
               (condition != nullptr ? std::string(" ") + xmpp_stanza_get_name(condition) + " " +
                                           xmpp_stanza_get_ns(condition)
                                     : std::string());
    };
    struct Case {
        std::string Request;
        std::string Result;
        std::string Unavailable;
    };
    const std::string condition = " service-unavailable urn:ietf:params:xml:ns:xmpp-stanzas";
    const std::vector<Case> cases = {
        // A roster push from the server names no sender.
        {"<iq type='set' id='p1'><query xmlns='jabber:iq:roster'/></iq>", "result id=p1 to=(none)",
         "error id=p1 to=(none)" + condition},
        {"<iq type='get' id='v' from='bob@example.org/pc'><query xmlns='jabber:iq:version'/></iq>",
         "result id=v to=bob@example.org/pc", "error id=v to=bob@example.org/pc" + condition},
    };
    for (const Case& row : cases) {
        const Stanza request = Parse(row.Request);
        const Stanza result(XmppMapping::IqResult(Ctx.get(), request.get()));
        const Stanza unavailable(XmppMapping::IqUnavailable(Ctx.get(), request.get()));
        EXPECT_EQ(describe(result.get()), row.Result);
        EXPECT_EQ(describe(unavailable.get()), row.Unavailable);
    }
}

// ---------------------------------------------------------------------------
// Addresses and texts

TEST(Jid, BareJidsAreTheHandlesMessagesGoTo) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"bob@example.org", true},
        {"example.org", true},
        {"\xD0\xB1\xD0\xBE\xD0\xB1@example.org", true},
        {"bob@example.org/phone", false},
        {"", false},
        {"@example.org", false},
        {"bob@", false},
        {"bob@@example.org", false},
        {"b ob@example.org", false},
        {"bob@example.org\n", false},
        {"bo<b@example.org", false},
        {"bo'b@example.org", false},
        {"bob@.example.org", false},
        {"bob@example..org", false},
        {"b\xFF@example.org", false},
        {std::string(1024, 'a') + "@example.org", false},
        {std::string(1023, 'a') + "@example.org", true},
    };
    for (const auto& [handle, valid] : cases) {
        EXPECT_EQ(IsBareJid(handle), valid) << ::testing::PrintToString(handle);
    }
    // A friends list splits at commas: a JID with one is a handle of no friend.
    const std::vector<std::pair<std::string, bool>> friends = {
        {"bob@example.org", true},
        {"ann,carol@example.org", false},
        {"example.org,", false},
        {"b ob@example.org", false},
    };
    for (const auto& [handle, carried] : friends) {
        EXPECT_EQ(IsFriendHandle(handle), carried) << ::testing::PrintToString(handle);
    }
    EXPECT_EQ(BareJid("bob@example.org/phone/x"), "bob@example.org");
    EXPECT_EQ(JidDomain("bob@example.org/phone"), "example.org");
    EXPECT_EQ(JidDomain("example.org"), "example.org");
}

TEST(Jid, TextXmlCannotCarryBecomesTheReplacementCharacter) {
    const std::string r = "\xEF\xBF\xBD";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain\ttext\r\n", "plain\ttext\r\n"},
        {"\xC3\xA9\xF0\x9F\x98\x80", "\xC3\xA9\xF0\x9F\x98\x80"},
        {std::string("a\0b", 3), "a" + r + "b"},
        {"\x01\x1F", r + r},
        {"\xFF", r},
        {"\xC3", r},                 // cut short
        {"\xC0\xAF", r + r},         // overlong
        {"\xED\xA0\x80", r + r + r}, // a surrogate half
        {"\xEF\xBF\xBE", r},         // U+FFFE
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(XmlSafeText(text), expected) << ::testing::PrintToString(text);
    }
}

// ---------------------------------------------------------------------------
// Settings and connection policy

TEST(XmppSettings, ServerAddressesAndLoopbackHosts) {
    const std::vector<std::pair<std::string, std::optional<ServerAddress>>> servers = {
        {"xmpp.example.org", ServerAddress{"xmpp.example.org", 0}},
        {"xmpp.example.org:5223", ServerAddress{"xmpp.example.org", 5223}},
        {"127.0.0.1:15222", ServerAddress{"127.0.0.1", 15222}},
        {"[::1]:5222", ServerAddress{"::1", 5222}},
        {"[::1]", ServerAddress{"::1", 0}},
        {"::1", ServerAddress{"::1", 0}},
        {"host:0", std::nullopt},
        {"host:65536", std::nullopt},
        {"host:", std::nullopt},
        {":5222", std::nullopt},
        {"[::1]x", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, expected] : servers) {
        EXPECT_EQ(ParseServerAddress(text), expected) << text;
    }
    const std::vector<std::pair<std::string, bool>> hosts = {
        {"localhost", true},    {"127.0.0.1", true},    {"127.1.2.3", true},
        {"::1", true},          {"128.0.0.1", false},   {"127.0.0", false},
        {"127.0.0.1.", false},  {"127.0.0.256", false}, {"localhost.example.org", false},
        {"example.org", false}, {"0127.0.0.1", false},  {"", false},
    };
    for (const auto& [host, loopback] : hosts) {
        EXPECT_EQ(IsLoopbackHost(host), loopback) << host;
    }
}

TEST(XmppSettings, PlainConnectionsOnlyToTheLoopbackAddress) {
    const auto check = [](std::string jid, std::string server, bool plain) {
        XmppSettings settings;
        settings.Jid = std::move(jid);
        settings.ServerHost = std::move(server);
        settings.Plain = plain;
        CheckXmppSettings(settings);
    };
    EXPECT_NO_THROW(check("alice@example.org", "", false));
    EXPECT_NO_THROW(check("alice@example.org/pc", "xmpp.example.org", false));
    EXPECT_NO_THROW(check("alice@localhost", "", true));
    EXPECT_NO_THROW(check("alice@example.org", "127.0.0.1", true));
    EXPECT_THROW(check("alice@example.org", "", true), std::invalid_argument);
    EXPECT_THROW(check("alice@localhost", "192.168.1.2", true), std::invalid_argument);
    EXPECT_THROW(check("example.org", "", false), std::invalid_argument);
    EXPECT_THROW(check("alice@", "", false), std::invalid_argument);
}

TEST(XmppSettings, CommandLineOptions) {
    const auto read = [](std::vector<std::string_view> args) {
        return ReadPeerArguments(args);
    };
    const PeerSettings settings =
        read({"--xmpp", "alice@localhost", "--xmpp-server", "127.0.0.1:15222", "--xmpp-plain",
              "--xmpp-password-file", "/run/pw", "--xmpp-log", "x.log", "--xmpp-ca", "ca.pem"});
    EXPECT_EQ(settings.Xmpp.Jid, "alice@localhost");
    EXPECT_EQ(settings.Xmpp.ServerHost, "127.0.0.1");
    EXPECT_EQ(settings.Xmpp.ServerPort, 15222);
    EXPECT_TRUE(settings.Xmpp.Plain);
    EXPECT_EQ(settings.Xmpp.PasswordFile, "/run/pw");
    EXPECT_EQ(settings.Xmpp.LogPath, "x.log");
    EXPECT_EQ(settings.Xmpp.CaFile, "ca.pem");

    const std::vector<std::vector<std::string_view>> refused = {
        {"--xmpp", "alice@localhost", "--xmpp-password", "secret"},
        {"--xmpp", "alice@localhost", "--user", "me"},
        {"--xmpp", "alice@localhost", "--friends", "a,b"},
        {"--xmpp", "alice@localhost", "--script", "demo.txt"},
        {"--xmpp-plain"},
        {"--xmpp-server", "localhost"},
        {"--xmpp", "alice@localhost", "--xmpp-server", "host:port"},
    };
    for (const auto& args : refused) {
        EXPECT_THROW(read(args), std::invalid_argument) << ::testing::PrintToString(args);
    }
    try {
        read({"--xmpp", "alice@localhost", "--xmpp-password", "secret"});
    } catch (const std::invalid_argument& error) {
        EXPECT_THAT(error.what(), ::testing::Not(HasSubstr("secret")));
    }
}

TEST(XmppSettings, ThePasswordComesFromAFileOrTheEnvironmentWhichLosesIt) {
    const std::string path = ::testing::TempDir() + "xmpp-password.txt";
    { std::ofstream(path, std::ios::binary) << "s3cret pass\r\nsecond line\n"; }
    XmppSettings settings;
    settings.Jid = "alice@localhost";
    settings.PasswordFile = path;
    EXPECT_EQ(ReadXmppPassword(settings), "s3cret pass");
    std::remove(path.c_str());
    EXPECT_THROW(ReadXmppPassword(settings), std::runtime_error);

    settings.PasswordFile.clear();
    ::setenv(std::string(PasswordVariable).c_str(), "from env", 1);
    EXPECT_EQ(ReadXmppPassword(settings), "from env");
    EXPECT_EQ(std::getenv(std::string(PasswordVariable).c_str()), nullptr);
    EXPECT_EQ(ReadXmppPassword(settings), std::nullopt); // the keyring is asked next
}

TEST(XmppSettings, TheLogNeverShowsThePassword) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"SENT: <auth xmlns='urn:ietf:params:xml:ns:xmpp-sasl' mechanism='PLAIN'>"
         "AGFsaWNlAHMzY3JldA==</auth>",
         "SENT: <auth xmlns='urn:ietf:params:xml:ns:xmpp-sasl' mechanism='PLAIN'>"
         "[redacted]</auth>"},
        {"SENT: <response xmlns='urn:ietf:params:xml:ns:xmpp-sasl'>Yz1iaXdz</response>",
         "SENT: <response xmlns='urn:ietf:params:xml:ns:xmpp-sasl'>[redacted]</response>"},
        {"password is s3cret, twice s3cret", "password is [redacted], twice [redacted]"},
        {"RECV: <authors>kept</authors>", "RECV: <authors>kept</authors>"},
        {"RECV: <success xmlns='urn:ietf:params:xml:ns:xmpp-sasl'/>",
         "RECV: <success xmlns='urn:ietf:params:xml:ns:xmpp-sasl'/>"},
        {"<body>hello</body>", "<body>hello</body>"},
    };
    for (const auto& [line, expected] : cases) {
        EXPECT_EQ(RedactLogLine(line, "s3cret"), expected) << line;
    }
}

TEST(XmppSettings, ReconnectionWaitsDoubleFromOneSecondToAMinute) {
    ReconnectBackoff backoff;
    std::vector<long long> pauses;
    for (int i = 0; i < 9; ++i) {
        pauses.push_back(backoff.Next().count());
    }
    EXPECT_EQ(pauses, (std::vector<long long>{1, 2, 4, 8, 16, 32, 60, 60, 60}));
    backoff.Reset();
    EXPECT_EQ(backoff.Next().count(), 1);
}

TEST(XmppSettings, AFailedAttemptIsDescribedByItsMostTellingReport) {
    using Level = ConnectionProblem::Level;
    struct Report {
        Level Lvl;
        std::string Area;
        std::string Text;
    };
    struct Case {
        std::vector<Report> Log;
        std::string Expected;
        bool AuthFailed;
    };
    const std::vector<Case> cases = {
        {{{Level::Error, "tls", "No certfail handler set, canceling connection attempt"},
          {Level::Debug, "tls",
           "Certificate verification FAILED, result=X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT(18)"},
          {Level::Debug, "tls", "error:0A000086:SSL routines::certificate verify failed"},
          {Level::Error, "xmpp", "something generic afterwards"}},
         "TLS: the server's certificate is not trusted (X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT)",
         false},
        {{{Level::Debug, "xmpp", "Attempting to connect to 127.0.0.1"},
          {Level::Debug, "xmpp", "connection failed, error 111"}},
         "Connection refused",
         false},
        {{{Level::Error, "auth", "Cannot authenticate with known methods"}},
         "the server did not accept the account's password",
         true},
        {{{Level::Error, "tls", "Couldn't start TLS"}}, "TLS: Couldn't start TLS", false},
        {{{Level::Debug, "conn", "SENT: <presence/>"}, {Level::Warning, "xmpp", "odd"}}, "", false},
        // libstrophe hands the TLS layer's error code on as if it were errno:
        // 6, SSL_ERROR_ZERO_RETURN, is no "No such device or address".
        {{{Level::Debug, "tls", "error=SSL_ERROR_ZERO_RETURN(6) errno=0 lasterror=0"},
          {Level::Debug, "xmpp", "Unrecoverable TLS error, 6."}},
         "the server closed the connection",
         false},
        {{{Level::Debug, "tls", "error=SSL_ERROR_SYSCALL(5) errno=104 lasterror=0"}},
         "Connection reset by peer",
         false},
        {{{Level::Debug, "tls", "error=SSL_ERROR_SYSCALL(5) errno=0 lasterror=0"}},
         "the server closed the connection",
         false},
        // What the peer sent about bad XML is the cause; the close that follows is not.
        {{{Level::Debug, "xmpp", "parse error [<message>]"},
          {Level::Debug, "tls", "error=SSL_ERROR_ZERO_RETURN(6) errno=0 lasterror=0"}},
         "the server sent XML that cannot be read",
         false},
    };
    for (const Case& row : cases) {
        ConnectionProblem problem;
        for (const Report& report : row.Log) {
            problem.Take(report.Lvl, report.Area, report.Text);
        }
        EXPECT_EQ(problem.Text(), row.Expected);
        EXPECT_EQ(problem.AuthenticationFailed(), row.AuthFailed) << row.Expected;
        problem.Reset();
        EXPECT_EQ(problem.Text(), "");
    }
}

TEST(XmppSettings, AStalledSignInIsReportedWhereItStalled) {
    using Level = ConnectionProblem::Level;
    using Stage = ConnectionProblem::Stage;
    struct Case {
        std::vector<std::pair<std::string, std::string>> Log;
        std::optional<Stage> Reached;
        std::string Expected;
    };
    const std::string tail = " (no sign-in within 30 s)";
    const std::pair<std::string, std::string> connected{"xmpp", "connection successful"};
    const std::pair<std::string, std::string> header{"xmpp", "RECV: <stream:stream id='1'>"};
    const std::pair<std::string, std::string> tls{"xmpp", "proceeding with TLS"};
    // libstrophe says so also when the handshake failed: no sign of progress.
    const std::pair<std::string, std::string> verified{"tls", "Certificate verification passed"};
    const std::vector<Case> cases = {
        {{{"xmpp", "Attempting to connect to 127.0.0.1"}},
         std::nullopt,
         "the connection was not made" + tail},
        {{connected},
         std::nullopt,
         "the server accepted the connection but never opened its XMPP stream" + tail},
        {{connected, header},
         std::nullopt,
         "the server opened its XMPP stream, then stalled" + tail},
        {{connected, header, tls, verified},
         std::nullopt,
         "the server stalled the TLS handshake" + tail},
        // The stream opened again over TLS: the handshake is through.
        {{connected, header, tls, verified, header},
         std::nullopt,
         "the server stalled the sign-in after TLS" + tail},
        {{connected, header, tls, verified, header},
         Stage::AwaitingRoster,
         "the server did not send the roster" + tail},
    };
    for (const Case& row : cases) {
        ConnectionProblem problem;
        for (const auto& [area, text] : row.Log) {
            problem.Take(Level::Debug, area, text);
        }
        if (row.Reached) {
            problem.Reached(*row.Reached);
        }
        EXPECT_EQ(problem.StallText() + " (no sign-in within 30 s)", row.Expected);
    }
    // libstrophe's own wait for the stream's features ends before ours: a
    // stall, not a close by the server.
    ConnectionProblem problem;
    problem.Take(Level::Debug, "xmpp", "connection successful");
    problem.Take(Level::Debug, "xmpp", "RECV: <stream:stream id='1'>");
    problem.Take(Level::Debug, "xmpp", "didn't get stream features");
    problem.Take(Level::Debug, "tls", "error=SSL_ERROR_ZERO_RETURN(6) errno=0 lasterror=0");
    EXPECT_EQ(problem.Text(),
              "the server opened its XMPP stream, then stalled (no answer within 15 s)");
}

TEST(SocketDeadline, EndsTheWatchedSocketAtItsLimitAndNeverBefore) {
    using namespace std::chrono_literals;
    const auto pair = [] {
        std::array<int, 2> ends{};
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends.data()), 0);
        return ends;
    };
    const auto ended = [](int fd, int waitMs) {
        pollfd watched{fd, POLLIN, 0};
        char byte = 0;
        return ::poll(&watched, 1, waitMs) == 1 && ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
    };
    const auto stalled = pair();
    const auto later = pair();
    const auto spared = pair();
    {
        SocketDeadline deadline(300ms);
        deadline.Watch(stalled[0]);
        EXPECT_FALSE(ended(stalled[0], 100)) << "ended before its limit";
        EXPECT_FALSE(deadline.Expired());
        // A wait like libstrophe's TLS handshake, which only the socket's end ends.
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(ended(stalled[0], 5000));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
        EXPECT_TRUE(deadline.Expired());
        // A socket made after the limit (the next address tried) ends at once.
        deadline.Watch(later[0]);
        EXPECT_TRUE(ended(later[0], 0));
    }
    {
        SocketDeadline deadline(100ms);
        deadline.Watch(spared[0]);
    }
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(ended(spared[0], 0)) << "a deadline gone before its limit ends nothing";
    EXPECT_EQ(::send(spared[1], "x", 1, MSG_NOSIGNAL), 1);
    for (const auto& ends : {stalled, later, spared}) {
        ::close(ends[0]);
        ::close(ends[1]);
    }
}

// ---------------------------------------------------------------------------
// The chat client over a backend

class FakeBackend final : public ChatBackend {
public:
    std::string UserHandle() const override { return "alice@example.org"; }
    std::vector<std::string> Friends() const override { return Roster; }
    Delivery Deliver(std::string_view handle, std::string_view text) override {
        Sent.push_back(std::string(handle) + " " + std::string(text));
        return {Refusal, std::nullopt};
    }
    std::vector<std::string> Roster = {"bob@example.org", "carol@example.org"};
    std::vector<std::string> Sent;
    std::string Refusal;
};

TEST(ChatClientOverABackend, TheBackendGivesUserFriendsAndDeliveryAndMayRefuse) {
    FakeBackend backend;
    ChatClient client(backend);
    client.Clock = [] {
        return std::int64_t{1700000000};
    };
    EXPECT_EQ(client.Command("PROTOCOL 4").Lines.back(), "CURRENTUSERHANDLE alice@example.org");
    EXPECT_EQ(client.FriendsLine(), "USERS bob@example.org, carol@example.org");
    EXPECT_EQ(client.Command("SEARCH FRIENDS ").Lines.back(),
              "USERS bob@example.org, carol@example.org");
    backend.Roster = {};
    EXPECT_EQ(client.FriendsLine(), "USERS");

    backend.Refusal = "ERROR 8 Not connected to the chat network";
    EXPECT_EQ(client.Command("MESSAGE bob@example.org hi").Lines,
              std::vector<std::string>{backend.Refusal});
    backend.Refusal.clear();
    // The refused message took no id.
    EXPECT_EQ(
        client.Command("MESSAGE bob@example.org hi again\nsecond").Lines,
        (std::vector<std::string>{"CHATMESSAGE 1 STATUS SENDING", "CHATMESSAGE 1 STATUS SENT"}));
    EXPECT_EQ(backend.Sent.back(), "bob@example.org hi again\nsecond");
    EXPECT_EQ(client.Command("GET CHATMESSAGE 1 CHATNAME").Lines.back(),
              "CHATMESSAGE 1 CHATNAME alice@example.org/bob@example.org");
}

TEST(XmppAccountOffline, MessagesAreRefusedWithTheChatClientsErrorLines) {
    XmppSettings settings;
    settings.Jid = "alice@example.org/velantro";
    XmppAccount account(settings, "pw", {});
    ChatClient client(account);
    EXPECT_EQ(client.UserHandle(), "alice@example.org");
    EXPECT_EQ(client.FriendsLine(), "USERS");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"MESSAGE bob@example.org/phone hi", std::string(errors::InvalidUserHandle)},
        {"MESSAGE bo<b@example.org hi", std::string(errors::InvalidUserHandle)},
        {"MESSAGE @example.org hi", std::string(errors::InvalidUserHandle)},
        // A handle the friends list could not carry is never written to.
        {"MESSAGE ann,carol@example.org hi", std::string(errors::InvalidUserHandle)},
        // A valid JID, but nothing is queued while the account is not signed in.
        {"MESSAGE bob@example.org hi", std::string(NotConnectedError)},
    };
    for (const auto& [command, error] : cases) {
        EXPECT_EQ(client.Command(command).Lines, std::vector<std::string>{error}) << command;
    }
    EXPECT_THAT(client.Command("GET CHATMESSAGE 1 BODY").Lines,
                ::testing::ElementsAre(std::string(errors::InvalidMessageId)));

    settings.LogPath = ::testing::TempDir() + "no-such-folder/xmpp.log";
    EXPECT_THROW(XmppAccount(settings, "pw", {}), std::runtime_error);
}

} // namespace
