// The block list's pure parts: where the content-defined cutting puts block
// ends (and that moved content is cut alike), the list's bytes and their
// checks, and the plan that builds a new file from an old copy.
#include "transfer/block_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/table_helpers.h"
#include "transfer/content_chunker.h"

namespace {

std::string Noise(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

// The blocks of `content`, cut as the tool and the installer cut files.
std::vector<std::string_view> Cut(std::string_view content) {
  std::vector<std::string_view> blocks;
  while (!content.empty()) {
    const std::size_t length = NextBlockLength(
        {reinterpret_cast<const std::uint8_t*>(content.data()), content.size()});
    blocks.push_back(content.substr(0, length));
    content.remove_prefix(length);
  }
  return blocks;
}

// Bytes of `changed` that lie in blocks the cut of `original` does not have.
std::size_t UnmatchedBytes(const std::string& original, const std::string& changed) {
  std::set<std::string_view> known;
  for (std::string_view block : Cut(original)) known.insert(block);
  std::size_t unmatched = 0;
  for (std::string_view block : Cut(changed)) {
    if (!known.count(block)) unmatched += block.size();
  }
  return unmatched;
}

TEST(ContentChunker, BlocksCoverTheFileWithinTheirBounds) {
  for (std::size_t size : {std::size_t{1}, kMinBlock, kMinBlock + 1, kMaxBlock * 3, std::size_t{16} << 20}) {
    const std::string content = Noise(size, static_cast<std::uint32_t>(size));
    const std::vector<std::string_view> blocks = Cut(content);
    std::size_t total = 0;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      EXPECT_LE(blocks[i].size(), kMaxBlock);
      if (i + 1 < blocks.size()) {
        EXPECT_GE(blocks[i].size(), kMinBlock);
      }
      total += blocks[i].size();
    }
    EXPECT_EQ(total, size);
    if (size == (std::size_t{16} << 20)) {
      const std::size_t average = size / blocks.size();
      EXPECT_GT(average, 48u * 1024) << blocks.size() << " blocks";
      EXPECT_LT(average, 96u * 1024) << blocks.size() << " blocks";
    }
  }
}

TEST(ContentChunker, ConstantContentIsCutAtTheLongestLength) {
  const std::string zeros(kMaxBlock * 2 + 5, '\0');
  const std::vector<std::string_view> blocks = Cut(zeros);
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0].size(), kMaxBlock);
  EXPECT_EQ(blocks[2].size(), 5u);
}

