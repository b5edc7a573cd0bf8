#pragma once
// Lexical Windows path helpers. Pure string work: no file system access and
// no <windows.h>, so the same code builds for the host. Thread-safe.
#include <string>
#include <string_view>

// True for '\' and '/'.
bool IsPathSeparator(wchar_t c) noexcept;

// Length of the root name: "C:" (2); for a network or device path the server
// and share, or the device prefix and volume ("\\server\share",
// "\\?\C:"); else 0.
size_t RootNameLength(std::wstring_view path) noexcept;

// Absolute means "C:\x" / "c:/x", or a network or device prefix ("\\server",
// "\\?\..."). "C:x" and "\x" are not absolute.
bool IsAbsoluteWindowsPath(std::wstring_view path) noexcept;

// Joins with one backslash unless `left` already ends in a separator; an
// empty `left` gives `right` unchanged. Used wherever a fixed name or a
// validated relative path is put under a directory.
std::wstring JoinPath(std::wstring_view left, std::wstring_view right);

// The Windows path-append rules used for --app-executable:
//  - an absolute `right`, or one naming a drive other than `left`'s, replaces `left`;
//  - a `right` that starts with a separator keeps only the drive of `left`;
//  - otherwise the two are concatenated with one backslash, unless `left` is
//    empty, is a bare drive ("C:") or already ends in a separator.
std::wstring AppendWindowsPath(std::wstring_view left, std::wstring_view right);

// The path without its last element and the separators before it; the root
// ("C:\", "\") is kept. "C:\a\b.exe" -> "C:\a", "C:\b.exe" -> "C:\",
// "b.exe" -> "".
std::wstring ParentPath(std::wstring_view path);
