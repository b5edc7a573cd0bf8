// Entry point of LanternbrookInstaller.exe: the window and its message loop on
// the UI thread. The run itself reads the command line (worker thread).
#include <windows.h>
#include <commctrl.h>

#include "app/globals.h"
#include "app/main_window.h"
#include "common/system_dll_search.h"

// The C runtime's start-up for a GUI program: initialises the runtime, runs
// the static constructors and calls wWinMain.
extern "C" int WinMainCRTStartup();

// The process's entry point (set at link time): the DLL search is limited to
// the system folder, and the delay-loaded system DLLs are loaded from there,
// before the C runtime or any constructor runs. crypt32, which WinHTTP loads
// for TLS, is loaded first as well, so that no load of it inside the system's
// own DLLs can look anywhere else.
extern "C" int InstallerStartup() {
  RestrictDllSearchToSystemFolder({L"bcrypt.dll", L"crypt32.dll", L"winhttp.dll", L"comctl32.dll"});
  return WinMainCRTStartup();
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_PROGRESS_CLASS;
  InitCommonControlsEx(&controls);

  if (!RegisterInstallerWindowClass(instance)) return 1;
  HWND window = CreateInstallerWindow(instance);
  if (!window) return 1;  // also when the worker could not be started
  g_mainWindow = window;

  ShowWindow(window, show_command);
  UpdateWindow(window);

  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
