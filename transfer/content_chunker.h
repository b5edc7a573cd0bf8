#pragma once
// Content-defined cutting of a file into blocks: a gear rolling hash (one
// table lookup, one shift and one add per byte) decides where a block ends,
// so that the same content is cut the same way wherever it lies in a file.
// An insertion or deletion changes only the blocks around it. A quick
// checksum of each block finds it again in an old copy.
// Pure code; any thread.
#include <cstddef>
#include <cstdint>
#include <span>

// Block lengths: no block is shorter than kMinBlock except the last of a file,
// none longer than kMaxBlock; lengths average about kAverageBlock.
inline constexpr std::size_t kMinBlock = 16 * 1024;
inline constexpr std::size_t kAverageBlock = 64 * 1024;
inline constexpr std::size_t kMaxBlock = 256 * 1024;

// The length of the block that begins at data[0]. `data` must hold at least
// kMaxBlock bytes, or else everything up to the end of the file. Returns a
// value in 1..min(data.size(), kMaxBlock), or 0 for empty data.
std::size_t NextBlockLength(std::span<const std::uint8_t> data) noexcept;

// A 64-bit checksum of a block's bytes, eight bytes at a time: quick to
// compute over a whole old copy, where a SHA-256 of every block would cost
// several times as much. Not a cryptographic hash: a block found by it is
// trusted only through the digest of the whole file it goes into. Part of the
// block list format (version 2), so it never changes.
std::uint64_t BlockCheck(std::span<const std::uint8_t> bytes) noexcept;
