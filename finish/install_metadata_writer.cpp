#include "finish/install_metadata_writer.h"

#include <stdexcept>

#include "common/files.h"
#include "common/paths.h"

void WriteInstallMetadata(const std::wstring& target, const std::string& content) {
  const std::wstring parent = ParentPath(target);
  if (!parent.empty()) CreateDirectories(parent);

  // The document is on disk before the rename, so a power cut cannot leave
  // an empty or partial version.json in place of a good one.
  const std::wstring temporary = target + L".tmp";
  if (!WriteWholeFile(temporary, content)) {
    throw std::runtime_error("Falha ao gravar os metadados da instalacao.");
  }
  if (!ReplaceByRename(temporary, target)) {
    throw std::runtime_error("Falha ao finalizar os metadados da instalacao.");
  }
}
