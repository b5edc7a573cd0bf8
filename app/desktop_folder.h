#pragma once
// The user's Desktop folder. Callable on any thread that may use the shell.
#include <string>

// SHGetKnownFolderPath(FOLDERID_Desktop, KF_FLAG_CREATE). Throws
// std::runtime_error("Nao foi possivel localizar a Area de Trabalho.").
std::wstring GetDesktopFolder();
