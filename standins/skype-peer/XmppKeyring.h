#pragma once

// The account's password in the desktop's keyring: the Secret Service
// (GNOME Keyring, KeePassXC, KWallet's) through qtkeychain, one entry per
// account under the service name KeyringService.

#include <functional>
#include <string>
#include <string_view>

namespace velantro::standins {

inline constexpr std::string_view KeyringService = "velantro-xmpp";

/// What the keyring did.
enum class KeyringOutcome {
    Done,        ///< read or stored
    NotFound,    ///< no entry for the account
    Locked,      ///< the keyring is locked, or the user refused to unlock it
    Unavailable, ///< no keyring answers on the session bus
    Failed,      ///< anything else; Detail says what
};

struct KeyringAnswer {
    KeyringOutcome Outcome = KeyringOutcome::Done;
    std::string Password; ///< what a lookup found
    std::string Detail;   ///< the keyring's own words when it failed
};

/// The Secret Service's state on the session bus, for telling a locked
/// keyring from an absent one: qtkeychain reports both, and a lookup in a
/// locked keyring that could not be unlocked, as a missing entry or an
/// error of its own.
enum class SecretServiceState { Absent, Locked, Unlocked };

/// The outcome of a failed job from qtkeychain's error code (a
/// QKeychain::Error) and the service's state.
KeyringOutcome ClassifyKeyringError(int keychainError, SecretServiceState state);

/// One line saying why the keyring gave no password for jid (or did not
/// store it, when storing) and what to do.
std::string DescribeKeyringProblem(const KeyringAnswer& answer, std::string_view jid, bool storing);

/// Looks the password of the account jid up; done is called from the event
/// loop with the answer.
void LookUpKeyringPassword(const std::string& jid, std::function<void(KeyringAnswer)> done);

/// Stores (or replaces) the password of the account jid; done is called
/// from the event loop with the answer.
void StoreKeyringPassword(const std::string& jid, const std::string& password,
                          std::function<void(KeyringAnswer)> done);

} // namespace velantro::standins
