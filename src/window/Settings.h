#pragma once

// The program's settings: whole numbers in a profile file, read once when the
// window is created and written once when it is closed.

#include "platform/ProfileFile.h"

#include <cstdint>
#include <string_view>

namespace velantro::window {

/// The settings file's name and its one section.
inline constexpr std::string_view SettingsFileName = "velantro.ini";
inline constexpr std::string_view SettingsSection = "General";

/// Reads a setting's text as a whole number: "0x" or "0X" at the start of a
/// text longer than two characters stands for "$"; then an optional sign and
/// decimal digits, or "$" and hexadecimal digits, fitting 32 bits. Anything
/// else gives fallback. Unlike the protocol's integers (common::ReadInteger),
/// "x" or "X" alone does not introduce hexadecimal digits, nor does "0x" after
/// a sign.
std::int32_t ReadSettingsInteger(std::string_view text, std::int32_t fallback);

/// Whole numbers in one profile file, for one run of reads or of writes:
/// the file is read once for the run, and let go of when it ends.
class TSettings {
public:
    explicit TSettings(platform::ProfileFile& file)
        : File(file) {}
    ~TSettings() { File.Release(); }
    TSettings(const TSettings&) = delete;
    TSettings& operator=(const TSettings&) = delete;

    /// Never fails: a missing or unreadable value gives fallback.
    std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t fallback);

    /// Writes the value in decimal; the file may be written only at Close.
    /// Raises "Unable to write to " and the file's name, then ": " and the
    /// reason when it is known, when the file cannot take the value (it is
    /// not a regular file, say).
    void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
    /// Writes the text as it is; raises as WriteInteger does.
    void WriteText(std::string_view section, std::string_view key, std::string_view text);

    /// Makes the writes reach the disk; raises as WriteInteger does when the
    /// file could not be written. Writes not closed are dropped with the
    /// object.
    void Close();

private:
    [[noreturn]] void RaiseWriteError() const;

    platform::ProfileFile& File;
};

} // namespace velantro::window
