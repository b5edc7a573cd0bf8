#pragma once
// The kernel's handle kinds, one line each over UniqueHandle: files, find
// handles, processes and events, and LocalAlloc memory. The handles of the
// other APIs come with their own headers: common/winhttp_handle.h,
// common/bcrypt_handles.h, common/crypt32_handles.h, and COM's in
// common/com_ptr.h.
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
