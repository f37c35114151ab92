// velantro-cli pack: turns the UTF-8 source of the interface texts into the
// masked, gzip-compressed interface file, and checks that it loads back.

#include "Commands.h"
#include "common/GzipMember.h"
#include "localise/TranslateInterface.h"
#include "localise/TranslationText.h"
#include "localise/gzIO.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>

namespace velantro::tools {

namespace {

using namespace velantro::localise;

/// A problem with the source, reported with its 1-based line number.
struct SourceError {
    std::size_t Line;
    std::string Message;
};

/// Decodes one UTF-8 character at text[pos], advancing pos; empty when the
/// bytes there are not well-formed UTF-8.
std::optional<char32_t> DecodeUtf8(std::string_view text, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    int length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
        minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (pos + length > text.size()) {
        return std::nullopt;
    }
    for (int i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[pos + i]);
        if ((next & 0xC0) != 0x80) {
            return std::nullopt;
        }
        value = value << 6 | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return std::nullopt;
    }
    pos += length;
    return value;
}

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

/// Writes bytes to path through a temporary file, so that a failed write
/// never leaves a half-written file behind.
void WriteFileAtomically(const std::string& path, const std::string& bytes) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::filesystem::remove(temporary);
            throw std::runtime_error("cannot write " + temporary);
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::filesystem::remove(temporary);
        throw std::runtime_error("cannot write " + path + ": " + error.message());
    }
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
        WriteFileAtomically(options.Output, FileBytes(payload, options));

        // Read the file back as the program will.
        LoadTranslations(options.Output);
        const std::size_t entries = SplitLines(text).size();
        if (Translations().size() != entries) {
            throw std::runtime_error(options.Output + " reads back with " +
                                     std::to_string(Translations().size()) +
                                     " entries instead of " + std::to_string(entries));
        }
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
