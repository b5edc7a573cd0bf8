#include "tools/release_folder.h"

#include <windows.h>

#include <set>

#include <objbase.h>  // CoTaskMemFree, used by win_handles.h

#include "common/folder_walk.h"
#include "common/win_handles.h"
#include "common/text.h"
#include "transfer/manifest_path.h"
#include "tools/release_errors.h"
#include "tools/release_text.h"

namespace {

// Deeper nesting than this is taken for a link loop.
constexpr int kMaxDepth = 128;

bool IsStagingFolderName(std::wstring_view name) {
  return LetterCaseKey(name) == LetterCaseKey(StagingFolderName);
}

struct Walk {
  std::set<std::wstring> excluded;  // letter-case keys of extended paths
  std::vector<ReleaseFolderFile> files;
};

void ListInto(Walk& walk, const std::wstring& directory, const std::wstring& relative, int depth) {
  if (depth > kMaxDepth) {
    throw ReleaseRefusal(DescribeName(directory) + ": folders nested more than " +
                         std::to_string(kMaxDepth) + " deep (a link loop?)");
  }
  const bool listed = ListFolder(directory, [&](const FolderEntry& entry) {
    const std::wstring child = relative.empty() ? entry.name : relative + L"\\" + entry.name;
    if (entry.IsFolder()) {
      if (!IsStagingFolderName(entry.name)) ListInto(walk, entry.path, child, depth + 1);
    } else if (!walk.excluded.count(LetterCaseKey(entry.path))) {
      walk.files.push_back({child, entry.path, entry.size});
    }
  });
  if (!listed) {
    throw ReleaseRefusal(DescribeName(directory) + ": cannot read the folder: " + LastErrorText());
  }
}

}  // namespace

std::vector<ReleaseFolderFile> ListReleaseFolder(const std::wstring& folder,
                                                 const std::vector<std::wstring>& excluded) {
  std::wstring root = ExtendedPath(folder);
  if (!IsFolder(root)) throw ReleaseRefusal(DescribeName(folder) + ": not a folder");
  while (root.size() > 7 && (root.back() == L'\\' || root.back() == L'/')) root.pop_back();
  Walk walk;
  for (const std::wstring& path : excluded) walk.excluded.insert(LetterCaseKey(ExtendedPath(path)));
  ListInto(walk, root, L"", 0);
  return std::move(walk.files);
}

std::wstring AbsolutePath(const std::wstring& path) {
  DWORD length = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (length == 0) throw ReleaseRefusal(DescribeName(path) + ": " + LastErrorText());
  std::wstring full(length, L'\0');
  length = ::GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
  if (length == 0 || length >= full.size()) {
    throw ReleaseRefusal(DescribeName(path) + ": " + LastErrorText());
  }
  full.resize(length);
  return full;
}

std::wstring ExtendedPath(const std::wstring& path) {
  if (path.starts_with(L"\\\\?\\")) return path;
  std::wstring full = AbsolutePath(path);
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::optional<std::uint64_t> FileSizeOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool IsFolder(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring LetterCaseKey(std::wstring_view name) {
  if (name.empty()) return {};
  std::wstring key(name);
  ::CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
  return key;
}

std::string LastErrorText() {
  DWORD error = ::GetLastError();
  wchar_t* buffer = nullptr;
  DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  LocalMemory owner(buffer);
  std::wstring text = length ? std::wstring(buffer, length) : std::wstring();
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
    text.pop_back();
  }
  if (text.empty()) text = L"error " + std::to_wstring(error);
  return WideToUtf8(text);
}
