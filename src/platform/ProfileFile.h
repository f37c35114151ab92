#pragma once

#include <string>
#include <string_view>

namespace velantro::platform {

/// The desktop's profile ("INI") file service for one file: named sections of
/// key=value lines. Section and key names compare without regard to case;
/// lines the service does not own (comments, other sections) are kept.
class ProfileFile {
public:
    virtual ~ProfileFile() = default;

    /// The key's value with blanks around it stripped, at most
    /// MaxValueLength characters; empty when the file, the section or the
    /// key is missing, or the file cannot be read.
    virtual std::string ReadValue(std::string_view section, std::string_view key) = 0;

    /// Sets the key, creating the file, the section and the key when they
    /// are missing and rewriting the key in place when it exists. A service
    /// may keep the change until Flush, so that several writes rewrite the
    /// file once. Gives false when the change cannot be made (the file
    /// cannot be read, or is not one a write may replace); the file is then
    /// unchanged.
    virtual bool WriteValue(std::string_view section, std::string_view key,
                            std::string_view value) = 0;

    /// Makes every write so far reach the disk; false when that failed, the
    /// old file then unchanged.
    virtual bool Flush() = 0;

    /// Lets go of what the service keeps of the file between calls (its text
    /// as read, writes not flushed), so that a large file does not stay in
    /// memory; the next call reads the file again.
    virtual void Release() {}

    /// The file's name as errors report it to the user.
    virtual std::string DisplayName() const = 0;

    /// Why the last write or flush failed, in the system's words ("Read-only
    /// file system"); empty when unknown.
    virtual std::string FailureReason() const { return {}; }

    static constexpr std::size_t MaxValueLength = 2047;
};

} // namespace velantro::platform
