#pragma once
// The handle kinds the installer owns, each a UniqueHandle with its traits.
// File handles are invalid at INVALID_HANDLE_VALUE; every other kind at null.
#include <windows.h>
#include <bcrypt.h>
#include <objbase.h>
#include <winhttp.h>

#include "common/unique_handle.h"

struct FileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { ::CloseHandle(h); }
};
// CreateFileW results.
using FileHandle = UniqueHandle<FileHandleTraits>;

struct FindHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { ::FindClose(h); }
};
// FindFirstFileExW results.
using FindHandle = UniqueHandle<FindHandleTraits>;

struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::CloseHandle(h); }
};
// Processes, threads, events: handles that are null when absent.
using KernelHandle = UniqueHandle<KernelHandleTraits>;

struct WinHttpHandleTraits {
  using Type = HINTERNET;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::WinHttpCloseHandle(h); }
};
// WinHTTP sessions, connections and requests.
using WinHttpHandle = UniqueHandle<WinHttpHandleTraits>;

struct BcryptAlgorithmTraits {
  using Type = BCRYPT_ALG_HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
};
using BcryptAlgorithmHandle = UniqueHandle<BcryptAlgorithmTraits>;

struct BcryptHashTraits {
  using Type = BCRYPT_HASH_HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::BCryptDestroyHash(h); }
};
using BcryptHashHandle = UniqueHandle<BcryptHashTraits>;

struct LocalMemoryTraits {
  using Type = HLOCAL;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::LocalFree(h); }
};
// Memory the system allocated with LocalAlloc (CommandLineToArgvW, FormatMessageW).
using LocalMemory = UniqueHandle<LocalMemoryTraits>;

struct CoTaskMemoryTraits {
  using Type = void*;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type p) noexcept { ::CoTaskMemFree(p); }
};
// Memory the shell allocated with CoTaskMemAlloc (SHGetKnownFolderPath).
using CoTaskMemory = UniqueHandle<CoTaskMemoryTraits>;
