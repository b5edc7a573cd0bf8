#pragma once
// The block list of one release file: its length and, block by block as
// NextBlockLength cuts it, each block's length, BlockCheck and SHA-256.
// Written by the publisher's tool, read by the installer to tell which blocks
// an old copy of the file already holds. Format (docs/blocks.md),
// little-endian:
//   "LBBL"  u32 version (2)  u64 file size  u32 block count
//   count x (u32 length, u64 check, 32 bytes SHA-256)
// Version 1, still read, has no check: (u32 length, 32 bytes SHA-256).
// Pure code; any thread.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using BlockDigest = std::array<std::uint8_t, 32>;

inline constexpr std::uint32_t kBlockListVersion = 2;

struct Block {
  std::uint32_t length = 0;
  BlockDigest digest{};
  std::uint64_t check = 0;  // BlockCheck of the block; 0 in a list of version 1
};

struct BlockList {
  std::uint64_t file_size = 0;
  std::vector<Block> blocks;  // in file order; lengths add up to file_size
  std::uint32_t version = kBlockListVersion;  // 1: the blocks have no check
};

// The largest list a file of `file_size` bytes can have (every block but the
// last of the shortest length, version 2): 20 + 44 * ceil(file_size /
// kMinBlock) bytes, under 0.27 % of the file for files of 1 MiB and more.
std::uint64_t MaxBlockListSize(std::uint64_t file_size) noexcept;

// The list's bytes, in the list's version.
std::string SerializeBlockList(const BlockList& list);

// The list in `bytes`, or nothing when they are not a well-formed list of
// version 1 or 2: wrong magic or version, a count that does not match the length,
// a block of length 0 or over kMaxBlock, a block shorter than kMinBlock
// before the last, or lengths that do not add up to the file size.
std::optional<BlockList> ParseBlockList(std::string_view bytes);

// One piece of the new file, from `offset` for `length` bytes: copied from
// the old copy at `source`, or fetched from the server when there is none.
struct BlockSegment {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  std::optional<std::uint64_t> source;
};

// Fetched pieces separated by no more than this many copied bytes are fetched
// as one range: fewer requests, at the price of bytes the old copy had.
inline constexpr std::uint64_t kRangeMergeGap = 64 * 1024;

// How to build the new file from byte `from` on, in file order: `found[i]` is
// where block i of `list` lies in the old copy, if anywhere. Adjacent copies
// from adjacent places are one segment; adjacent fetches are one segment, and
// so is a short copy (up to kRangeMergeGap) between two fetches.
std::vector<BlockSegment> PlanBlockSegments(const BlockList& list,
                                            const std::vector<std::optional<std::uint64_t>>& found,
                                            std::uint64_t from);

// The bytes fetched when the file of `list` is built from an old copy whose
// block list is `old`: the fetched segments of the plan from byte 0.
std::uint64_t BytesFetchedByBlocks(const BlockList& old, const BlockList& list);
