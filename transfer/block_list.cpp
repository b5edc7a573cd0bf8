#include "transfer/block_list.h"

#include <cstring>
#include <map>

#include "transfer/content_chunker.h"

namespace {

constexpr char kMagic[4] = {'L', 'B', 'B', 'L'};
constexpr std::size_t kHeaderSize = 20;

constexpr std::size_t EntrySize(std::uint32_t version) { return version == 1 ? 36 : 44; }

template <typename T>
void Put(std::string& out, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

template <typename T>
T Get(std::string_view bytes, std::size_t at) {
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    value |= static_cast<T>(static_cast<std::uint8_t>(bytes[at + i])) << (8 * i);
  }
  return value;
}

}  // namespace

std::uint64_t MaxBlockListSize(std::uint64_t file_size) noexcept {
  return kHeaderSize + EntrySize(kBlockListVersion) * ((file_size + kMinBlock - 1) / kMinBlock);
}

std::string SerializeBlockList(const BlockList& list) {
  std::string out(kMagic, sizeof kMagic);
  Put<std::uint32_t>(out, list.version);
  Put<std::uint64_t>(out, list.file_size);
  Put<std::uint32_t>(out, static_cast<std::uint32_t>(list.blocks.size()));
  for (const Block& block : list.blocks) {
    Put<std::uint32_t>(out, block.length);
    if (list.version != 1) Put<std::uint64_t>(out, block.check);
    out.append(reinterpret_cast<const char*>(block.digest.data()), block.digest.size());
  }
  return out;
}

std::optional<BlockList> ParseBlockList(std::string_view bytes) {
  if (bytes.size() < kHeaderSize || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
    return std::nullopt;
  }
  BlockList list;
  list.version = Get<std::uint32_t>(bytes, 4);
  if (list.version != 1 && list.version != 2) return std::nullopt;
  list.file_size = Get<std::uint64_t>(bytes, 8);
  const std::uint64_t count = Get<std::uint32_t>(bytes, 16);
  const std::size_t entry_size = EntrySize(list.version);
  if ((bytes.size() - kHeaderSize) / entry_size != count ||
      (bytes.size() - kHeaderSize) % entry_size != 0) {
    return std::nullopt;
  }
  std::uint64_t total = 0;
  list.blocks.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t at = kHeaderSize + i * entry_size;
    Block& block = list.blocks[i];
    block.length = Get<std::uint32_t>(bytes, at);
    at += 4;
    if (list.version != 1) {
      block.check = Get<std::uint64_t>(bytes, at);
      at += 8;
    }
    std::memcpy(block.digest.data(), bytes.data() + at, block.digest.size());
    if (block.length == 0 || block.length > kMaxBlock ||
        (i + 1 < count && block.length < kMinBlock)) {
      return std::nullopt;
    }
    total += block.length;
  }
  if (total != list.file_size) return std::nullopt;
  return list;
}

std::vector<BlockSegment> PlanBlockSegments(const BlockList& list,
                                            const std::vector<std::optional<std::uint64_t>>& found,
                                            std::uint64_t from) {
  std::vector<BlockSegment> plan;
  std::uint64_t offset = 0;
  for (std::size_t i = 0; i < list.blocks.size(); ++i) {
    const std::uint64_t end = offset + list.blocks[i].length;
    if (end > from) {
      const std::uint64_t skip = from > offset ? from - offset : 0;
      BlockSegment piece{offset + skip, end - offset - skip, std::nullopt};
      if (i < found.size() && found[i]) piece.source = *found[i] + skip;
      BlockSegment* last = plan.empty() ? nullptr : &plan.back();
      if (last && !last->source && !piece.source) {
        last->length += piece.length;
      } else if (last && last->source && piece.source &&
                 *last->source + last->length == *piece.source) {
        last->length += piece.length;
      } else {
        plan.push_back(piece);
      }
    }
    offset = end;
  }
  // A short copy between two fetches joins them into one range.
  std::vector<BlockSegment> merged;
  for (std::size_t i = 0; i < plan.size(); ++i) {
    const bool bridge = plan[i].source && plan[i].length <= kRangeMergeGap && i > 0 &&
                        i + 1 < plan.size() && !plan[i + 1].source && !merged.back().source;
    if (bridge || (!plan[i].source && !merged.empty() && !merged.back().source)) {
      merged.back().length += plan[i].length;
    } else {
      merged.push_back(plan[i]);
    }
  }
  return merged;
}

std::uint64_t BytesFetchedByBlocks(const BlockList& old, const BlockList& list) {
  std::map<BlockDigest, std::uint64_t> old_blocks;
  std::uint64_t offset = 0;
  for (const Block& block : old.blocks) {
    old_blocks.emplace(block.digest, offset);
    offset += block.length;
  }
  std::vector<std::optional<std::uint64_t>> found;
  for (const Block& block : list.blocks) {
    const auto at = old_blocks.find(block.digest);
    found.push_back(at == old_blocks.end() ? std::nullopt : std::optional(at->second));
  }
  std::uint64_t fetched = 0;
  for (const BlockSegment& segment : PlanBlockSegments(list, found, 0)) {
    if (!segment.source) fetched += segment.length;
  }
  return fetched;
}
