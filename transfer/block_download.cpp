#include "transfer/block_download.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/files.h"
#include "common/text.h"
#include "common/win_handles.h"
#include "finish/file_digest.h"
#include "transfer/block_list.h"
#include "transfer/content_chunker.h"
#include "transfer/file_blocks.h"
#include "transfer/file_url.h"
#include "transfer/transfer_messages.h"

namespace {

// The buffer for reading back the partial file and for copying from the old
// copy: large reads, few calls.
constexpr std::uint64_t kCopyBufferSize = 1 << 20;

// The path gives way to the plain download from the partial file's length.
struct GiveWay {};

std::string Key(const BlockDigest& digest) {
  return std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
}

// The list in `bytes` when they are the one the entry names: its size, its
// digest, its form and the file size it describes.
std::optional<BlockList> CheckedBlockList(const ManifestFile& file, const std::string& bytes) {
  if (bytes.size() != file.blocks->size) return std::nullopt;
  Sha256 hash;
  hash.Add(bytes.data(), bytes.size());
  if (!DigestsMatch(HexDigest(hash.Finish()), Utf8ToWide(file.blocks->hash))) return std::nullopt;
  std::optional<BlockList> list = ParseBlockList(bytes);
  if (!list || list->file_size != file.size) return std::nullopt;
  return list;
}

// The list named by the entry: the copy an earlier run kept at `staged`, or
// else fetched whole and kept there for the runs that may continue this one.
// Both are checked like a file.
std::optional<BlockList> FetchBlockList(HttpSession session, const ManifestFile& file,
                                        const std::wstring& staged) {
  const BlockListEntry& entry = *file.blocks;
  if (entry.size > MaxBlockListSize(file.size)) return std::nullopt;
  try {
    if (std::optional<std::string> kept = ReadSmallFile(staged, entry.size)) {
      if (std::optional<BlockList> list = CheckedBlockList(file, *kept)) return list;
    }
    const HttpResponse response = HttpGet(session, ResolveFileUrl(entry.url));
    if (response.status != 200) return std::nullopt;
    std::string bytes;
    const bool fits = ReadResponseBody(response, kInterrupted, kInterrupted,
                                       [&](const char* data, DWORD count) {
                                         if (count > entry.size - bytes.size()) return false;
                                         bytes.append(data, count);
                                         return true;
                                       });
    std::optional<BlockList> list;
    if (fits) list = CheckedBlockList(file, bytes);
    if (list) WriteWholeFile(staged, bytes);  // only saves a request: a failure is no matter
    return list;
  } catch (const std::exception&) {
    return std::nullopt;  // whatever went wrong, the plain download remains
  }
}

// Appends to the partial file block by block, checking each block as it is
// completed against the list, and digests the whole file as it grows. A
// block copied whole from the old copy was found there by its check (or its
// digest) and is not checked again on its own: the whole file's digest
// covers it.
class BlockWriter {
 public:
  BlockWriter(const BlockList& list, HANDLE part, std::uint64_t length,
              const std::function<void(std::uint64_t)>& appended)
      : list_(list), part_(part), length_(length), appended_(appended) {
    while (length_ >= block_start_ + list_.blocks[index_].length) {
      block_start_ += list_.blocks[index_++].length;
    }
    // What an earlier run wrote joins the whole file's digest, and the part
    // of the current block among it is checked with that block.
    hashing_ = length_ > block_start_;
    std::vector<char> buffer(static_cast<std::size_t>(std::min(length_, kCopyBufferSize)));
    if (!SetFilePointerEx(part_, LARGE_INTEGER{}, nullptr, FILE_BEGIN)) throw GiveWay{};
    for (std::uint64_t at = 0; at < length_;) {
      const DWORD want = static_cast<DWORD>(std::min<std::uint64_t>(length_ - at, buffer.size()));
      DWORD read = 0;
      if (!ReadFile(part_, buffer.data(), want, &read, nullptr) || read != want) throw GiveWay{};
      whole_.Add(buffer.data(), read);
      if (at + read > block_start_) {
        const std::uint64_t skip = at < block_start_ ? block_start_ - at : 0;
        hash_.Add(buffer.data() + skip, read - skip);
      }
      at += read;
    }
  }

