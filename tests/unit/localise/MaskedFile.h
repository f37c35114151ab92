#pragma once

// Builds interface files byte by byte for the tests: gzip headers with any
// flags, deflate data in hand-made stored blocks, trailers, payloads, and the
// mask over all of it.

#include "localise/gzIO.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>
#include <zlib.h>

namespace velantro::testing {

inline std::string LittleEndian32(std::uint32_t value) {
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8) {
        bytes += static_cast<char>(value >> shift & 0xFF);
    }
    return bytes;
}

/// Count (little-endian) followed by text.
inline std::string Payload(std::string_view text) {
    return LittleEndian32(static_cast<std::uint32_t>(text.size())) + std::string(text);
}

struct GzHeader {
    std::uint8_t Method = 8;
    std::uint8_t Flags = 0; // the optional parts below set their own bits
    std::string Extra;
    std::string Name;
    std::string Comment;
    bool HeaderCrc = false;
    bool HasExtra = false;
    bool HasName = false;
    bool HasComment = false;

    GzHeader WithMethod(std::uint8_t method) const {
        return Changed([&](GzHeader& h) { h.Method = method; });
    }
    GzHeader WithFlags(std::uint8_t flags) const {
        return Changed([&](GzHeader& h) { h.Flags = flags; });
    }
    GzHeader WithExtra(std::string extra) const {
        return Changed([&](GzHeader& h) {
            h.Extra = extra;
            h.HasExtra = true;
        });
    }
    GzHeader WithName(std::string name) const {
        return Changed([&](GzHeader& h) {
            h.Name = name;
            h.HasName = true;
        });
    }
    GzHeader WithComment(std::string comment) const {
        return Changed([&](GzHeader& h) {
            h.Comment = comment;
            h.HasComment = true;
        });
    }
    GzHeader WithHeaderCrc() const {
        return Changed([](GzHeader& h) { h.HeaderCrc = true; });
    }

    template <typename F>
    GzHeader Changed(F change) const {
        GzHeader copy = *this;
        change(copy);
        return copy;
    }

    std::string Bytes() const {
        std::uint8_t flags = Flags;
        flags |= HeaderCrc ? 0x02 : 0;
        flags |= HasExtra ? 0x04 : 0;
        flags |= HasName ? 0x08 : 0;
        flags |= HasComment ? 0x10 : 0;
        std::string bytes = {'\x1F', '\x8B', static_cast<char>(Method), static_cast<char>(flags)};
        bytes += std::string("\x01\x02\x03\x04\x00\x03", 6); // MTIME, XFL, OS
        if (HasExtra) {
            bytes += static_cast<char>(Extra.size() & 0xFF);
            bytes += static_cast<char>(Extra.size() >> 8);
            bytes += Extra;
        }
        if (HasName) {
            bytes += Name + '\0';
        }
        if (HasComment) {
            bytes += Comment + '\0';
        }
        if (HeaderCrc) {
            bytes += "\xAB\xCD"; // never checked
        }
        return bytes;
    }
};

/// Raw deflate data made of stored blocks (at most 65535 bytes each).
inline std::string StoredBlocks(std::string_view data) {
    std::string out;
    do {
        const std::size_t length = std::min<std::size_t>(data.size(), 65535);
        const bool last = length == data.size();
        out += static_cast<char>(last ? 0x01 : 0x00);
        out += static_cast<char>(length & 0xFF);
        out += static_cast<char>(length >> 8);
        out += static_cast<char>(~length & 0xFF);
        out += static_cast<char>(~length >> 8 & 0xFF);
        out += data.substr(0, length);
        data.remove_prefix(length);
    } while (!data.empty());
    return out;
}

/// Raw deflate data compressed by zlib.
inline std::string Deflated(std::string_view data) {
    z_stream stream{};
    deflateInit2(&stream, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

inline std::uint32_t Crc32(std::string_view data) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

/// The CRC32 and ISIZE trailer for data.
inline std::string Trailer(std::string_view data) {
    return LittleEndian32(Crc32(data)) + LittleEndian32(static_cast<std::uint32_t>(data.size()));
}

/// A whole member: header, deflate data in stored blocks, trailer.
inline std::string Member(std::string_view data, const GzHeader& header = {}) {
    return header.Bytes() + StoredBlocks(data) + Trailer(data);
}

/// A whole member whose data zlib compressed.
inline std::string CompressedMember(std::string_view data) {
    return GzHeader{}.Bytes() + Deflated(data) + Trailer(data);
}

/// Writes bytes to path masked, as they lie in an interface file.
inline void WriteMasked(const std::filesystem::path& path, std::string bytes) {
    localise::ApplyMask(bytes.data(), bytes.size(), 0);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

/// A fresh folder under the system's temporary folder, removed afterwards.
class TempFolder {
public:
    TempFolder() {
        static int serial = 0;
        Path = std::filesystem::temp_directory_path() /
               ("velantro-test-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
        std::filesystem::create_directories(Path);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::filesystem::path operator/(std::string_view name) const { return Path / name; }

    std::filesystem::path Path;
};

} // namespace velantro::testing
