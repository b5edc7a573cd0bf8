// Puts version.json on disk through a ".tmp" sibling and one rename, so a
// reader sees either the old document or the new one.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "common/filesystem_error.h"
#include "common/paths.h"
#include "finish/install_metadata.h"

void WriteInstallMetadata(const std::wstring& target, const std::string& content) {
  const std::wstring parent = ParentPath(target);
  if (!parent.empty()) {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(parent), error);
    if (error) ThrowFilesystemError("create_directories", std::filesystem::path(parent), error);
  }

  const std::wstring temporary = target + L".tmp";
  {
    std::ofstream out(std::filesystem::path(temporary),
                      std::ios::out | std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    // The stream buffers the document: only a flush shows whether it reached
    // the file. Without it a full disk would leave an empty temporary file,
    // which the rename would then put over a good version.json.
    out.flush();
    if (!out) throw std::runtime_error("Falha ao gravar os metadados da instalacao.");
    out.close();
    if (!out) throw std::runtime_error("Falha ao gravar os metadados da instalacao.");
  }

  if (!::MoveFileExW(temporary.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    throw std::runtime_error("Falha ao finalizar os metadados da instalacao.");
  }
}
