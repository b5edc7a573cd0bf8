#include "install/staging_removal.h"

#include "common/folder_walk.h"

namespace {

// Deeper than any staging tree the path rule lets through; a bound, so that
// no listing, however strange, can recurse without end.
constexpr int MaxDepth = 512;

void RemoveTree(const std::wstring& folder, int depth) noexcept {
  if (depth > MaxDepth) return;
  ListFolder(folder, [depth](const FolderEntry& entry) {
    if (entry.attributes & FILE_ATTRIBUTE_READONLY) {
      SetFileAttributesW(entry.path.c_str(), entry.attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    if (!entry.IsFolder()) {
      DeleteFileW(entry.path.c_str());
    } else if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      RemoveDirectoryW(entry.path.c_str());
    } else {
      RemoveTree(entry.path, depth + 1);
    }
  });
  RemoveDirectoryW(folder.c_str());
}

}  // namespace

void RemoveFolderTree(const std::wstring& folder) noexcept {
  if (!folder.empty()) RemoveTree(folder, 0);
}
