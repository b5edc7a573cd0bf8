#include "common/system_dll_search.h"

#include <windows.h>

void RestrictDllSearchToSystemFolder(std::initializer_list<const wchar_t*> dlls) noexcept {
  if (!SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) ExitProcess(1);
  for (const wchar_t* dll : dlls) LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}
