#pragma once

// The chat client that skype-peer plays, without any transport: command
// lines in, answer lines out.

#include "ChatBackend.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velantro::standins {

/// What the client sends back for one command line.
struct Answer {
    /// Lines to the command's sender, in this order.
    std::vector<std::string> Lines;
    /// The command completed a handshake (its last line reports the user's handle).
    bool HandshakeDone = false;
    /// A message the echo contact sends back afterwards.
    std::optional<IncomingMessage> Echo;
};

/// Seconds since the epoch, now.
std::int64_t SecondsNow();

/// The number of the first message of a client started at millisecondsNow
/// (since the epoch). A chat client numbers its messages for good, and a
/// program that talked to one run of it takes a number it has seen for a
/// message it has seen; so a client started again must not give the numbers
/// of its earlier run again. The played client keeps no history, so it
/// counts on from the time: a number for every millisecond, round again
/// every 24.8 days.
std::int32_t FirstMessageId(std::int64_t millisecondsNow);

/// Milliseconds since the epoch, now.
std::int64_t MillisecondsNow();

/// The chat client's state: its chat messages, over a backend that knows the
/// user, the friends and where messages go.
///
/// A received message is missed until a program takes its notification or
/// marks it seen; a client that runs for weeks keeps only the newest: the
/// last MaxMissed missed messages (the oldest forgotten as missed first),
/// and besides them the last MaxKept others, so that GET still answers for
/// what a program was told of lately. Each group is also bounded in bytes.
class ChatClient {
public:
    using Options = ScriptBackend::Options;

    static constexpr std::size_t MaxMissed = 10000;
    static constexpr std::size_t MaxKept = 10000;
    static constexpr std::size_t MaxMissedBytes = std::size_t{32} * 1024 * 1024;
    static constexpr std::size_t MaxKeptBytes = std::size_t{32} * 1024 * 1024;

    /// A stored message and the line that announces it.
    struct Notice {
        std::int32_t Id = 0;
        std::string Line;
    };

    /// A client over the played network of options.
    explicit ChatClient(Options options);
    /// A client over backend, which must outlive it.
    explicit ChatClient(ChatBackend& backend);

    /// Answers one command line (without its NUL).
    Answer Command(std::string_view line);

    /// Stores a message from a contact as missed (until a program takes its
    /// announcement or marks it seen) and gives the line that announces it.
    Notice Receive(const IncomingMessage& message);
    /// Stores a message the user wrote elsewhere, and gives the line that
    /// announces it as sent.
    Notice RecordOwn(const OwnMessage& message);
    /// A program took the notification of message id: it is missed no more.
    void Taken(std::int32_t id);
    std::size_t MissedCount() const { return Missed.size(); }

    std::string UserHandle() const { return Backend->UserHandle(); }

    /// Numbers the messages from first on (from 1 unless told).
    void NumberMessagesFrom(std::int32_t first) { NextId = first; }

    /// The friends search's answer ("USERS a, b"), also sent unasked when the
    /// friends change.
    std::string FriendsLine() const;

    /// Seconds since the epoch, for TIMESTAMP; replaceable for tests.
    std::function<std::int64_t()> Clock = SecondsNow;
    /// A missed message forgotten as missed for want of room (id, sender, text).
    std::function<void(std::int32_t id, const std::string& from, const std::string& body)>
        OnForgotten;

private:
    struct ChatMessage {
        std::string From;
        std::string Partner;
        std::string Body;
        std::string Status;
        std::int64_t Timestamp = 0;
        std::uint64_t Tag = 0;
        /// Its place in the order messages were stored.
        std::uint64_t Arrival = 0;
        bool Missed = false;

        std::size_t Bytes() const { return From.size() + Partner.size() + Body.size(); }
    };

    Answer Protocol(std::string_view rest);
    Answer Search(std::string_view rest);
    Answer Get(std::string_view rest);
    Answer GetChatMessage(std::string_view rest);
    Answer Set(std::string_view rest);
    Answer Message(std::string_view rest);
    std::int32_t Store(ChatMessage message);
    /// Moves a missed message to the kept ones and tells the backend.
    void Settle(std::int32_t id, ChatMessage& message);
    void Keep(std::int32_t id, const ChatMessage& message);
    void Forget(std::int32_t id);
    void Trim();
    std::int64_t Now() const { return Clock ? Clock() : 0; }

    std::unique_ptr<ChatBackend> OwnBackend;
    ChatBackend* Backend = nullptr;
    std::map<std::int32_t, ChatMessage> Messages;
    /// The missed messages by arrival, oldest first.
    std::map<std::uint64_t, std::int32_t> Missed;
    std::size_t MissedBytes = 0;
    /// The other messages (arrival, id) in the order they stopped being
    /// missed or were stored; an entry whose message has gone is skipped.
    std::deque<std::pair<std::uint64_t, std::int32_t>> KeptOrder;
    std::size_t KeptCount = 0;
    std::size_t KeptBytes = 0;
    std::uint64_t Arrivals = 0;
    std::int32_t NextId = 1;
};

} // namespace velantro::standins
