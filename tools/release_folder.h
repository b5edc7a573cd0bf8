#pragma once
// The file system side of the publisher tool: listing a release folder,
// absolute and extended-length paths, sizes, and the letter-case key Windows
// compares names by. Main thread only.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ReleaseFolderFile {
  std::wstring relative;  // names below the folder joined with '\', exactly as on disk
  std::wstring path;      // extended-length absolute path (\\?\...), for opening
  std::uint64_t size = 0;
};

// Every file below `folder`, in no particular order. A folder named
// .install-staging (in any letter case), at any depth, is not entered: it
// holds an installer's partial downloads, never a release. Files whose
// absolute path equals one of `excluded` (ignoring letter case) are left
// out. Throws ReleaseRefusal when `folder` is not a folder or a folder below
// it cannot be read, naming it.
std::vector<ReleaseFolderFile> ListReleaseFolder(const std::wstring& folder,
                                                 const std::vector<std::wstring>& excluded);

// GetFullPathNameW. Throws ReleaseRefusal naming the path.
std::wstring AbsolutePath(const std::wstring& path);

// The absolute path with the \\?\ prefix, so names are used exactly as
// written (trailing dots and blanks kept, no MAX_PATH limit).
std::wstring ExtendedPath(const std::wstring& path);

// Size of a file, or nothing when it does not exist or cannot be read.
std::optional<std::uint64_t> FileSizeOf(const std::wstring& path);

// True when `path` names an existing folder.
bool IsFolder(const std::wstring& path);

// The name in upper case as Windows file systems compare names, for finding
// names that differ only in letter case.
std::wstring LetterCaseKey(std::wstring_view name);

// The operating system's text for GetLastError() (UTF-8, no trailing newline).
std::string LastErrorText();
