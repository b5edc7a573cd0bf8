#include "transfer/content_chunker.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace {

// 256 fixed pseudo-random words (splitmix64 from a fixed seed): part of the
// block list format, as they decide where blocks end.
// splitmix64's finalizer: every input bit moves about half the output bits.
constexpr std::uint64_t Mix(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

constexpr std::array<std::uint64_t, 256> MakeGear() {
  std::array<std::uint64_t, 256> table{};
  std::uint64_t state = 0x4c616e7465726e62ull;
  for (std::uint64_t& word : table) {
    state += 0x9e3779b97f4a7c15ull;
    word = Mix(state);
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

std::uint64_t BlockCheck(std::span<const std::uint8_t> bytes) noexcept {
  static_assert(std::endian::native == std::endian::little, "words are read little-endian");
  constexpr std::uint64_t kOdd1 = 0x9e3779b97f4a7c15ull, kOdd2 = 0xc2b2ae3d27d4eb4full;
  // Four lanes of 8-byte words, so that the multiplications overlap.
  std::uint64_t lanes[4] = {kOdd1, kOdd2, ~kOdd1, ~kOdd2};
  const std::size_t size = bytes.size();
  std::size_t at = 0;
  for (; at + 32 <= size; at += 32) {
    for (int lane = 0; lane < 4; ++lane) {
      std::uint64_t word;
      std::memcpy(&word, bytes.data() + at + 8 * lane, 8);
      lanes[lane] = std::rotl(lanes[lane] + word * kOdd2, 31) * kOdd1;
    }
  }
  std::uint64_t check = size * kOdd1;
  for (const std::uint64_t lane : lanes) check = std::rotl(check ^ Mix(lane), 27) * kOdd2;
  for (; at < size; ++at) check = std::rotl(check ^ bytes[at], 11) * kOdd1;
  return Mix(check);
}