  // Writes `count` bytes, `found` when they are copied from where the old
  // copy holds their blocks whole; a completed block that disagrees with the
  // list is cut off again and the path gives way.
  void Append(const char* bytes, std::uint64_t count, bool found) {
    while (count != 0) {
      const std::uint64_t block_end = block_start_ + list_.blocks[index_].length;
      const DWORD piece = static_cast<DWORD>(std::min(count, block_end - length_));
      if (length_ == block_start_) hashing_ = !found;
      if (!hashing_ && !found) {  // never planned: half a block copied, half fetched
        Truncate(block_start_);
        throw GiveWay{};
      }
      DWORD written = 0;
      if (!WriteFile(part_, bytes, piece, &written, nullptr) || written != piece) {
        throw std::runtime_error(kWriteFailed);
      }
      if (hashing_) hash_.Add(bytes, piece);
      whole_.Add(bytes, piece);
      length_ += piece;
      bytes += piece;
      count -= piece;
      appended_(piece);
      if (length_ == block_end) {
        if (hashing_ && hash_.Finish() != list_.blocks[index_].digest) {
          Truncate(block_start_);
          throw GiveWay{};
        }
        block_start_ = block_end;
        ++index_;
      }
    }
  }

  // What stays when the path gives way: the blocks checked here and what an
  // earlier run wrote (up to `earlier`); bytes of an unfinished block written
  // here go.
  std::uint64_t KeepChecked(std::uint64_t earlier) {
    Truncate(std::max(block_start_, std::min(earlier, length_)));
    return length_;
  }
  std::uint64_t length() const { return length_; }

  // True when the whole file is written and has the digest `hash`.
  bool Verified(const std::wstring& hash) {
    return length_ == list_.file_size && DigestsMatch(HexDigest(whole_.Finish()), hash);
  }

 private:
  void Truncate(std::uint64_t to) {
    if (to == length_) return;
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(to);
    if (!SetFilePointerEx(part_, at, nullptr, FILE_BEGIN) || !SetEndOfFile(part_)) {
      throw std::runtime_error(kWriteFailed);
    }
    length_ = to;
  }

