#pragma once
// The handle kinds the installer owns, one line each: a UniqueHandle whose
// traits name the handle type, how it is closed and its invalid value. File
// and find handles are invalid at INVALID_HANDLE_VALUE; every other kind at null.
#include <windows.h>
#include <bcrypt.h>
#include <objbase.h>
#include <wincrypt.h>
#include <winhttp.h>

#include "common/unique_handle.h"

template <typename T>
constexpr T NullHandleValue() noexcept {
  return nullptr;
}
inline HANDLE InvalidHandleValue() noexcept { return INVALID_HANDLE_VALUE; }
inline void CloseBcryptAlgorithm(BCRYPT_ALG_HANDLE handle) noexcept {
  ::BCryptCloseAlgorithmProvider(handle, 0);
}

// Traits for UniqueHandle from a close function and an invalid value.
template <typename T, auto CloseFunction, T (*InvalidValue)() noexcept = &NullHandleValue<T>>
struct HandleTraits {
  using Type = T;
  static Type Invalid() noexcept { return InvalidValue(); }
  static void Close(Type handle) noexcept { CloseFunction(handle); }
};

// CreateFileW results.
using FileHandle = UniqueHandle<HandleTraits<HANDLE, ::CloseHandle, &InvalidHandleValue>>;
// FindFirstFileExW results.
using FindHandle = UniqueHandle<HandleTraits<HANDLE, ::FindClose, &InvalidHandleValue>>;
// Processes, threads, events: handles that are null when absent.
using KernelHandle = UniqueHandle<HandleTraits<HANDLE, ::CloseHandle>>;
// WinHTTP sessions, connections and requests.
using WinHttpHandle = UniqueHandle<HandleTraits<HINTERNET, ::WinHttpCloseHandle>>;
// CNG algorithm providers, hash objects and keys.
using BcryptAlgorithmHandle = UniqueHandle<HandleTraits<BCRYPT_ALG_HANDLE, CloseBcryptAlgorithm>>;
using BcryptHashHandle = UniqueHandle<HandleTraits<BCRYPT_HASH_HANDLE, ::BCryptDestroyHash>>;
// CNG key pairs and public keys.
using BcryptKeyHandle = UniqueHandle<HandleTraits<BCRYPT_KEY_HANDLE, ::BCryptDestroyKey>>;
// Memory the system allocated with LocalAlloc (CommandLineToArgvW, FormatMessageW).
using LocalMemory = UniqueHandle<HandleTraits<HLOCAL, ::LocalFree>>;
// Memory the shell allocated with CoTaskMemAlloc (SHGetKnownFolderPath).
using CoTaskMemory = UniqueHandle<HandleTraits<void*, ::CoTaskMemFree>>;
// A certificate, and a certificate chain built by CertGetCertificateChain (crypt32).
using CertContext = UniqueHandle<HandleTraits<PCCERT_CONTEXT, ::CertFreeCertificateContext>>;
using CertChain = UniqueHandle<HandleTraits<PCCERT_CHAIN_CONTEXT, ::CertFreeCertificateChain>>;
