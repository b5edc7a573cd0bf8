#pragma once
// WinHTTP sessions, connections and requests, over UniqueHandle.
#include <windows.h>
#include <winhttp.h>

#include "common/unique_handle.h"

using WinHttpHandle = UniqueHandle<HandleTraits<HINTERNET, ::WinHttpCloseHandle>>;
