// Stand-in for the installed updater, LanternbrookUpdater.exe (test support
// only): a valid Windows program that does nothing and exits with code 0.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
