#pragma once

// Reader for the interface file: a gzip stream (one or more members, or plain
// stored bytes) under a byte mask keyed by each byte's file offset. A stock
// gzip reader cannot read such a file.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace velantro::localise {

/// The mask byte for file offset p: the low byte of the signed 32-bit product
/// p * 618053 (wrapping) modulo 271829, the remainder taking the product's sign.
std::uint8_t MaskByte(std::uint64_t offset);

/// XORs count bytes, the first of which sits at file offset `offset`, with their
/// mask bytes. Masking and unmasking are the same operation.
void ApplyMask(void* bytes, std::size_t count, std::uint64_t offset);

struct MaskedGzFile;

/// Closes a handle that was not closed explicitly.
struct MaskedGzCloser {
    void operator()(MaskedGzFile* file) const noexcept;
};

using MaskedGzHandle = std::unique_ptr<MaskedGzFile, MaskedGzCloser>;

/// Size of the reader's input buffer, in bytes.
inline constexpr std::size_t MaskedGzBufferSize = 16384;

/// Opens path for reading and reads the first gzip header, which settles
/// whether the file is compressed or stored. mode must contain "r"; a mode
/// that names writing ("w", "a") is refused, since only reading exists.
/// Empty when path or mode is empty, the mode is refused, the decompressor
/// cannot be set up or the file cannot be opened. A bad header still gives a
/// handle; its first read reports the error.
MaskedGzHandle MaskedGzOpen(const std::string& path, std::string_view mode);

/// Delivers up to length payload bytes into buffer and returns how many were
/// delivered (fewer only at the end of the payload or on an error); 0 once
/// the payload has ended; -1 after a data error (bad header, truncated
/// member, CRC or size mismatch) or a read error, when nothing was delivered
/// in this call; -2 for no handle. Requests above INT_MAX are cut to INT_MAX.
int MaskedGzRead(MaskedGzFile* file, void* buffer, unsigned length);

/// Ends the decompressor, closes the file and frees the handle. Returns -2 for
/// no handle; otherwise the handle's error state when it is negative
/// (Z_DATA_ERROR after a data error, Z_ERRNO after a read error), else 0, or
/// -1 when the file fails to close.
int MaskedGzClose(MaskedGzHandle file);

} // namespace velantro::localise
