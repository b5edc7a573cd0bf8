#include "common/files.h"

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <vector>

#include "common/filesystem_error.h"
#include "common/paths.h"
#include "common/win_handles.h"

namespace {

// The errors that mean nothing is there to find: no such file or folder, and
// names the system refuses (such a name cannot name an existing file).
bool IsNotFound(DWORD error) noexcept {
  switch (error) {
    case ERROR_INVALID_NAME:
    case ERROR_BAD_DEV_TYPE:
    case ERROR_INVALID_PARAMETER:
    case ERROR_DIRECTORY:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_NO_MORE_FILES:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring AbsolutePath(const std::wstring& path) {
  DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  std::wstring full(length, L'\0');
  if (length != 0) length = GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
  if (length == 0 || length >= full.size()) throw FilesystemError("absolute", path, GetLastError());
  full.resize(length);
  return full;
}

std::wstring ExtendedPath(const std::wstring& path) {
  if (path.starts_with(L"\\\\?\\")) return path;
  const std::wstring full = AbsolutePath(path);
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::optional<std::uint64_t> ExistingFileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    const DWORD error = GetLastError();
    if (IsNotFound(error)) return std::nullopt;
    throw FilesystemError("exists", path, error);
  }
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return std::nullopt;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::optional<std::uint64_t> RegularFileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return std::nullopt;
  }
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::optional<std::string> ReadSmallFile(const std::wstring& path, std::size_t max_bytes) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE |
                              FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr));
  if (!file) return std::nullopt;
  // One byte more than allowed tells a file that is too large.
  std::string bytes(max_bytes + 1, '\0');
  std::size_t length = 0;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes.data() + length, static_cast<DWORD>(bytes.size() - length),
                  &read, nullptr)) {
      return std::nullopt;
    }
    if (read == 0) break;
    length += read;
    if (length > max_bytes) return std::nullopt;
  }
  bytes.resize(length);
  return bytes;
}

void CreateDirectories(const std::wstring& path) {
  if (IsFolder(path)) return;
  // The folders to make, deepest first: everything up to the first that exists.
  std::vector<std::wstring> missing{path};
  for (std::wstring parent = ParentPath(path);
       !parent.empty() && parent != missing.back() && !IsFolder(parent);
       parent = ParentPath(parent)) {
    missing.push_back(parent);
  }
  for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder) {
    if (CreateDirectoryW(folder->c_str(), nullptr)) continue;
    DWORD error = GetLastError();
    // Made meanwhile by someone else, or a root that cannot be made.
    if (IsFolder(*folder)) continue;
    // Nothing below a folder that cannot be made can be made either, so the
    // deeper ones are not tried one by one (on a path thousands of folders
    // deep that would cost a failing call per level). The error shown is
    // that of `path` itself, as the system gives it.
    if (std::next(folder) != missing.rend()) {
      if (CreateDirectoryW(path.c_str(), nullptr)) return;
      error = GetLastError();
    }
    throw FilesystemError("create_directories", path, error);
  }
}

void RemovePath(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (IsNotFound(error)) return;
    throw FilesystemError("remove", path, error);
  }
  const bool removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                           ? RemoveDirectoryW(path.c_str())
                           : DeleteFileW(path.c_str());
  if (!removed) {
    const DWORD error = GetLastError();
    if (!IsNotFound(error)) throw FilesystemError("remove", path, error);
  }
}

bool WriteWholeFile(const std::wstring& sibling, std::string_view bytes) {
  FileHandle file(CreateFileW(sibling.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data() + done, wanted, &written, nullptr) || written == 0) {
      return false;
    }
    done += written;
  }
  return FlushFileBuffers(file.get()) != 0;
}

bool FlushFileToDisk(const std::wstring& path) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  return file && FlushFileBuffers(file.get()) != 0;
}

bool ReplaceByRename(const std::wstring& sibling, const std::wstring& path) {
  return MoveFileExW(sibling.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
