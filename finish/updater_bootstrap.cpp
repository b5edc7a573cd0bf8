#include "finish/updater_bootstrap.h"

#include <windows.h>

#include <stdexcept>

#include "common/files.h"
#include "common/paths.h"

void InstallUpdater(const std::wstring& app_dir) {
  const std::wstring source = JoinPath(app_dir, L"LanternbrookUpdater.exe");
  const std::wstring destination = JoinPath(app_dir, L"LanternbrookUpdater-v2.exe");
  const std::wstring temporary = destination + L".new";

  // The copy lands under the ".new" name first (overwriting one left by an
  // earlier run) and is on disk before the rename, so neither a process
  // starting the -v2 program nor a power cut ever leaves half of it.
  const bool installed = ::CopyFileW(source.c_str(), temporary.c_str(), FALSE) &&
                         FlushFileToDisk(temporary) && ReplaceByRename(temporary, destination);
  if (!installed) throw std::runtime_error("Falha ao instalar o atualizador do Lanternbrook.");
}
