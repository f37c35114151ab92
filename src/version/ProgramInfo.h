#pragma once

// What every program of the project answers to --version and --help.

#include <string>
#include <string_view>

namespace velantro {

/// The release number, the project's version: the package, the man pages and
/// the desktop metadata carry the same.
std::string_view ReleaseVersion();

/// "--help", "-h" or a bare "help": each program prints its usage for these
/// and ends with status 0.
bool IsHelpRequest(std::string_view arg);

/// "--version".
bool IsVersionRequest(std::string_view arg);

/// What --version prints: "PROGRAM RELEASE" on the first line, then one line
/// on how the release relates to the window's fixed caption.
std::string VersionText(std::string_view program);

} // namespace velantro
