#pragma once

// How an XMPP account looks through the chat client's API: the bare JID is
// the user's handle, the roster's subscribed items are the friends, chat and
// normal messages with a body are incoming chat messages. Works on stanzas
// alone, so it is tested without a server.

#include "ChatBackend.h"
#include "Jid.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <strophe.h>
#include <vector>

namespace velantro::standins {

class XmppMapping {
public:
    /// ownJid: the account's JID (its resource, if any, is dropped).
    explicit XmppMapping(std::string_view ownJid);

    /// The user's handle: the account's bare JID.
    const std::string& OwnHandle() const { return Own; }

    /// The roster items whose presence the user sees (subscription "to" or
    /// "both"), by JID; only JIDs the chat client's lines can carry
    /// (IsFriendHandle).
    std::vector<std::string> Friends() const;

    /// The roster items that would be friends but whose JID the chat
    /// client's lines cannot carry, met since the last call: each is named
    /// once, the first time it comes.
    std::vector<std::string> TakeRefused();

    /// Replaces the roster with the items of a roster result (an iq of type
    /// result); gives whether the friends changed.
    bool TakeRoster(xmpp_stanza_t* iq);

    enum class PushOutcome {
        Ignored,   ///< not from the account itself: a forged push, dropped unanswered
        Unchanged, ///< applied; the friends are the same
        Changed,   ///< applied; the friends changed
    };
    /// Applies a roster push (an iq of type set with a roster query).
    PushOutcome TakePush(xmpp_stanza_t* iq);

    /// The chat message a message stanza brings, if any: chat and normal
    /// messages with a non-empty body, from someone's bare JID. Error,
    /// group-chat and headline messages, messages of group-chat rooms,
    /// bodyless ones (typing, receipts) and carbons of the user's own
    /// messages bring none; a carbon of a received message (from the account
    /// itself only) brings the message it carries.
    std::optional<IncomingMessage> Incoming(xmpp_stanza_t* message) const;

    /// A chat message from the user to handle (a bare JID); the caller
    /// releases it.
    static xmpp_stanza_t* ChatMessage(xmpp_ctx_t* ctx, std::string_view handle,
                                      std::string_view text, const std::string& id);

    /// The answer to a request (an iq of type get or set): an empty result,
    /// or the error that says this client offers no such service. A request
    /// without a sender (from the server on the account's behalf) is answered
    /// without an addressee.
    static xmpp_stanza_t* IqResult(xmpp_ctx_t* ctx, xmpp_stanza_t* request);
    static xmpp_stanza_t* IqUnavailable(xmpp_ctx_t* ctx, xmpp_stanza_t* request);

private:
    bool FromAccountItself(xmpp_stanza_t* stanza) const;
    std::optional<IncomingMessage> Plain(xmpp_stanza_t* message) const;
    /// Stores one roster item, or notes it as refused when its JID cannot be a
    /// friend.
    void TakeItem(std::string_view jid, std::string_view subscription);

    std::string Own;
    /// Roster JID -> its subscription ("none", "to", "from", "both").
    std::map<std::string, std::string> Roster;
    /// Refused JIDs not yet taken, and every one ever named.
    std::vector<std::string> Refused;
    std::set<std::string> EverRefused;
};

} // namespace velantro::standins
