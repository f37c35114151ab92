#pragma once

// The account's message archive (XEP-0313) as skype-peer reads it: which
// messages are news to the chat client, how far the archive has been read,
// and the small file that remembers it between runs. Works on plain data; the
// account sends the queries and hands over the messages.
//
// The position moves past a message only once the chat client needs it no
// more (a program took it, the user saw it, or it was forgotten), so a
// message that came while no program was attached is offered again after a
// restart of the peer, and one that was seen is not.

#include "XmppMapping.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace velantro::standins {

/// What the peer remembers of an account's archive between runs.
struct ArchiveState {
    /// Marks the ids of the messages this peer sends (16 hex digits), made
    /// once per account, so that their copies in the archive are told apart
    /// from what the user wrote on another device.
    std::string Device;
    /// Whether a position in the archive is known.
    bool Known = false;
    /// The archive id after which reading resumes; empty: the archive's start.
    std::string After;
    /// Messages after that one that need no offering again.
    std::vector<std::string> Settled;

    bool operator==(const ArchiveState&) const = default;
};

/// The state file's text.
std::string ArchiveStateText(const ArchiveState& state);
/// A state from a state file's text; nothing when it is not one. Keeps at
/// most MaxRememberedSettled settled ids, the last ones.
std::optional<ArchiveState> ReadArchiveStateText(std::string_view text);

/// Where the state of account (a bare JID) is kept:
/// stateHome/velantro/xmpp-<account>.state, stateHome being $XDG_STATE_HOME
/// when absolute, else home/.local/state; bytes other than letters, digits
/// and "@._+-" written %XX. Empty when neither is known.
std::string ArchiveStatePath(std::string_view account, std::string_view stateHome,
                             std::string_view home);

/// The state in the file at path; nothing when there is none. A file that is
/// no regular file, too big or no state file gives nothing too, and says why
/// in problem.
std::optional<ArchiveState> LoadArchiveState(const std::string& path, std::string& problem);
/// Writes the state to path through a temporary file and a rename, making its
/// folder if need be. Throws std::runtime_error saying what failed.
void SaveArchiveState(const std::string& path, const ArchiveState& state);

class XmppArchive {
public:
    /// Messages asked for per page, and at most per sign-in.
    static constexpr std::size_t PageSize = 100;
    static constexpr std::size_t MaxPerSignIn = 10000;
    /// How many ids of messages handed over are remembered to tell copies apart.
    static constexpr std::size_t MaxRemembered = 20000;
    /// How many messages may wait, in archive order, for the ones before
    /// them to settle; beyond, the position moves past the oldest anyway.
    static constexpr std::size_t MaxWaiting = 1000;
    /// Settled ids kept in the state file.
    static constexpr std::size_t MaxRememberedSettled = 2000;
    /// The state file's largest size.
    static constexpr std::size_t MaxStateBytes = std::size_t{1} << 20;

    /// A query to send: messages after After (empty: from the start), or
    /// the newest message alone.
    struct Query {
        std::string Id;
        std::string After;
        bool Newest = false;

        bool operator==(const Query&) const = default;
    };

    /// What to do with an arriving message.
    struct Admission {
        bool News = false;     ///< hand it over
        std::uint64_t Tag = 0; ///< its mark for ChatBackend::Settled; 0: none needed

        bool operator==(const Admission&) const = default;
    };

    /// Over the state of an earlier run, or none (a device mark is made).
    explicit XmppArchive(std::optional<ArchiveState> state);

    const std::string& Device() const { return State.Device; }

    /// Signed in where the archive is offered: its first query. Without a
    /// known position it asks for the newest message only, which marks where
    /// reading starts: nothing from before the first sign-in is fetched.
    Query Begin();
    /// The end of the current query's page: the next query, or nothing when
    /// the archive has been read. problem is set to a line worth reporting,
    /// note to one worth telling.
    std::optional<Query> PageEnded(const ArchivePage& page, std::string& problem,
                                   std::string& note);
    /// The connection is gone: a reading under way ends.
    void SignedOut();
    bool Reading() const { return !Current.Id.empty(); }

    /// Whether arrival (live, offline, a carbon or an archive result) is news
    /// to the chat client: not a copy of one handed over, nor of one settled
    /// in an earlier run.
    Admission Admit(const XmppArrival& arrival);
    /// The chat client needs the message tagged tag no more.
    void Settled(std::uint64_t tag);

    /// Whether the state to save changed since the last TakeState.
    bool Changed() const { return Dirty && State.Known; }
    ArchiveState TakeState();

private:
    struct Entry {
        std::string Id;
        std::uint64_t Tag = 0;
        bool Settled = false;
    };

    Query Ask(std::string after, bool newest);
    void Finish(bool placeHeld);
    void Place(Entry entry);
    void Advance();
    void MoveTo(const std::string& id);
    bool Remembered(const std::string& key) const;
    void Remember(const std::string& key);

    ArchiveState State;
    bool Dirty = false;
    Query Current;
    std::size_t Fetched = 0;
    unsigned QueryNumber = 0;
    std::uint64_t LastTag = 0;
    /// Handed over, in archive order, after State.After.
    std::deque<Entry> Entries;
    /// Handed over live while the archive is read, placed as its results
    /// come (or after them).
    std::vector<Entry> Held;
    /// Settled in an earlier run, not met yet in the archive.
    std::set<std::string> SettledEarlier;
    std::deque<std::string> RecentOrder;
    std::unordered_set<std::string> Recent;
};

} // namespace velantro::standins
