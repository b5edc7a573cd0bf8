#include "app/globals.h"

HWND g_mainWindow = nullptr;
HWND g_statusLabel = nullptr;
HWND g_detailLabel = nullptr;
HWND g_progressBar = nullptr;
bool g_installRunning = true;
bool g_quiet = false;
std::wstring g_launchPath;
std::wstring g_launchArgs;
