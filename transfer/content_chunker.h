#pragma once
// Content-defined cutting of a file into blocks: a gear rolling hash (one
// table lookup, one shift and one add per byte) decides where a block ends,
// so that the same content is cut the same way wherever it lies in a file.
// An insertion or deletion changes only the blocks around it.
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
