#include "transfer/file_blocks.h"

#include <objbase.h>  // CoTaskMemFree, named by common/win_handles.h

#include <cstring>
#include <stdexcept>
#include <vector>

#include "common/win_handles.h"
#include "finish/file_digest.h"
#include "transfer/content_chunker.h"

namespace {

constexpr char kUnreadable[] = "Nao foi possivel validar um arquivo baixado.";
constexpr std::size_t kBufferSize = 4 * kMaxBlock;

}  // namespace

void ForEachFileBlock(HANDLE file,
                      const std::function<void(std::uint64_t offset,
                                               std::span<const std::uint8_t> bytes)>& each) {
  std::vector<std::uint8_t> buffer(kBufferSize);
  std::size_t begin = 0;
  std::size_t end = 0;
  bool at_end = false;
  std::uint64_t offset = 0;
  for (;;) {
    // The cutter needs a whole longest block ahead, or the rest of the file.
    if (!at_end && end - begin < kMaxBlock) {
      std::memmove(buffer.data(), buffer.data() + begin, end - begin);
      end -= begin;
      begin = 0;
      while (!at_end && end < buffer.size()) {
        DWORD read = 0;
        if (!ReadFile(file, buffer.data() + end, static_cast<DWORD>(buffer.size() - end), &read,
                      nullptr)) {
          throw std::runtime_error(kUnreadable);
        }
        at_end = read == 0;
        end += read;
      }
    }
    if (begin == end) return;
    const std::size_t length = NextBlockLength({buffer.data() + begin, end - begin});
    each(offset, {buffer.data() + begin, length});
    begin += length;
    offset += length;
  }
}

BlockList MakeBlockList(const std::wstring& path) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) throw std::runtime_error(kUnreadable);
  BlockList list;
  Sha256 hash;
  ForEachFileBlock(file.get(), [&](std::uint64_t, std::span<const std::uint8_t> bytes) {
    hash.Add(bytes.data(), bytes.size());
    list.blocks.push_back({static_cast<std::uint32_t>(bytes.size()), hash.Finish(), BlockCheck(bytes)});
    list.file_size += bytes.size();
  });
  return list;
}
