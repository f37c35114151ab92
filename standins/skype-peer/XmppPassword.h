#pragma once

// The XMPP account's password, from a file or the environment: never from
// the command line, where every user of the machine could read it.

#include "XmppSettings.h"

#include <string>

namespace velantro::standins {

/// The password: the first line of the file named in settings, else the
/// environment variable, which is then removed, so that no child inherits
/// it, and overwritten in the environment block the process started with,
/// so that /proc/PID/environ no longer shows it.
/// Throws std::runtime_error when there is none or the file cannot be read.
std::string ReadXmppPassword(const XmppSettings& settings);

} // namespace velantro::standins
