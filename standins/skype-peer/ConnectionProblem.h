#pragma once

// Why an XMPP connection attempt failed, in words a user can act on, read
// from what libstrophe reports through its log while it tries, and how far
// the attempt had come.

#include <chrono>
#include <string>
#include <string_view>

namespace velantro::standins {

class ConnectionProblem {
public:
    enum class Level { Debug, Info, Warning, Error };

    /// How far a sign-in has come, in order.
    enum class Stage {
        Connecting,     ///< the TCP connection is being made
        AwaitingStream, ///< connected; the server has not opened its stream
        Negotiating,    ///< the server's stream is open; TLS not yet started
        TlsHandshake,   ///< the TLS handshake is under way
        SigningIn,      ///< TLS is up: authentication and the session
        AwaitingRoster, ///< the session is up; the roster has been asked for
    };

    /// Takes one message of libstrophe's log (its area and its text).
    void Take(Level level, std::string_view area, std::string_view text);

    /// The attempt has come as far as stage (it never goes back).
    void Reached(Stage stage);
    Stage Progress() const { return Where; }

    /// The server refused the account's credentials.
    bool AuthenticationFailed() const { return AuthFailed; }
    /// What went wrong, the most telling report first; empty when nothing did.
    const std::string& Text() const { return Description; }

    /// Where the sign-in stalled, for a report that it did not come
    /// through in time.
    std::string StallText() const;

    /// How long libstrophe itself waits for each answer of the sign-in
    /// (stream features, bind, session) before it gives up on the connection.
    static constexpr std::chrono::seconds LibraryWait{15};

    /// Forgets everything, for the next attempt.
    void Reset() { *this = ConnectionProblem(); }

private:
    void TakeTls(Level level, std::string_view text);
    void TakeXmpp(std::string_view text);
    void Describe(std::string text, bool specific);

    std::string Description;
    bool Specific = false;
    bool AuthFailed = false;
    Stage Where = Stage::Connecting;
};

} // namespace velantro::standins
