#pragma once

// How an XMPP account looks through the chat client's API: the bare JID is
// the user's handle, the roster's subscribed items are the friends, chat and
// normal messages with a body are incoming chat messages. Works on stanzas
// alone, so it is tested without a server.

#include "ChatBackend.h"
#include "Jid.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <strophe.h>
#include <utility>
#include <vector>

namespace velantro::standins {

/// What one message stanza brings to the chat client.
struct XmppArrival {
    enum class Kind {
        Nothing,  ///< no chat message: a receipt, typing, an error, a group chat ...
        Received, ///< a message from a contact
        Own,      ///< a message the user wrote on another device
        Forged,   ///< a carbon or archive result from someone but the account itself
    };
    Kind What = Kind::Nothing;
    /// The contact: the sender of a received message, the addressee of one's own.
    std::string Partner;
    std::string Body;
    /// When it was sent, in seconds since 1970, from its delay stamp; 0 without one.
    std::int64_t Timestamp = 0;
    /// The id the account's archive gave it (its result id, or the stanza-id
    /// by the account's bare JID); empty without one.
    std::string ArchiveId;
    /// The sender's bare JID and the stanza's id, which tell a copy of a
    /// message from another; empty when it has no id.
    std::string SenderKey;
    /// The archive query an archive result answers; empty for anything else.
    std::string QueryId;

    bool operator==(const XmppArrival&) const = default;
};

/// The end of a page of archive results.
struct ArchivePage {
    bool Answered = false;     ///< a result; else an error
    bool ItemNotFound = false; ///< the error says the message paged after is unknown
    bool Complete = false;     ///< no more after this page
    std::string Last;          ///< the id of the page's last message; empty for none

    bool operator==(const ArchivePage&) const = default;
};

/// Seconds since 1970 of an XMPP date and time (XEP-0082:
/// 2024-05-01T12:00:00Z, with fractions of a second or an offset); nothing
/// when it is not one.
std::optional<std::int64_t> ReadXmppTime(std::string_view text);

/// Whether text is an id the peer keeps (archive positions, message ids):
/// 1 to 256 printable ASCII characters, no blank.
bool KeepableId(std::string_view text);

class XmppMapping {
public:
    /// ownJid: the account's JID (its resource, if any, is dropped).
    explicit XmppMapping(std::string_view ownJid);

    /// The user's handle: the account's bare JID.
    const std::string& OwnHandle() const { return Own; }

    /// The ids of the messages this peer sends start with prefix: their
    /// copies (in the archive) are no news to the chat client.
    void SetOwnIdPrefix(std::string prefix) { OwnIdPrefix = std::move(prefix); }

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

    /// What a message stanza brings: chat and normal messages with a
    /// non-empty body, from someone's bare JID, are received messages.
    /// Error, group-chat and headline messages, messages of group-chat rooms
    /// and bodyless ones (typing, receipts) bring nothing. A carbon (only
    /// from the account's bare JID) brings the message it copies: a received
    /// one, or one the user sent from another device. So does a result of
    /// the account's own archive (from the account itself, or no sender).
    XmppArrival Read(xmpp_stanza_t* message) const;

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

    /// A disco#info request to (a JID, or the server's domain).
    static xmpp_stanza_t* DiscoInfo(xmpp_ctx_t* ctx, const std::string& to, const std::string& id);
    /// Whether a disco#info result offers feature.
    static bool Offers(xmpp_stanza_t* result, std::string_view feature);
    /// The request that turns message carbons on.
    static xmpp_stanza_t* EnableCarbons(xmpp_ctx_t* ctx, const std::string& id);
    /// A query of the account's archive: page messages after (empty: from
    /// the start), or, newest, the newest message alone.
    static xmpp_stanza_t* ArchiveQuery(xmpp_ctx_t* ctx, const std::string& id,
                                       const std::string& queryId, const std::string& after,
                                       std::size_t page, bool newest);
    /// The end of an archive query (the answer to ArchiveQuery).
    static ArchivePage ReadArchivePage(xmpp_stanza_t* iq);

private:
    bool FromAccountItself(xmpp_stanza_t* stanza) const;
    /// A chat message, received or the user's own; copied: from a carbon
    /// or the archive, where the user's own messages may be.
    XmppArrival Plain(xmpp_stanza_t* message, bool copied) const;
    XmppArrival Carbon(xmpp_stanza_t* message, xmpp_stanza_t* carbon) const;
    XmppArrival ArchiveResult(xmpp_stanza_t* message, xmpp_stanza_t* result) const;
    /// Stores one roster item, or notes it as refused when its JID cannot be a
    /// friend.
    void TakeItem(std::string_view jid, std::string_view subscription);

    std::string Own;
    std::string OwnIdPrefix;
    /// Roster JID -> its subscription ("none", "to", "from", "both").
    std::map<std::string, std::string> Roster;
    /// Refused JIDs not yet taken, and every one ever named.
    std::vector<std::string> Refused;
    std::set<std::string> EverRefused;
};

} // namespace velantro::standins