  const BlockList& list_;
  HANDLE part_;
  std::uint64_t length_;
  const std::function<void(std::uint64_t)>& appended_;
  std::size_t index_ = 0;
  std::uint64_t block_start_ = 0;
  bool hashing_ = false;  // the current block is hashed (not copied whole)
  Sha256 hash_;           // of the current block
  Sha256 whole_;          // of the file from its first byte
};

// The key a block is found by in the old copy: its length and check, or for
// a list without checks its SHA-256.
std::string Key(const BlockList& list, const Block& block) {
  if (list.version == 1) return Key(block.digest);
  std::string key(12, '\0');
  std::memcpy(key.data(), &block.length, 4);
  std::memcpy(key.data() + 4, &block.check, 8);
  return key;
}

// Where each block of the list from `from` on lies in the old copy, found in
// one sequential pass over it. The index holds only the list's blocks.
std::vector<std::optional<std::uint64_t>> FindOldBlocks(const BlockList& list, HANDLE old,
                                                        std::uint64_t from) {
  std::unordered_map<std::string, std::optional<std::uint64_t>> wanted;
  std::uint64_t offset = 0;
  for (const Block& block : list.blocks) {
    offset += block.length;
    if (offset > from) wanted.emplace(Key(list, block), std::nullopt);
  }
  Sha256 hash;
  ForEachFileBlock(old, [&](std::uint64_t at, std::span<const std::uint8_t> bytes) {
    Block found{static_cast<std::uint32_t>(bytes.size()), {}, 0};
    if (list.version == 1) {
      hash.Add(bytes.data(), bytes.size());
      found.digest = hash.Finish();
    } else {
      found.check = BlockCheck(bytes);
    }
    const auto known = wanted.find(Key(list, found));
    if (known != wanted.end() && !known->second) known->second = at;
  });
  std::vector<std::optional<std::uint64_t>> where;
  for (const Block& block : list.blocks) {
    const auto found = wanted.find(Key(list, block));
    where.push_back(found == wanted.end() ? std::nullopt : found->second);
  }
  return where;
}

void Copy(HANDLE old, const BlockSegment& segment, BlockWriter& writer) {
  std::vector<char> buffer(std::min(segment.length, kCopyBufferSize));
  for (std::uint64_t done = 0; done < segment.length;) {
    OVERLAPPED at{};
    const std::uint64_t from = *segment.source + done;
    at.Offset = static_cast<DWORD>(from);
    at.OffsetHigh = static_cast<DWORD>(from >> 32);
    const DWORD want = static_cast<DWORD>(std::min<std::uint64_t>(segment.length - done, buffer.size()));
    DWORD read = 0;
    if (!ReadFile(old, buffer.data(), want, &read, &at) || read != want) throw GiveWay{};
    writer.Append(buffer.data(), read, true);
    done += read;
  }
}

// "bytes <first>-<last>/<size>" as asked, or the path gives way.
void ExpectRange(const HttpResponse& response, const BlockSegment& segment) {
  wchar_t text[128] = {};
  DWORD size = sizeof text;
  const std::wstring expected = L"bytes " + std::to_wstring(segment.offset) + L"-" +
                                std::to_wstring(segment.offset + segment.length - 1) + L"/";
  if (response.status != 206 ||
      !WinHttpQueryHeaders(response.request.get(), WINHTTP_QUERY_CONTENT_RANGE,
                           WINHTTP_HEADER_NAME_BY_INDEX, text, &size, WINHTTP_NO_HEADER_INDEX) ||
      std::wstring_view(text).substr(0, expected.size()) != expected) {
    throw GiveWay{};
  }
}

void Fetch(HttpSession session, const std::wstring& url, const BlockSegment& segment,
           BlockWriter& writer) {
  const HttpResponse response =
      HttpGet(session, url, ByteRange{segment.offset, segment.offset + segment.length - 1});
  ExpectRange(response, segment);
  std::uint64_t received = 0;
  const bool fits = ReadResponseBody(response, kInterrupted, kInterrupted,
                                     [&](const char* bytes, DWORD count) {
                                       if (count > segment.length - received) return false;
                                       received += count;
                                       writer.Append(bytes, count, false);
                                       return true;
                                     });
  if (!fits) throw GiveWay{};
  if (received < segment.length) throw std::runtime_error(kInterrupted);
}

}  // namespace

BlockBuild ContinueByBlocks(HttpSession session, const ManifestFile& file,
                            const std::wstring& target_path, const std::wstring& part_path,
                            std::uint64_t length,
                            const std::function<void(std::uint64_t count)>& appended) {
  const std::optional<BlockList> list = FetchBlockList(session, file, part_path + L".blocks");
  if (!list) return {length};
  FileHandle old(CreateFileW(target_path.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!old) return {length};
  std::vector<std::optional<std::uint64_t>> where;
  try {
    where = FindOldBlocks(*list, old.get(), length);
  } catch (const std::exception&) {
    return {length};
  }

  FileHandle part(CreateFileW(part_path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!part) throw std::runtime_error(kCannotWrite);
  std::optional<BlockWriter> writer;
  BlockBuild built{length};
  try {
    writer.emplace(*list, part.get(), length, appended);
    const std::wstring url = ResolveFileUrl(file.url);
    for (const BlockSegment& segment : PlanBlockSegments(*list, where, length)) {
      if (segment.source) {
        Copy(old.get(), segment, *writer);
      } else {
        Fetch(session, url, segment, *writer);
      }
    }
    built = {writer->length(), writer->Verified(Utf8ToWide(file.hash))};
  } catch (const GiveWay&) {
    if (writer) built = {writer->KeepChecked(length)};
  }
  if (!FlushFileBuffers(part.get())) throw std::runtime_error(kWriteFailed);
  return built;
}
