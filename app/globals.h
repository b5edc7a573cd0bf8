#pragma once
// Process-wide state shared by the window (UI thread) and the run (worker).
// No lock: the worker writes g_quiet, g_launchPath and g_launchArgs before
// posting the message that makes the window read them.
#include <windows.h>

#include <string>

extern HWND g_mainWindow;      // set in WM_CREATE, before the worker starts
extern HWND g_statusLabel;     // control 101
extern HWND g_detailLabel;     // control 102
extern HWND g_progressBar;     // control 103
extern bool g_installRunning;  // UI thread only; cleared by CompletionMessage
extern bool g_quiet;           // written by the run after option parsing
extern std::wstring g_launchPath;  // written by the run before a successful completion
extern std::wstring g_launchArgs;
