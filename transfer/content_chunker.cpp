#include "transfer/content_chunker.h"

#include <algorithm>
#include <array>

namespace {

// 256 fixed pseudo-random words (splitmix64 from a fixed seed): part of the
// block list format, as they decide where blocks end.
constexpr std::array<std::uint64_t, 256> MakeGear() {
  std::array<std::uint64_t, 256> table{};
  std::uint64_t state = 0x4c616e7465726e62ull;
  for (std::uint64_t& word : table) {
    state += 0x9e3779b97f4a7c15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    word = z ^ (z >> 31);
  }
  return table;
}
constexpr std::array<std::uint64_t, 256> kGear = MakeGear();

// The shift moves each byte's influence towards the high bits, which then
// depend on the last 64 bytes: the masks test high bits. Before the average
// length the test is harder (18 bits), after it easier (14 bits), which
// gathers lengths around the average.
constexpr std::uint64_t kHardMask = ((1ull << 18) - 1) << 46;
constexpr std::uint64_t kEasyMask = ((1ull << 14) - 1) << 50;

}  // namespace

std::size_t NextBlockLength(std::span<const std::uint8_t> data) noexcept {
  const std::size_t limit = std::min(data.size(), kMaxBlock);
  if (limit <= kMinBlock) return limit;
  const std::size_t average = std::min(limit, kAverageBlock);
  std::uint64_t hash = 0;
  std::size_t i = kMinBlock;
  for (; i < average; ++i) {
    hash = (hash << 1) + kGear[data[i]];
    if ((hash & kHardMask) == 0) return i + 1;
  }
  for (; i < limit; ++i) {
    hash = (hash << 1) + kGear[data[i]];
    if ((hash & kEasyMask) == 0) return i + 1;
  }
  return limit;
}
