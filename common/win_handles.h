#pragma once
// The kernel's handle kinds over UniqueHandle. Other APIs' handles come with
// their own headers (winhttp_handle.h, bcrypt_handles.h, crypt32_handles.h,
// com_ptr.h).
#include <windows.h>

#include "common/unique_handle.h"

inline HANDLE InvalidHandleValue() noexcept { return INVALID_HANDLE_VALUE; }

// CreateFileW results.
using FileHandle = UniqueHandle<HandleTraits<HANDLE, ::CloseHandle, &InvalidHandleValue>>;
// FindFirstFileExW results.
using FindHandle = UniqueHandle<HandleTraits<HANDLE, ::FindClose, &InvalidHandleValue>>;
// Processes, threads, events: handles that are null when absent.
using KernelHandle = UniqueHandle<HandleTraits<HANDLE, ::CloseHandle>>;
// Memory the system allocated with LocalAlloc (CommandLineToArgvW, FormatMessageW).
using LocalMemory = UniqueHandle<HandleTraits<HLOCAL, ::LocalFree>>;
