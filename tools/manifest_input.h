#pragma once
// Reading a manifest for `check` and `diff`: from a file, or from an https://
// address with the tool's GET, and through the installer's own parser.
// Main thread only.
#include <string>

#include <windows.h>
#include <winhttp.h>

#include "manifest/update_manifest.h"

// True when `location` is an https:// address rather than a file.
bool IsManifestAddress(const std::wstring& location);

// The bytes at `location` unchanged (a file, or an https:// address fetched on
// `session`), at most `max_bytes`. Throws ReleaseRefusal naming `location`
// and `what` ("the manifest").
std::string LoadReleaseText(const std::wstring& location, HINTERNET session,
                            std::size_t max_bytes, const char* what);

// Parses `text`, read from `location`, with the installer's parser. Throws
// ReleaseRefusal "<location>: the installer refuses this manifest: <message>".
UpdateManifest ParseLoadedManifest(const std::wstring& location, const std::string& text);

// Reads the manifest at `location` (a file, or an https:// address fetched on
// `session`, which must then be open) and parses it with the installer's
// parser. Throws ReleaseRefusal naming `location`: unreadable, larger than
// the installer accepts (MaxManifestBytes), a failed download (its English
// cause), or "the installer refuses this manifest: <the parser's message>".
UpdateManifest LoadManifest(const std::wstring& location, HINTERNET session);
