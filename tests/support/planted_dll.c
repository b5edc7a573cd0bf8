// A DLL as a hostile page would leave it in a Downloads folder, under the name
// of a system DLL (winhttp.dll, bcrypt.dll, comctl32.dll, ...): when any
// process loads it, it writes an empty marker file beside itself named after
// itself plus ".loaded" (winhttp.dll.loaded), and stays loaded. It exports
// WinHttpCheckPlatform (answering FALSE), so that a program importing just
// that function from winhttp.dll loads it completely (test support only).
#include <windows.h>

__declspec(dllexport) BOOL WINAPI WinHttpCheckPlatform(void) { return FALSE; }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  WCHAR path[MAX_PATH + 16];
  DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  lstrcpyW(path + length, L".loaded");
  HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  return TRUE;
}
