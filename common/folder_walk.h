#pragma once
// Listing a folder with FindFirstFileExW: the one listing under every tree
// walk, whose callers keep their own policy (which folders to enter, how
// deep, what a failure means). Blocking; any thread.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

struct FolderEntry {
  std::wstring name;  // as listed
  std::wstring path;  // the folder's path and the name, joined as text
  DWORD attributes = 0;
  std::uint64_t size = 0;
  bool IsFolder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};

// Hands every entry of `folder` but "." and ".." to `visit`, which may throw.
// Names are joined as text, never re-parsed: a name Windows would read as
// drive-relative ("C:x") stays inside the folder. A folder without even "."
// (a volume root) is empty. False when the folder cannot be listed or its
// listing broke off, with GetLastError() telling why. The find handle is
// closed when it returns.
bool ListFolder(const std::wstring& folder, const std::function<void(const FolderEntry&)>& visit);
