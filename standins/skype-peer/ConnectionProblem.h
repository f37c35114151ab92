#pragma once

// Why an XMPP connection attempt failed, in words a user can act on, read
// from what libstrophe reports through its log while it tries.

#include <string>
#include <string_view>

namespace velantro::standins {

class ConnectionProblem {
public:
    enum class Level { Debug, Info, Warning, Error };

    /// Takes one message of libstrophe's log (its area and its text).
    void Take(Level level, std::string_view area, std::string_view text);

    /// The server refused the account's credentials.
    bool AuthenticationFailed() const { return AuthFailed; }
    /// What went wrong, the most telling report first; empty when nothing did.
    const std::string& Text() const { return Description; }

    /// Forgets everything, for the next attempt.
    void Reset() { *this = ConnectionProblem(); }

private:
    void Describe(std::string text, bool specific);

    std::string Description;
    bool Specific = false;
    bool AuthFailed = false;
};

} // namespace velantro::standins
