#pragma once
// Fetching one file of a release over HTTPS for `check --base-url`, with the
// installer's own GET. Main thread only; blocking.
#include <cstdint>
#include <string>

#include <objbase.h>  // CoTaskMemFree, used by win_handles.h

#include "common/win_handles.h"

// A WinHTTP session for the tool (user agent "lanternbrook-release/1.0",
// the system's proxy setting, 30 s to connect, 120 s per read).
// Throws ReleaseRefusal.
WinHttpHandle OpenReleaseSession();

struct DownloadedFile {
  std::uint64_t size = 0;
  std::wstring sha256;  // 64 lower-case hex digits
};

// GETs `url` (no Range header) into a temporary file that is deleted again,
// and returns the length and the SHA-256 of the body. Throws
// std::runtime_error: HttpGet's messages, "HTTP status <n>" for a status other
// than 200 and 206 (the statuses the installer takes for a new file), or
// a message about the failed read or the temporary file.
DownloadedFile DownloadAndDigest(HINTERNET session, const std::wstring& url);
