#pragma once

// The XMPP account's password, from a file, the environment or the
// desktop's keyring (XmppKeyring.h): never from the command line, where
// every user of the machine could read it.

#include "XmppSettings.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace velantro::standins {

/// The password given outside the keyring: the first line of the file
/// named in settings, else the environment variable (which is then removed,
/// so no child inherits it, and overwritten in the environment block the
/// process started with, so that /proc/PID/environ no longer shows it). Nothing when neither gives
/// one: the keyring is asked next. Throws std::runtime_error when the file cannot be read or its
/// first line is empty.
std::optional<std::string> ReadXmppPassword(const XmppSettings& settings);

/// Asks for the account's new password on the terminal without echo, twice
/// so that a typing mistake is not stored; when the standard input is not a
/// terminal, reads its first line instead, without asking. Throws
/// std::runtime_error when nothing was entered or the two entries differ.
std::string AskForPassword(std::string_view jid);

/// The same over the given streams, the way it reads when there is no
/// terminal (confirm: ask twice).
std::string AskForPassword(std::string_view jid, std::istream& in, std::ostream& prompts,
                           bool confirm);

} // namespace velantro::standins
