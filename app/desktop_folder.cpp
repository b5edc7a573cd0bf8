#include "app/desktop_folder.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <stdexcept>

#include "common/com_ptr.h"

std::wstring GetDesktopFolder() {
  PWSTR raw = nullptr;
  HRESULT result = SHGetKnownFolderPath(FOLDERID_Desktop, KF_FLAG_CREATE, nullptr, &raw);
  CoTaskMemory owner(raw);  // freed on every path, even after a failure
  if (FAILED(result) || !raw) {
    throw std::runtime_error("Nao foi possivel localizar a Area de Trabalho.");
  }
  return std::wstring(raw);
}
