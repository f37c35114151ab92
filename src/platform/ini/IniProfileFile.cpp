#include "platform/ini/IniProfileFile.h"

#include "common/FileDescriptor.h"

// Profile files hold bytes in the system code page: no character conversion.
// Debian's header keeps the template bodies behind SI_IMPLEMENTATION; this file
// instantiates what it uses, so no shared library (nor ICU) is needed.
#define SI_IMPLEMENTATION
#define SI_NO_CONVERSION
#include <SimpleIni.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace velantro::platform {

namespace {

namespace fs = std::filesystem;

// Section and key names compare without regard to case, as profile files do
// (SimpleIni's "A" flavour; its "CaseA" one compares them exactly).
using IniText = CSimpleIniA;

enum class LoadResult { Loaded, Missing, Failed };

/// Whether writing the text back through SimpleIni keeps every line: it
/// stops reading at a NUL byte and drops any line that is not blank, a
/// comment, a [section] or key=value.
bool KeepsEveryLine(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) {
        return false;
    }
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3); // a UTF-8 byte order mark, which SimpleIni skips
    }
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string_view::npos) {
            continue;
        }
        line = line.substr(first, line.find_last_not_of(" \t\r") + 1 - first);
        const bool kept = line[0] == ';' || line[0] == '#' ||
                          (line[0] == '[' && line.back() == ']') ||
                          (line.find('=') != std::string_view::npos && line[0] != '=');
        if (!kept) {
            return false;
        }
    }
    return true;
}

/// Loads the file; with forWriting, a file whose rewrite would lose a line
/// fails too.
LoadResult Load(const fs::path& path, IniText& ini, bool forWriting = false) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found) {
        return LoadResult::Missing;
    }
    if (status.type() != fs::file_type::regular) {
        return LoadResult::Failed;
    }
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    if (!file || (forWriting && !KeepsEveryLine(text.view()))) {
        return LoadResult::Failed;
    }
    return ini.LoadData(text.view().data(), text.view().size()) == SI_OK ? LoadResult::Loaded
                                                                         : LoadResult::Failed;
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

/// The permissions of the file being replaced; owner read and write for a new one.
mode_t ModeOf(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0600;
}

/// Writes text to a new file of a unique name beside path, makes it reach the
/// disk and renames it over path. On any failure the temporary file goes and
/// path is untouched.
bool ReplaceFile(const fs::path& path, const std::string& text) {
    std::string temporary = path.string() + ".XXXXXX";
    common::FileDescriptor fd(::mkstemp(temporary.data()));
    if (fd.Get() < 0) {
        return false;
    }
    const bool written = WriteAll(fd.Get(), text) && ::fchmod(fd.Get(), ModeOf(path)) == 0 &&
                         ::fsync(fd.Get()) == 0 && fd.Close() &&
                         ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!written) {
        ::unlink(temporary.c_str());
    }
    return written;
}

} // namespace

IniProfileFile::IniProfileFile(fs::path path)
    : Path(std::move(path)) {}

std::string IniProfileFile::ReadValue(std::string_view section, std::string_view key) {
    IniText ini;
    if (Load(Path, ini) != LoadResult::Loaded) {
        return {};
    }
    const char* value =
        ini.GetValue(std::string(section).c_str(), std::string(key).c_str(), nullptr);
    if (value == nullptr) {
        return {};
    }
    std::string text(value);
    if (text.size() > MaxValueLength) {
        text.resize(MaxValueLength);
    }
    return text;
}

bool IniProfileFile::WriteValue(std::string_view section, std::string_view key,
                                std::string_view value) {
    IniText ini;
    // A file that exists but cannot be read, or that is no profile file, is
    // never replaced by one that would lose its contents.
    if (Load(Path, ini, true) == LoadResult::Failed) {
        return false;
    }
    std::error_code error;
    fs::create_directories(Path.parent_path(), error);
    if (ini.SetValue(std::string(section).c_str(), std::string(key).c_str(),
                     std::string(value).c_str()) < 0) {
        return false;
    }
    // key=value with no blanks around the "=", as profile files are written.
    ini.SetSpaces(false);
    std::string text;
    if (ini.Save(text) != SI_OK) {
        return false;
    }
    return ReplaceFile(Path, text);
}

bool IniProfileFile::Flush() {
    // Every write has already reached the disk.
    return true;
}

std::string IniProfileFile::DisplayName() const {
    return Path.string();
}

fs::path UserProfilePath(const std::string& name) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && fs::path(config).is_absolute()) {
        return fs::path(config) / name;
    }
    const char* home = std::getenv("HOME");
    return fs::path(home != nullptr ? home : ".") / ".config" / name;
}

} // namespace velantro::platform