// The check finds a block again: it is fixed by the list's format, and one
// changed bit anywhere (each lane of its words, the tail) or another length
// changes it.
TEST(ContentChunker, BlockCheckTellsBlocksApart) {
  const std::string block = Noise(65536 + 5, 11);
  const auto check = [](const std::string& bytes) {
    return BlockCheck({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  };
  EXPECT_EQ(check(std::string("Lanternbrook")), 0x68a7f67473b19b50ull);
  EXPECT_EQ(check(block), 0x388932256ef89b54ull);
  for (std::size_t at : {std::size_t{0}, std::size_t{9}, std::size_t{17}, std::size_t{31}, std::size_t{40000},
                         block.size() - 3, block.size() - 1}) {
    std::string changed = block;
    changed[at] ^= 0x10;
    EXPECT_NE(check(changed), check(block)) << "byte " << at;
  }
  EXPECT_NE(check(block.substr(0, 65536)), check(block));
  EXPECT_NE(check(std::string(64, '\0')), check(std::string(72, '\0')));
}

// A change costs the blocks it touches and their neighbours, wherever it lies.
struct EditCase {
  const char* name;
  std::string (*edit)(const std::string&);
  std::size_t most_unmatched;
};
void PrintTo(const EditCase& c, std::ostream* out) { *out << c.name; }

constexpr std::size_t kEdited = 8 << 20;

class MovedContent : public ::testing::TestWithParam<EditCase> {};

TEST_P(MovedContent, OnlyTheBlocksAroundAnEditDiffer) {
  const std::string original = Noise(kEdited, 7);
  EXPECT_LE(UnmatchedBytes(original, GetParam().edit(original)), GetParam().most_unmatched);
}

INSTANTIATE_TEST_SUITE_P(
    Edits, MovedContent,
    ::testing::Values(
        EditCase{"InsertionAtTheStart", [](const std::string& s) { return Noise(100, 1) + s; },
                 2 * kMaxBlock},
        EditCase{"DeletionAtTheStart", [](const std::string& s) { return s.substr(100); },
                 2 * kMaxBlock},
        EditCase{"DeletionInTheMiddle",
                 [](const std::string& s) { return s.substr(0, kEdited / 2) + s.substr(kEdited / 2 + 100); },
                 2 * kMaxBlock},
        EditCase{"OverwriteInTheMiddle",
                 [](const std::string& s) {
                   return s.substr(0, kEdited / 2) + Noise(65536, 2) + s.substr(kEdited / 2 + 65536);
                 },
                 65536 + 2 * kMaxBlock},
        EditCase{"SwappedHalves",
                 [](const std::string& s) { return s.substr(kEdited / 2) + s.substr(0, kEdited / 2); },
                 3 * kMaxBlock},
        EditCase{"Unrelated", [](const std::string&) { return Noise(kEdited, 3); }, kEdited}),
    lbtest::CaseName());

// --- the list's bytes ---------------------------------------------------------

BlockList ListOf(std::vector<std::uint32_t> lengths) {
  BlockList list;
  for (std::uint32_t length : lengths) {
    Block block{length, {}, length * 0x9e3779b97f4a7c15ull};
    block.digest[0] = static_cast<std::uint8_t>(length);
    block.digest[31] = static_cast<std::uint8_t>(list.blocks.size());
    list.blocks.push_back(block);
    list.file_size += length;
  }
  return list;
}

TEST(BlockListFormat, RoundTripsAndStaysWithinItsLimit) {
  // The largest list of a 1 MiB file: every block of the shortest length.
  const BlockList list = ListOf(std::vector<std::uint32_t>(64, kMinBlock));
  const std::string bytes = SerializeBlockList(list);
  EXPECT_EQ(bytes.size(), MaxBlockListSize(list.file_size));
  EXPECT_LE(bytes.size() * 200, list.file_size) << "at most 0.5 % of the file";
  const std::optional<BlockList> parsed = ParseBlockList(bytes);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(SerializeBlockList(*parsed), bytes);
  EXPECT_EQ(MaxBlockListSize(1), 64u);
  EXPECT_EQ(MaxBlockListSize(kMinBlock + 1), 108u);
  // A list of version 1, without checks, is still read.
  BlockList first = list;
  first.version = 1;
  const std::string old_bytes = SerializeBlockList(first);
  EXPECT_EQ(old_bytes.size(), 20u + 36 * 64);
  const std::optional<BlockList> old_parsed = ParseBlockList(old_bytes);
  ASSERT_TRUE(old_parsed);
  EXPECT_EQ(old_parsed->version, 1u);
  EXPECT_EQ(SerializeBlockList(*old_parsed), old_bytes);
}

struct MalformedCase {
  const char* name;
  std::string (*spoil)(std::string);
};
void PrintTo(const MalformedCase& c, std::ostream* out) { *out << c.name; }

class MalformedBlockList : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedBlockList, IsRefused) {
  const std::string good = SerializeBlockList(ListOf({kMinBlock, kMaxBlock, 5}));
  ASSERT_TRUE(ParseBlockList(good));
  EXPECT_FALSE(ParseBlockList(GetParam().spoil(good)));
}

// Offsets: magic 0, version 4, file size 8, count 16, first length 20.
INSTANTIATE_TEST_SUITE_P(
    Spoiled, MalformedBlockList,
    ::testing::Values(
        MalformedCase{"Empty", [](std::string) { return std::string(); }},
        MalformedCase{"HeaderOnlyPart", [](std::string s) { return s.substr(0, 19); }},
        MalformedCase{"WrongMagic", [](std::string s) { s[0] = 'X'; return s; }},
        MalformedCase{"LaterVersion", [](std::string s) { s[4] = 3; return s; }},
        MalformedCase{"Version1Entries", [](std::string s) { s[4] = 1; return s; }},
        MalformedCase{"FileSizeOffByOne", [](std::string s) { s[8] ^= 1; return s; }},
        MalformedCase{"CountTooHigh", [](std::string s) { s[16] = 4; return s; }},
        MalformedCase{"TruncatedEntry", [](std::string s) { s.pop_back(); return s; }},
        MalformedCase{"TrailingByte", [](std::string s) { return s + 'x'; }},
        MalformedCase{"ShortBlockBeforeTheLast",
                      [](std::string) { return SerializeBlockList(ListOf({kMinBlock - 1, 5})); }},
        MalformedCase{"BlockOverTheLongest",
                      [](std::string) { return SerializeBlockList(ListOf({kMaxBlock + 1})); }},
        MalformedCase{"EmptyBlock", [](std::string) { return SerializeBlockList(ListOf({0})); }}),
    lbtest::CaseName());

// --- the plan -----------------------------------------------------------------

using Found = std::vector<std::optional<std::uint64_t>>;
constexpr std::uint32_t K = 32 * 1024;  // a block length used below (≥ kMinBlock)

struct PlanCase {
  const char* name;
  std::vector<std::uint32_t> lengths;
  Found found;
  std::uint64_t from;
  std::vector<BlockSegment> plan;
};
void PrintTo(const PlanCase& c, std::ostream* out) { *out << c.name; }

class Plan : public ::testing::TestWithParam<PlanCase> {};

TEST_P(Plan, BuildsTheFileInOrderWithFewRanges) {
  const PlanCase& c = GetParam();
  const std::vector<BlockSegment> plan = PlanBlockSegments(ListOf(c.lengths), c.found, c.from);
  ASSERT_EQ(plan.size(), c.plan.size());
  for (std::size_t i = 0; i < plan.size(); ++i) {
    EXPECT_EQ(plan[i].offset, c.plan[i].offset) << i;
    EXPECT_EQ(plan[i].length, c.plan[i].length) << i;
    EXPECT_EQ(plan[i].source, c.plan[i].source) << i;
  }
}

const std::optional<std::uint64_t> kFetch;

INSTANTIATE_TEST_SUITE_P(
    Cases, Plan,
    ::testing::Values(
        PlanCase{"AllInPlaceIsOneCopy", {K, K, K}, {0, K, 2 * K}, 0, {{0, 3 * K, 0}}},
        PlanCase{"NothingFoundIsOneFetch", {K, K, K}, {kFetch, kFetch, kFetch}, 0,
                 {{0, 3 * K, kFetch}}},
        PlanCase{"MovedBlocksAreSeparateCopies", {K, K}, {5 * K, 0}, 0,
                 {{0, K, 5 * K}, {K, K, 0}}},
        PlanCase{"ShortCopyBetweenFetchesIsFetched", {K, K, K}, {kFetch, 7, kFetch}, 0,
                 {{0, 3 * K, kFetch}}},
        PlanCase{"LongCopyBetweenFetchesIsKept", {K, K, K, K, K},
                 {kFetch, 7, 7 + K, 7 + 2 * K, kFetch}, 0,
                 {{0, K, kFetch}, {K, 3 * K, 7}, {4 * K, K, kFetch}}},
        PlanCase{"ShortCopyAtTheEndsIsKept", {K, K, K}, {0, kFetch, 2 * K}, 0,
                 {{0, K, 0}, {K, K, kFetch}, {2 * K, K, 2 * K}}},
        PlanCase{"ResumeInsideACopiedBlock", {K, K}, {100, kFetch}, 10,
                 {{10, K - 10, 110}, {K, K, kFetch}}},
        PlanCase{"ResumeInsideAFetchedBlock", {K, K}, {kFetch, 0}, K + 5, {{K + 5, K - 5, 0 + 5}}},
        PlanCase{"ResumeAtTheEndPlansNothing", {K, K}, {0, K}, 2 * K, {}}),
    lbtest::CaseName());

}  // namespace
