#include "localise/gzIO.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstring>
#include <zlib.h>

namespace velantro::localise {

namespace {

constexpr std::uint32_t MaskFactor = 618053;
constexpr std::int32_t MaskModulus = 271829;

constexpr int EndOfInput = -1;

// Header flag bits.
constexpr int FlagHeaderCrc = 0x02;
constexpr int FlagExtra = 0x04;
constexpr int FlagName = 0x08;
constexpr int FlagComment = 0x10;
constexpr int FlagReserved = 0xE0;

} // namespace

std::uint8_t MaskByte(std::uint64_t offset) {
    // The product wraps modulo 2^32 and is read as signed; C++ remainder
    // truncates toward zero, so a negative product gives a negative remainder.
    const auto product = static_cast<std::int32_t>(static_cast<std::uint32_t>(offset) * MaskFactor);
    return static_cast<std::uint8_t>(product % MaskModulus);
}

void ApplyMask(void* bytes, std::size_t count, std::uint64_t offset) {
    auto* p = static_cast<unsigned char*>(bytes);
    // Step the product instead of multiplying for every byte.
    std::uint32_t product = static_cast<std::uint32_t>(offset) * MaskFactor;
    for (std::size_t i = 0; i < count; ++i) {
        p[i] ^= static_cast<std::uint8_t>(static_cast<std::int32_t>(product) % MaskModulus);
        product += MaskFactor;
    }
}

struct MaskedGzFile {
    std::FILE* File = nullptr;
    z_stream Stream{};
    bool InflateReady = false;
    // Z_OK while reading; Z_STREAM_END once the payload has ended;
    // Z_DATA_ERROR, Z_ERRNO or Z_MEM_ERROR after a failure.
    int Error = Z_OK;
    bool Eof = false;    // the file has no more bytes to read
    bool Stored = false; // the rest of the file is payload as it stands
    std::uint32_t Crc = 0;
    std::uint32_t MemberSize = 0; // decompressed bytes of the member, mod 2^32
    std::uint64_t FileOffset = 0; // offset of the next byte read from the file
    std::array<unsigned char, MaskedGzBufferSize> Input{};

    bool Failed() const { return Error != Z_OK && Error != Z_STREAM_END; }

    /// Reads up to `room` more bytes into the input buffer after the `keep`
    /// bytes already at its start, unmasking them by their file offsets.
    void Fill(std::size_t keep = 0) {
        if (Eof) {
            return;
        }
        const std::size_t room = Input.size() - keep;
        const std::size_t got = std::fread(Input.data() + keep, 1, room, File);
        if (got < room) {
            Eof = true;
            if (std::ferror(File) != 0) {
                Error = Z_ERRNO;
            }
        }
        ApplyMask(Input.data() + keep, got, FileOffset);
        FileOffset += got;
        Stream.next_in = Input.data();
        Stream.avail_in = static_cast<uInt>(keep + got);
    }

    /// The next input byte, or EndOfInput when the file has ended.
    int TakeByte() {
        if (Stream.avail_in == 0) {
            Fill();
            if (Stream.avail_in == 0) {
                return EndOfInput;
            }
        }
        --Stream.avail_in;
        return *Stream.next_in++;
    }

    /// Skips count input bytes; false when the file ends first.
    bool SkipBytes(std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            if (TakeByte() == EndOfInput) {
                return false;
            }
        }
        return true;
    }

    /// Skips bytes up to and including a zero byte; false when the file ends first.
    bool SkipZeroTerminated() {
        for (;;) {
            const int c = TakeByte();
            if (c == EndOfInput) {
                return false;
            }
            if (c == 0) {
                return true;
            }
        }
    }

    /// Reads a little-endian 32-bit value; false when the file ends first.
    bool TakeUint32(std::uint32_t& value) {
        value = 0;
        for (int shift = 0; shift < 32; shift += 8) {
            const int c = TakeByte();
            if (c == EndOfInput) {
                return false;
            }
            value |= static_cast<std::uint32_t>(c) << shift;
        }
        return true;
    }

    /// Reads a member header at the current position. Anything that does not
    /// begin with the gzip magic switches to stored reading; no bytes at all
    /// ends the payload.
    void ReadHeader() {
        if (Stream.avail_in < 2) {
            // Look at both magic bytes without taking them, so that they can
            // stay in the payload when they are not the magic.
            if (Stream.avail_in == 1) {
                Input[0] = *Stream.next_in;
            }
            Fill(Stream.avail_in);
            if (Failed()) {
                return;
            }
        }
        if (Stream.avail_in < 2 || Stream.next_in[0] != 0x1F || Stream.next_in[1] != 0x8B) {
            Stored = true;
            if (Stream.avail_in == 0 && Eof) {
                Error = Z_STREAM_END;
            }
            return;
        }
        Stream.next_in += 2;
        Stream.avail_in -= 2;
        const int method = TakeByte();
        const int flags = TakeByte();
        if (method != Z_DEFLATED || flags == EndOfInput || (flags & FlagReserved) != 0) {
            Error = Z_DATA_ERROR;
            return;
        }
        bool complete = SkipBytes(6); // MTIME, XFL, OS
        if (complete && (flags & FlagExtra) != 0) {
            const int low = TakeByte();
            const int high = TakeByte();
            complete = high != EndOfInput && SkipBytes(static_cast<std::size_t>(low | high << 8));
        }
        if (complete && (flags & FlagName) != 0) {
            complete = SkipZeroTerminated();
        }
        if (complete && (flags & FlagComment) != 0) {
            complete = SkipZeroTerminated();
        }
        if (complete && (flags & FlagHeaderCrc) != 0) {
            complete = SkipBytes(2);
        }
        if (!complete) {
            Error = Failed() ? Error : Z_DATA_ERROR;
        }
    }

