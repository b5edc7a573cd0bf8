#pragma once
// Puts version.json (finish/install_metadata.h) on disk through a ".tmp"
// sibling and one rename, so that a reader sees either the old document or the
// new one, never a part of it. Called on the worker thread only.
#include <string>

// Writes `content` to `target` + ".tmp", flushes it to disk and renames it onto `target`
// (MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH). Throws a
// FilesystemError for "create_directories" (parent folder),
// std::runtime_error("Falha ao gravar os metadados da instalacao.") or
// std::runtime_error("Falha ao finalizar os metadados da instalacao.").
// The temporary file is left in place on failure.
void WriteInstallMetadata(const std::wstring& target, const std::string& content);
