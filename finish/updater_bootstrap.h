#pragma once
// Installs the updater's second copy. Called on the worker thread only.
#include <string>

// Copies app_dir\LanternbrookUpdater.exe to app_dir\LanternbrookUpdater-v2.exe.new,
// flushes it to disk and renames that onto app_dir\LanternbrookUpdater-v2.exe. Throws
// std::runtime_error("Falha ao instalar o atualizador do Lanternbrook.");
// the ".new" file is left in place on failure.
void InstallUpdater(const std::wstring& app_dir);
