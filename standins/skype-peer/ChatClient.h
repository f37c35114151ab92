#pragma once

// The chat client that skype-peer plays, without any transport: command
// lines in, answer lines out.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velantro::standins {

/// A chat message that reaches this client's user from a contact.
struct IncomingMessage {
    std::string From;
    std::string Body;

    bool operator==(const IncomingMessage&) const = default;
};

/// What the client sends back for one command line.
struct Answer {
    /// Lines to the command's sender, in this order.
    std::vector<std::string> Lines;
    /// The command completed a handshake (its last line reports the user's handle).
    bool HandshakeDone = false;
    /// A message the echo contact sends back afterwards.
    std::optional<IncomingMessage> Echo;
};

/// The chat client's state: its user, friends and chat messages.
class ChatClient {
public:
    struct Options {
        std::string UserHandle = "me";
        std::vector<std::string> Friends = {"alice", "bob", "echo"};
        /// The contact that answers every message with its text; empty for none.
        std::string EchoContact = "echo";
    };

    explicit ChatClient(Options options);

    /// Answers one command line (without its NUL).
    Answer Command(std::string_view line);

    /// Stores a message from a contact and gives the line that announces it.
    std::string Receive(const IncomingMessage& message);

    const Options& Settings() const { return Config; }

    /// Seconds since the epoch, for TIMESTAMP; replaceable for tests.
    std::function<std::int64_t()> Clock;

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
    bool IsFriend(std::string_view handle) const;

    Options Config;
    std::map<std::int32_t, ChatMessage> Messages;
    std::int32_t NextId = 1;
};

/// Error lines of the client: "ERROR", the number, a blank and the text.
namespace errors {
inline constexpr std::string_view UnknownCommand = "ERROR 1 Unknown command";
inline constexpr std::string_view InvalidMessageId = "ERROR 2 Invalid chat message id";
inline constexpr std::string_view UnknownProperty = "ERROR 3 Unknown chat message property";
inline constexpr std::string_view InvalidUserHandle = "ERROR 4 Invalid user handle";
inline constexpr std::string_view SearchNotSupported = "ERROR 5 Search type not supported";
inline constexpr std::string_view InvalidProtocol = "ERROR 6 Invalid protocol number";
} // namespace errors

} // namespace velantro::standins
