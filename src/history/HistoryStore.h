#pragma once

// The conversation history: every entry a page shows, kept in one SQLite file
// so that the pages come back at the next start. One running Velantro owns a
// file at a time (a lock beside it); every write is one transaction in WAL
// mode, so a crash loses at most the entry being written and never the file.
// A file written by a newer release is never written to.
//
// A store is used from one thread at a time.

#include "history/ConversationHistory.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velantro::history {

/// Why Open gave no store.
enum class Problem {
    None,
    Unreadable,   ///< not a regular file, not a database, damaged, or another program's
    Locked,       ///< another Velantro has it open
    Newer,        ///< written by a newer release; left as it is
    CannotCreate, ///< the file, its folder or its lock can't be made or written
    Unsupported   ///< the SQLite library lacks full-text search (FTS5)
};

class HistoryStore;

struct OpenResult {
    std::unique_ptr<HistoryStore> Store;
    Problem Why = Problem::None;
    std::string Detail; ///< what went wrong, naming the file, for the user
};

class HistoryStore final : public ConversationHistory {
public:
    using Slice = history::Slice;

    /// The file's layout this release writes; user_version in the file.
    static constexpr int SchemaVersion = 3;
    /// Original and Translation longer than this many bytes are stored cut
    /// there, at the start of the UTF-8 character the limit falls in.
    static constexpr std::size_t MaxTextBytes = std::size_t{1} << 20;
    /// Longer handles are refused: cutting one would merge two partners.
    static constexpr std::size_t MaxPartnerBytes = 4096;
    /// The most entries one call returns; a larger limit counts as this.
    static constexpr std::size_t MaxSliceEntries = 10000;

    /// Opens file, creating it (and its missing folders, 0700) when absent
    /// and bringing an older layout up to date. A symbolic link is followed to
    /// a regular file; anything else at the path is Unreadable, untouched.
    static OpenResult Open(const std::filesystem::path& file);

    ~HistoryStore() override;
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    /// Stores entry as its partner's newest and gives its id; the partner's
    /// conversation is created (last in the page order) on first use. Empty
    /// when the write failed (LastError) or the handle is empty or too long.
    std::optional<std::int64_t> Append(const StoredEntry& entry) override;

    /// Gives entry id new content (a message translated later, a send
    /// settled), keeping its id, partner and place. False when there is no
    /// such entry or the write failed.
    bool Replace(std::int64_t id, const StoredEntry& entry) override;

    /// The partners' handles (as first stored) in page order: the order of
    /// their first entries.
    std::vector<std::string> Conversations() const override;

    /// The newest limit entries of partner.
    Slice Recent(std::string_view partner, std::size_t limit) const override;
    /// The newest limit entries of partner older than entry id.
    Slice Before(std::string_view partner, std::int64_t id, std::size_t limit) const override;
    /// Entry id (or the first after it) and the ones after it, at most limit:
    /// a found entry shown in its place. From(partner, last.Id + 1, ...) goes on.
    Slice From(std::string_view partner, std::int64_t id, std::size_t limit) const override;

    /// Partner's entries whose original or translation holds every word of
    /// text, in any order, the last one also as the start of a word ("coff"
    /// finds "coffee"), without regard to case or accents ("cafe" finds
    /// "café"); newest first, at most limit. Every character of text is taken
    /// literally; text without a word finds nothing.
    std::vector<StoredEntry> Search(std::string_view partner, std::string_view text,
                                    std::size_t limit) const override;

    /// Removes partner's entries, their index rows and the conversation in
    /// one transaction, then overwrites what they took in the file and its
    /// write-ahead log. True when partner has nothing stored afterwards
    /// (also when it had nothing); false when a step failed (LastError).
    bool DeleteConversation(std::string_view partner) override;

    /// SQLite's reason for the last failed call, for the status line (disk
    /// full, read-only).
    std::string LastError() const override;

    /// Handles compare as one when equal but for ASCII case.
    static std::string PartnerKey(std::string_view partner);

private:
    struct State;
    struct Key {
        explicit Key() = default;
    };

public:
    /// Made by Open only: Key is its pass.
    HistoryStore(Key, std::unique_ptr<State> state);

private:
    std::unique_ptr<State> Self;
};

} // namespace velantro::history
