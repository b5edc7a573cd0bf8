#include "install/staging_removal.h"

#include <windows.h>

#include "common/paths.h"
#include "common/win_handles.h"

namespace {

// Deeper than any staging tree the path rule lets through; a bound, so that
// no listing, however strange, can recurse without end.
constexpr int MaxDepth = 512;

void RemoveTree(const std::wstring& folder, int depth) noexcept {
  if (depth > MaxDepth) return;
  WIN32_FIND_DATAW entry;
  FindHandle find(
      FindFirstFileExW(JoinPath(folder, L"*").c_str(), FindExInfoBasic, &entry,
                       FindExSearchNameMatch, nullptr, 0));
  if (find) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = JoinPath(folder, name);
      const DWORD attributes = entry.dwFileAttributes;
      if (attributes & FILE_ATTRIBUTE_READONLY) {
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
      }
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveTree(path, depth + 1);
      } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveDirectoryW(path.c_str());
      } else {
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(find.get(), &entry));
  }
  find.reset();
  RemoveDirectoryW(folder.c_str());
}

}  // namespace

void RemoveFolderTree(const std::wstring& folder) noexcept {
  if (!folder.empty()) RemoveTree(folder, 0);
}
