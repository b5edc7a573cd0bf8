#pragma once
// The progress window. Everything here runs on the UI thread.
#include <windows.h>

inline constexpr wchar_t InstallerWindowClass[] = L"LanternbrookOnlineInstaller";

// Handles WM_CREATE (controls, worker start), ProgressMessage,
// CompletionMessage, WM_CLOSE (refused while the run works) and WM_DESTROY.
LRESULT CALLBACK InstallerWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Registers the window class and creates the 576 x 246 window; returns null on
// failure (also when the worker cannot be started).
bool RegisterInstallerWindowClass(HINSTANCE instance);
HWND CreateInstallerWindow(HINSTANCE instance);

// The procedure WM_CREATE starts on the worker thread; RunInstallation unless
// a test replaces it before creating the window.
using WorkerProcedure = void (*)();
void SetWorkerProcedure(WorkerProcedure procedure) noexcept;
