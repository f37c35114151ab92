#pragma once

// The chat client that skype-peer plays, without any transport: command
// lines in, answer lines out.

#include "ChatBackend.h"

#include <cstdint>
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
class ChatClient {
public:
    using Options = ScriptBackend::Options;

    /// A client over the played network of options.
    explicit ChatClient(Options options);
    /// A client over backend, which must outlive it.
    explicit ChatClient(ChatBackend& backend);

    /// Answers one command line (without its NUL).
    Answer Command(std::string_view line);

    /// Stores a message from a contact and gives the line that announces it.
    std::string Receive(const IncomingMessage& message);

    std::string UserHandle() const { return Backend->UserHandle(); }

    /// Numbers the messages from first on (from 1 unless told).
    void NumberMessagesFrom(std::int32_t first) { NextId = first; }

    /// The friends search's answer ("USERS a, b"), also sent unasked when the
    /// friends change.
    std::string FriendsLine() const;

    /// Seconds since the epoch, for TIMESTAMP; replaceable for tests.
    std::function<std::int64_t()> Clock = SecondsNow;

private:
    struct ChatMessage {
        std::string From;
        std::string Partner;
        std::string Body;
        std::string Status;
        std::int64_t Timestamp = 0;
    };

    Answer Protocol(std::string_view rest);
    Answer Search(std::string_view rest);
    Answer Get(std::string_view rest);
    Answer GetChatMessage(std::string_view rest);
    Answer Message(std::string_view rest);
    std::int32_t Store(ChatMessage message);
    /// A handle of the friends list (or the echo contact), ASCII case ignored.

    std::unique_ptr<ChatBackend> OwnBackend;
    ChatBackend* Backend = nullptr;
    std::map<std::int32_t, ChatMessage> Messages;
    std::int32_t NextId = 1;
};

} // namespace velantro::standins
