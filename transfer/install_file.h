#pragma once
// Bringing one manifest entry into the application folder: skip an intact
// target, finish or resume a partial download under ".install-staging",
// verify size and SHA-256, move into place with one rename.
// Called on the worker thread only, one file at a time.
#include <cstdint>
#include <string>

#include "manifest/update_manifest.h"
#include "transfer/http_request.h"

// On return the file lies at app_dir\<normalised path> with the manifest's
// size and digest and `bytes_done` has grown by exactly `file.size`. Progress
// is posted with PostProgress ("Verificando instalacao" / "Baixando
// Lanternbrook", detail = normalised path). Throws std::runtime_error with the
// fixed messages of the download (see install_file.cpp), or a FilesystemError
// naming "exists", "create_directories" or "remove". Partial files stay for
// the next run, except one that failed verification, which is deleted.
void InstallFile(HttpSession session, const ManifestFile& file, const std::wstring& app_dir,
                 std::uint64_t& bytes_done, std::uint64_t bytes_total);
