#pragma once

// The listening socket a service manager hands over when it starts the
// translator on demand (systemd's socket activation): the descriptors from
// 3 on, counted by LISTEN_FDS, meant for the process LISTEN_PID names.

#include "common/FileDescriptor.h"

#include <optional>
#include <string_view>
#include <sys/types.h>

namespace velantro::standins {

/// The first descriptor handed over.
inline constexpr int FirstActivatedDescriptor = 3;

/// How many descriptors were handed to the process self, read from the
/// values of LISTEN_PID and LISTEN_FDS (nullopt: the variable is unset).
/// 0 when they are meant for another process (a parent that did not remove
/// them) or there are none. Throws std::invalid_argument when they are
/// meant for this process but LISTEN_FDS is not a count.
int ActivatedDescriptorCount(std::optional<std::string_view> listenPid,
                             std::optional<std::string_view> listenFds, pid_t self);

/// The listening socket handed to this process, or an empty descriptor when
/// there is none. The variables are removed so that no program the
/// translator starts takes them for its own, and the socket is closed on
/// exec. Throws std::runtime_error, saying why, when the hand-over cannot
/// be used: more than one descriptor, or one that is not a listening stream
/// socket.
common::FileDescriptor TakeActivatedListener();

} // namespace velantro::standins
