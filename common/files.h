#pragma once
// The file operations of the run, straight on the Win32 calls so that a
// failure carries the system's own error (see FilesystemError). Paths are
// used as given. Thread-safe; called on the worker thread.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The size of the regular file at `path`; nothing when nothing is there or it
// is not a regular file. "Not found" in any of its forms (no file, no folder
// on the way, no such drive or share, a name too long or one the system
// refuses) is nothing; any other failure (access denied...) throws
// FilesystemError naming "exists".
std::optional<std::uint64_t> ExistingFileSize(const std::wstring& path);

// The size of the regular file at `path`; nothing when there is no such
// file or its size cannot be read (a folder, a name the system refuses...).
std::optional<std::uint64_t> RegularFileSize(const std::wstring& path);

// True when `path` names an existing folder.
bool IsFolder(const std::wstring& path);

// GetFullPathNameW: `path` made absolute against the current folder. Throws
// FilesystemError naming "absolute".
std::wstring AbsolutePath(const std::wstring& path);

// The absolute path with the \\?\ prefix (\\?\UNC\ for a network path), so
// that names are used exactly as written: trailing dots and blanks kept, no
// MAX_PATH limit. A path that has the prefix already is returned as it is.
// Throws as AbsolutePath.
std::wstring ExtendedPath(const std::wstring& path);

// The bytes of the regular file at `path`; nothing when it cannot be opened or
// read, or holds more than `max_bytes` bytes.
std::optional<std::string> ReadSmallFile(const std::wstring& path, std::size_t max_bytes);

// Creates `path` and every missing folder above it; a folder that exists is
// fine. Throws FilesystemError naming "create_directories" and `path`, with
// the error of the creation that failed.
void CreateDirectories(const std::wstring& path);

// Deletes the file (or empty folder) at `path`; nothing there is fine.
// Throws FilesystemError naming "remove".
void RemovePath(const std::wstring& path);

// Replace by rename: `path` is first written in full under `sibling`, which is
// then moved over `path`. The pieces, each false on failure (GetLastError()
// tells why):
//   WriteWholeFile   creates or truncates `sibling`, writes `bytes` and flushes them to disk;
//   FlushFileToDisk  flushes a file written by other means (CopyFileW) to disk;
//   ReplaceByRename  MoveFileExW(sibling, path, MOVEFILE_REPLACE_EXISTING |
//                    MOVEFILE_WRITE_THROUGH): returns once the move is on disk.
// A sibling left by a failure is overwritten by the next attempt.
bool WriteWholeFile(const std::wstring& sibling, std::string_view bytes);
bool FlushFileToDisk(const std::wstring& path);
bool ReplaceByRename(const std::wstring& sibling, const std::wstring& path);
