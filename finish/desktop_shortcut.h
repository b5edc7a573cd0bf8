#pragma once
// The Desktop shortcut Lanternbrook.lnk. Called on the worker thread, inside
// the single-threaded apartment the worker initialised.
#include <string>

// Saves Desktop\Lanternbrook.lnk through the shell link object: target and
// icon `app_executable` (index 0), working folder its parent, description
// "Lanternbrook Emulador", no arguments. Best effort: COM failures and a
// failed save are ignored. Throws only GetDesktopFolder's
// std::runtime_error("Nao foi possivel localizar a Area de Trabalho.").
void CreateDesktopShortcut(const std::wstring& app_executable);
