#pragma once
// The path rule: which manifest paths may be written under the application
// folder. Thread-safe, no file system access.
#include <string>
#include <string_view>

// Lexical normalisation and the acceptance test on UTF-16 text. Pure code (no
// <windows.h>): returns the normalised relative path with backslashes only, or
// throws std::runtime_error("Caminho inseguro no manifesto.") for an empty,
// absolute, rooted or drive-relative path, one that climbs out with "..", or
// one whose first name is the staging folder ".install-staging" (in any letter
// case, with trailing dots or blanks).
std::wstring NormalizeManifestWidePath(std::wstring_view path);

// Utf8ToWide, then NormalizeManifestWidePath. Throws either's message.
std::wstring NormalizeManifestPath(const std::string& path);

// Name of the staging folder inside the application folder.
inline constexpr wchar_t StagingFolderName[] = L".install-staging";
