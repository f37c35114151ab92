#pragma once

// How the translator starts an engine's programs: standard streams on the
// given descriptors, in a process group (so that one kill reaches every
// program of a pipeline), with none of the signals this process blocks or
// ignores blocked or ignored in them.

#include <csignal>
#include <spawn.h>
#include <sys/types.h>

namespace velantro::standins {

/// posix_spawn's attributes and file actions, released with it.
struct SpawnSettings {
    posix_spawnattr_t Attributes;
    posix_spawn_file_actions_t Actions;

    /// group: the process group to join; 0 starts a group of its own.
    SpawnSettings(pid_t group, int input, int output, int errors) {
        posix_spawnattr_init(&Attributes);
        posix_spawn_file_actions_init(&Actions);
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        sigaddset(&defaults, SIGINT);
        sigaddset(&defaults, SIGTERM);
        posix_spawnattr_setpgroup(&Attributes, group);
        posix_spawnattr_setsigmask(&Attributes, &none);
        posix_spawnattr_setsigdefault(&Attributes, &defaults);
        posix_spawnattr_setflags(&Attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                                  POSIX_SPAWN_SETSIGDEF);
        posix_spawn_file_actions_adddup2(&Actions, input, 0);
        posix_spawn_file_actions_adddup2(&Actions, output, 1);
        posix_spawn_file_actions_adddup2(&Actions, errors, 2);
    }
    ~SpawnSettings() {
        posix_spawn_file_actions_destroy(&Actions);
        posix_spawnattr_destroy(&Attributes);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;
};

} // namespace velantro::standins
