#pragma once

// What the conversation core keeps its pages in: every entry a page shows,
// stored as it is shown, and the pages brought back, searched and forgotten.
// HistoryStore keeps them in a file; the core sees only this.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velantro::history {

enum class Direction : std::uint8_t { Received = 0, Sent = 1 };

/// How a stored entry came about (stored as small integers; never renumber).
enum class Outcome : std::uint8_t {
    Shown = 0,   ///< received, on the page
    Sent = 1,    ///< sent when the user pressed Send
    SentLate = 2 ///< the chat client took it after its time limit had passed
};

struct StoredEntry {
    std::int64_t Id = 0;   ///< assigned by Append
    std::int64_t Time = 0; ///< seconds since the epoch, UTC
    std::string Partner;   ///< the chat handle, bytes
    std::string Sender;    ///< the handle the entry shows; empty when not known
    Direction Way = Direction::Received;
    std::string Original;    ///< UTF-8: what was received / what the user typed
    std::string Translation; ///< UTF-8: empty when not translated
    std::int32_t FromLanguage = 0;
    std::int32_t ToLanguage = 0;
    Outcome Result = Outcome::Shown;
    bool Translated = false;
    bool Missed = false; ///< received while Velantro was closed
    bool operator==(const StoredEntry&) const = default;
};

/// Entries oldest first; MoreBefore when the partner has entries older than
/// the first, MoreAfter when newer than the last.
struct Slice {
    std::vector<StoredEntry> Entries;
    bool MoreBefore = false;
    bool MoreAfter = false;
};

class ConversationHistory {
public:
    virtual ~ConversationHistory() = default;

    /// Stores entry as its partner's newest and gives its id; empty when it
    /// could not be written (LastError says why).
    virtual std::optional<std::int64_t> Append(const StoredEntry& entry) = 0;
    /// Gives entry id new content, keeping its id, partner and place.
    virtual bool Replace(std::int64_t id, const StoredEntry& entry) = 0;
    /// The partners' handles in page order.
    virtual std::vector<std::string> Conversations() const = 0;
    /// The newest limit entries of partner.
    virtual Slice Recent(std::string_view partner, std::size_t limit) const = 0;
    /// The newest limit entries of partner older than entry id.
    virtual Slice Before(std::string_view partner, std::int64_t id, std::size_t limit) const = 0;
    /// Entry id (or the first after it) and the ones after it, at most limit.
    virtual Slice From(std::string_view partner, std::int64_t id, std::size_t limit) const = 0;
    /// Partner's entries that hold every word of text, newest first.
    virtual std::vector<StoredEntry> Search(std::string_view partner, std::string_view text,
                                            std::size_t limit) const = 0;
    /// Forgets partner's entries; true when nothing of them is kept.
    virtual bool DeleteConversation(std::string_view partner) = 0;
    /// Why the last call failed, for the user.
    virtual std::string LastError() const = 0;
};

} // namespace velantro::history
