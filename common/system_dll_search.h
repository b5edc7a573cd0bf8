#pragma once
// Where the process looks for DLLs loaded by name.
//
// Windows searches a program's own folder first for every DLL that is not a
// KnownDLL, and the installer is typically run from a Downloads folder that a
// hostile page can drop a winhttp.dll into. The programs delay-load every
// such DLL they use (winhttp, bcrypt, comctl32, crypt32: cmake/delay_load.cmake), and
// their entry points call RestrictDllSearchToSystemFolder before the C
// runtime starts, so that those DLLs come from the system folder only,
// whatever lies beside the program.
#include <initializer_list>

// Makes the system folder the only place searched for DLLs loaded by name
// from now on, for the whole process (SetDefaultDllDirectories with
// LOAD_LIBRARY_SEARCH_SYSTEM32); if Windows refuses, the process ends at once
// with exit code 1, so it never goes on with its own folder searched. Then
// loads each of `dlls` (file names such as L"winhttp.dll") from the system
// folder, their own imports included (LoadLibraryExW with
// LOAD_LIBRARY_SEARCH_SYSTEM32), and keeps it loaded: any later load of one
// of these names in the process, the program's delay-loaded calls and the
// delayed loads inside other system DLLs alike, finds that module. A DLL that
// cannot be loaded is left to its first call, which fails as it would have.
// Throws nothing. Called once, by the entry point, on the process's first
// thread, before any other code of the program.
void RestrictDllSearchToSystemFolder(std::initializer_list<const wchar_t*> dlls) noexcept;
