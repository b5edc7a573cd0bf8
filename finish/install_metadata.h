#pragma once
// version.json: the document that says which release the application folder
// holds. Pure code (no <windows.h>); thread-safe.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The four-line document:
//   {\n  "version": "<escaped version>",\n  "build": <decimal>\n}\n
// Pure; never throws except std::bad_alloc.
std::string BuildInstallMetadata(const std::string& version, std::uint64_t build);

// The build of a document that reads exactly as BuildInstallMetadata writes
// it; nothing for any other text. Pure; never throws except std::bad_alloc.
std::optional<std::uint64_t> ReadInstalledBuild(std::string_view document);
