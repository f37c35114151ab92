// velantro-cli pack: turns the UTF-8 source of the interface texts into the
// masked, gzip-compressed interface file, and checks that it loads back.

#include "Commands.h"
#include "common/GzipMember.h"
#include "common/StrictUtf8.h"
#include "localise/TranslateInterface.h"
#include "localise/TranslationText.h"
#include "localise/gzIO.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace velantro::tools {

namespace {

using namespace velantro::localise;

/// A problem with the source, reported with its 1-based line number.
struct SourceError {
    std::size_t Line;
    std::string Message;
};

std::string CodePointName(char32_t c) {
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(c));
    return name;
}

/// The file's 8-bit form of one source line: Cyrillic U+0410..U+044F as
/// 0xC0..0xFF, characters below U+00C0 as themselves.
std::string ToFileBytes(std::string_view line, std::size_t lineNumber) {
    std::string bytes;
    bytes.reserve(line.size());
    for (std::size_t pos = 0; pos < line.size();) {
        const auto c = DecodeUtf8(line, pos);
        if (!c) {
            throw SourceError{lineNumber, "not valid UTF-8"};
        }
        if (*c < 0xC0) {
            bytes += static_cast<char>(*c);
        } else if (*c >= 0x410 && *c <= 0x44F) {
            bytes += static_cast<char>(*c - 0x350);
        } else {
            throw SourceError{lineNumber, "character " + CodePointName(*c) +
                                              " has no form in the interface file (only "
                                              "U+0000..U+00BF and U+0410..U+044F do)"};
        }
    }
    return bytes;
}

/// The 8-bit text of the file from the UTF-8 source, each line checked
/// against the loader's grammar.
std::string SourceToText(std::string_view source) {
    if (source.starts_with("\xEF\xBB\xBF")) {
        source.remove_prefix(3); // a byte order mark some editors write
    }
    if (const auto zero = source.find('\0'); zero != std::string_view::npos) {
        // The zero byte's line is the last line of what precedes it plus one byte.
        throw SourceError{SplitLines(std::string(source.substr(0, zero)) + "x").size(),
                          "a zero byte would end the text there"};
    }
    std::string text;
    const auto lines = SplitLines(source);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string line = ToFileBytes(lines[i], i + 1);
        try {
            TTranslation entry;
            ReadTranslationLine(line, entry);
        } catch (const std::runtime_error& error) {
            throw SourceError{i + 1, error.what()};
        }
        text += line;
        text += '\n';
    }
    return text;
}

struct PackOptions {
    bool Stored = false;
    std::size_t Members = 1;
    std::string Source;
    std::string Output;
};

std::string FileBytes(const std::string& payload, const PackOptions& options) {
    std::string file;
    if (options.Stored) {
        if (payload.size() >= 2 && payload[0] == '\x1F' && payload[1] == '\x8B') {
            throw std::runtime_error("this text cannot be stored: its first bytes read as a "
                                     "gzip header; pack it compressed");
        }
        file = payload;
    } else {
        // Split the payload into equal parts, the last one taking the rest.
        const std::size_t part = payload.size() / options.Members;
        for (std::size_t i = 0; i < options.Members; ++i) {
            const std::size_t start = i * part;
            const std::size_t length = i + 1 == options.Members ? payload.size() - start : part;
            file += GzipMember(std::string_view(payload).substr(start, length));
        }
    }
    ApplyMask(file.data(), file.size(), 0);
    return file;
}

namespace fs = std::filesystem;

[[noreturn]] void ThrowSystemError(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

/// The file that OUTPUT names: OUTPUT itself, or the file it links to. Anything
/// that exists and is not a regular file is refused, never replaced.
fs::path OutputFile(const std::string& output) {
    std::error_code error;
    const fs::file_status status = fs::status(output, error);
    if (fs::is_symlink(fs::symlink_status(output, error))) {
        if (!fs::exists(status)) {
            throw std::runtime_error(output + " is a link to nothing");
        }
        return OutputFile(fs::canonical(output).string());
    }
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        throw std::runtime_error(output + " exists and is not a regular file");
    }
    return output;
}

