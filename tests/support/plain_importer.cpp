// A program that imports winhttp.dll the ordinary way, as the installer did
// before it delay-loaded it: the loader resolves the import at process start,
// searching the program's own folder first. It calls WinHttpCheckPlatform
// only when given an argument; without one it exits with 0 (test support only).
#include <windows.h>
#include <winhttp.h>

int wmain(int argc, wchar_t**) { return argc > 1 && !WinHttpCheckPlatform() ? 1 : 0; }
