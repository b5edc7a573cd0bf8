#pragma once
// version.json: which release the application folder holds.
// Called on the worker thread only.
#include <cstdint>
#include <string>

// The four-line document:
//   {\n  "version": "<escaped version>",\n  "build": <decimal>\n}\n
// Pure; never throws except std::bad_alloc.
std::string BuildInstallMetadata(const std::string& version, std::uint64_t build);

// Writes `content` to `target` + ".tmp", flushes it to disk and renames it onto `target`
// (MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH). Throws a
// FilesystemError for "create_directories" (parent folder),
// std::runtime_error("Falha ao gravar os metadados da instalacao.") or
// std::runtime_error("Falha ao finalizar os metadados da instalacao.").
// The temporary file is left in place on failure.
void WriteInstallMetadata(const std::wstring& target, const std::string& content);
