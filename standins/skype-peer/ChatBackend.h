#pragma once

// What stands behind the chat client that skype-peer plays: the account, its
// friends and where the user's messages go. The chat-client side (commands,
// message ids, notifications) is the same whatever stands behind it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velantro::standins {

/// Error lines of the client: "ERROR", the number, a blank and the text.
namespace errors {
inline constexpr std::string_view UnknownCommand = "ERROR 1 Unknown command";
inline constexpr std::string_view InvalidMessageId = "ERROR 2 Invalid chat message id";
inline constexpr std::string_view UnknownProperty = "ERROR 3 Unknown chat message property";
inline constexpr std::string_view InvalidUserHandle = "ERROR 4 Invalid user handle";
inline constexpr std::string_view SearchNotSupported = "ERROR 5 Search type not supported";
inline constexpr std::string_view InvalidProtocol = "ERROR 6 Invalid protocol number";
} // namespace errors

/// A chat message that reaches this client's user from a contact.
struct IncomingMessage {
    std::string From;
    std::string Body;
    /// When it was sent, in seconds since 1970, where the network says so
    /// (a message kept for the user while away); 0: when it arrives.
    std::int64_t Timestamp = 0;
    /// The backend's own mark for it, handed back by ChatBackend::Settled;
    /// 0 for none.
    std::uint64_t Tag = 0;

    bool operator==(const IncomingMessage&) const = default;
};

/// A chat message the user wrote elsewhere (another device of the account).
struct OwnMessage {
    std::string To;
    std::string Body;
    /// As IncomingMessage::Timestamp.
    std::int64_t Timestamp = 0;

    bool operator==(const OwnMessage&) const = default;
};

/// What became of a message the user sent.
struct Delivery {
    /// The chat client's ERROR line when the message could not go out; empty
    /// when it went.
    std::string Error;
    /// A message the contact sends back at once, after the answer.
    std::optional<IncomingMessage> Reply;
};

class ChatBackend {
public:
    virtual ~ChatBackend() = default;

    /// The user's own handle (CURRENTUSERHANDLE).
    virtual std::string UserHandle() const = 0;
    /// The friends' handles, in the order the friends search gives them.
    virtual std::vector<std::string> Friends() const = 0;
    /// Sends text to handle (a handle without blanks or control bytes).
    virtual Delivery Deliver(std::string_view handle, std::string_view text) = 0;
    /// The message tagged tag needs no offering again: a program took its
    /// notification, the user saw it, or the client forgot it. A backend
    /// that can fetch messages again (an archive) moves past it.
    virtual void Settled(std::uint64_t /*tag*/) {}
};

/// The played chat network: a fixed user and friends, and an echo contact
/// that answers every message with its own text.
class ScriptBackend final : public ChatBackend {
public:
    struct Options {
        std::string UserHandle = "me";
        std::vector<std::string> Friends = {"alice", "bob", "echo"};
        /// The contact that answers every message with its text; empty for none.
        std::string EchoContact = "echo";
    };

    explicit ScriptBackend(Options options)
        : Config(std::move(options)) {}

    std::string UserHandle() const override { return Config.UserHandle; }
    std::vector<std::string> Friends() const override { return Config.Friends; }
    Delivery Deliver(std::string_view handle, std::string_view text) override {
        Delivery delivery;
        // Only a friend can be written to; the client answers anyone else as
        // it answers a handle it cannot read.
        if (!IsFriend(handle)) {
            delivery.Error = errors::InvalidUserHandle;
            return delivery;
        }
        if (!Config.EchoContact.empty() && handle == Config.EchoContact) {
            delivery.Reply = IncomingMessage{std::string(handle), std::string(text)};
        }
        return delivery;
    }

private:
    bool IsFriend(std::string_view handle) const;

    Options Config;
};

} // namespace velantro::standins