/// A file of a unique name in a given folder, removed again unless it is
/// renamed into place, so that a failed pack leaves nothing behind and never
/// touches a file of the user's.
class TemporaryFile {
public:
    explicit TemporaryFile(const fs::path& target) {
        std::string pattern =
            (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
        Fd = ::mkstemp(pattern.data());
        if (Fd < 0) {
            ThrowSystemError("cannot create a temporary file beside " + target.string());
        }
        Name = pattern;
    }
    ~TemporaryFile() {
        if (Fd >= 0) {
            ::close(Fd);
        }
        if (!Renamed) {
            ::unlink(Name.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::string& Path() const { return Name; }

    /// Writes bytes, gives the file mode and closes it, all on disk.
    void Write(std::string_view bytes, mode_t mode) {
        while (!bytes.empty()) {
            const ssize_t written = ::write(Fd, bytes.data(), bytes.size());
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                ThrowSystemError("cannot write " + Name);
            }
            bytes.remove_prefix(static_cast<std::size_t>(written));
        }
        if (::fchmod(Fd, mode) != 0 || ::fsync(Fd) != 0) {
            ThrowSystemError("cannot write " + Name);
        }
        const int fd = Fd;
        Fd = -1;
        if (::close(fd) != 0) {
            ThrowSystemError("cannot write " + Name);
        }
    }

    void RenameTo(const fs::path& target) {
        if (::rename(Name.c_str(), target.c_str()) != 0) {
            ThrowSystemError("cannot replace " + target.string());
        }
        Renamed = true;
    }

private:
    std::string Name;
    int Fd = -1;
    bool Renamed = false;
};

/// The mode of the file being replaced; for a new file, what the umask allows.
mode_t NewFileMode(const fs::path& target) {
    std::error_code error;
    const fs::file_status status = fs::status(target, error);
    if (fs::exists(status)) {
        return static_cast<mode_t>(status.permissions() & fs::perms::mask);
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

int Usage() {
    std::cerr << "usage: velantro-cli pack [--stored] [--members N] SOURCE OUTPUT\n";
    return 2;
}

} // namespace

int RunPack(CommandArgs args) {
    PackOptions options;
    std::vector<std::string_view> files;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--stored") {
            options.Stored = true;
        } else if (args[i] == "--members") {
            std::size_t members = 0;
            const auto value = i + 1 < args.size() ? args[++i] : std::string_view{};
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), members);
            if (error != std::errc{} || end != value.data() + value.size() || members < 1 ||
                members > 1000) {
                std::cerr << "velantro-cli pack: --members takes a number from 1 to 1000\n";
                return 2;
            }
            options.Members = members;
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.size() != 2) {
        return Usage();
    }
    options.Source = files[0];
    options.Output = files[1];

    std::error_code ignored;
    if (fs::is_directory(options.Source, ignored)) {
        std::cerr << "velantro-cli pack: cannot read " << options.Source << ": it is a folder\n";
        return 1;
    }
    std::ifstream in(options.Source, std::ios::binary);
    std::stringstream source;
    if (in.is_open()) {
        source << in.rdbuf();
    }
    if (!in.is_open() || in.bad()) {
        std::cerr << "velantro-cli pack: cannot read " << options.Source << "\n";
        return 1;
    }
    try {
        const std::string text = SourceToText(source.str());
        if (text.size() > static_cast<std::size_t>(INT32_MAX)) {
            throw std::runtime_error("the text is too long for the file");
        }
        const auto count = static_cast<std::uint32_t>(text.size());
        std::string payload;
        for (int shift = 0; shift < 32; shift += 8) {
            payload += static_cast<char>(count >> shift & 0xFF);
        }
        payload += text;
        const fs::path output = OutputFile(options.Output);
        TemporaryFile file(output);
        file.Write(FileBytes(payload, options), NewFileMode(output));

        // Read the file back as the program will, before it takes OUTPUT's place.
        LoadTranslations(file.Path());
        const std::size_t entries = SplitLines(text).size();
        if (Translations().size() != entries) {
            throw std::runtime_error(options.Output + " would read back with " +
                                     std::to_string(Translations().size()) +
                                     " entries instead of " + std::to_string(entries));
        }
        file.RenameTo(output);
        std::cout << "packed " << entries << " entries into " << options.Output << "\n";
        return 0;
    } catch (const SourceError& error) {
        std::cerr << options.Source << ":" << error.Line << ": " << error.Message << "\n";
    } catch (const std::exception& error) {
        std::cerr << "velantro-cli pack: " << error.what() << "\n";
    }
    return 1;
}

} // namespace velantro::tools