    /// Checks the trailer of the member that just ended and moves on to what
    /// follows it.
    void EndMember() {
        std::uint32_t crc = 0;
        std::uint32_t size = 0;
        if (!TakeUint32(crc) || !TakeUint32(size)) {
            Error = Failed() ? Error : Z_DATA_ERROR;
            return;
        }
        if (crc != Crc || size != MemberSize) {
            Error = Z_DATA_ERROR;
            return;
        }
        ReadHeader();
        if (Error == Z_OK && !Stored) {
            inflateReset(&Stream);
            Crc = 0;
            MemberSize = 0;
        }
    }

    /// Hands out stored bytes: what the input buffer holds, then straight from the file.
    std::size_t ReadStored(unsigned char* out, std::size_t length) {
        const std::size_t fromBuffer = std::min<std::size_t>(Stream.avail_in, length);
        std::memcpy(out, Stream.next_in, fromBuffer);
        Stream.next_in += fromBuffer;
        Stream.avail_in -= static_cast<uInt>(fromBuffer);
        std::size_t delivered = fromBuffer;
        if (delivered < length && !Eof) {
            const std::size_t wanted = length - delivered;
            const std::size_t got = std::fread(out + delivered, 1, wanted, File);
            ApplyMask(out + delivered, got, FileOffset);
            FileOffset += got;
            delivered += got;
            if (got < wanted) {
                Eof = true;
                if (std::ferror(File) != 0) {
                    Error = Z_ERRNO;
                }
            }
        }
        if (delivered < length && Stream.avail_in == 0 && Eof && Error == Z_OK) {
            Error = Z_STREAM_END;
        }
        return delivered;
    }

    /// Inflates into out until length bytes are delivered, the payload ends or
    /// an error occurs.
    std::size_t ReadCompressed(unsigned char* out, std::size_t length) {
        Stream.next_out = out;
        Stream.avail_out = static_cast<uInt>(length);
        while (Stream.avail_out > 0 && Error == Z_OK && !Stored) {
            if (Stream.avail_in == 0) {
                Fill();
                if (Failed()) {
                    break;
                }
                if (Stream.avail_in == 0) {
                    // The file ended inside the member's compressed data.
                    Error = Z_DATA_ERROR;
                    break;
                }
            }
            unsigned char* const start = Stream.next_out;
            const int result = inflate(&Stream, Z_NO_FLUSH);
            const auto produced = static_cast<uInt>(Stream.next_out - start);
            Crc = static_cast<std::uint32_t>(crc32(Crc, start, produced));
            MemberSize += produced;
            if (result == Z_STREAM_END) {
                EndMember();
            } else if (result == Z_MEM_ERROR) {
                Error = Z_MEM_ERROR;
            } else if (result != Z_OK) {
                Error = Z_DATA_ERROR;
            }
        }
        std::size_t delivered = length - Stream.avail_out;
        if (Stored && Error == Z_OK && delivered < length) {
            delivered += ReadStored(out + delivered, length - delivered);
        }
        return delivered;
    }
};

void MaskedGzCloser::operator()(MaskedGzFile* file) const noexcept {
    MaskedGzClose(MaskedGzHandle(file));
}

MaskedGzHandle MaskedGzOpen(const std::string& path, std::string_view mode) {
    if (path.empty() || mode.empty() || mode.find_first_of("wa") != std::string_view::npos ||
        mode.find('r') == std::string_view::npos) {
        return nullptr;
    }
    MaskedGzHandle file(new MaskedGzFile);
    if (inflateInit2(&file->Stream, -MAX_WBITS) != Z_OK) {
        return nullptr;
    }
    file->InflateReady = true;
    file->File = std::fopen(path.c_str(), "rb");
    if (file->File == nullptr) {
        return nullptr;
    }
    file->ReadHeader();
    return file;
}

int MaskedGzRead(MaskedGzFile* file, void* buffer, unsigned length) {
    if (file == nullptr) {
        return -2;
    }
    if (file->Failed()) {
        return -1;
    }
    if (file->Error == Z_STREAM_END || length == 0) {
        return 0;
    }
    const std::size_t wanted = std::min<std::size_t>(length, INT_MAX);
    auto* out = static_cast<unsigned char*>(buffer);
    const std::size_t delivered =
        file->Stored ? file->ReadStored(out, wanted) : file->ReadCompressed(out, wanted);
    if (delivered == 0 && file->Failed()) {
        return -1;
    }
    return static_cast<int>(delivered);
}

int MaskedGzClose(MaskedGzHandle handle) {
    MaskedGzFile* file = handle.release();
    if (file == nullptr) {
        return -2;
    }
    int result = 0;
    if (file->InflateReady) {
        inflateEnd(&file->Stream);
    }
    if (file->File != nullptr && std::fclose(file->File) != 0) {
        result = -1;
    }
    if (file->Failed()) {
        result = file->Error;
    }
    delete file;
    return result;
}

} // namespace velantro::localise
