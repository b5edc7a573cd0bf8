#include "finish/updater_bootstrap.h"

#include <windows.h>

#include <stdexcept>

#include "common/paths.h"

void InstallUpdater(const std::wstring& app_dir) {
  const std::wstring source = JoinPath(app_dir, L"LanternbrookUpdater.exe");
  const std::wstring destination = JoinPath(app_dir, L"LanternbrookUpdater-v2.exe");
  const std::wstring temporary = destination + L".new";

  // The copy lands under the ".new" name first (overwriting one left by an
  // earlier run), so a process starting the -v2 program never sees half of it.
  bool installed = ::CopyFileW(source.c_str(), temporary.c_str(), FALSE) &&
                   ::MoveFileExW(temporary.c_str(), destination.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!installed) throw std::runtime_error("Falha ao instalar o atualizador do Lanternbrook.");
}
