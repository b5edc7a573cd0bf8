#include "finish/desktop_shortcut.h"

#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "app/desktop_folder.h"
#include "common/com_ptr.h"
#include "common/paths.h"

void CreateDesktopShortcut(const std::wstring& app_executable) {
  const auto link = ComPtr<IShellLinkW>::create(CLSID_ShellLink);
  if (!link) return;  // no shortcut; the run still succeeds

  // The property setters are best effort: their results are not examined.
  const std::wstring working_directory = ParentPath(app_executable);
  link->SetPath(app_executable.c_str());
  link->SetWorkingDirectory(working_directory.c_str());
  link->SetDescription(L"Lanternbrook Emulador");
  link->SetIconLocation(app_executable.c_str(), 0);

  const auto file = link.query<IPersistFile>();
  if (!file) return;

  const std::wstring link_path = JoinPath(GetDesktopFolder(), L"Lanternbrook.lnk");
  file->Save(link_path.c_str(), TRUE);  // a failed save leaves no shortcut, silently
}
