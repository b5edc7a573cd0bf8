// hold_desktop <ready file>: keeps the test prefix's desktop open for a whole
// test run. Started by the harness (support/harness start) with standard
// streams that lead nowhere, ended by it (harness stop).
//
// Wine runs the desktop window in a process of its own, explorer.exe
// /desktop. The first program that needs the desktop while none runs (any
// program that registers a window class: a single-threaded COM apartment is
// enough) starts it, and the new process keeps that program's Unix standard
// error. The desktop process ends only a second after the last other program
// has left the desktop. Started by a test, it would hold that test's output
// pipe open long after the test ended, for as long as tests running beside it
// use the desktop, and CTest would wait for the pipe. So this program starts
// the desktop process itself and stays on the desktop until it is ended.
//
// Writes the ready file once the desktop window exists; exit code 1 when it
// does not.
#include <windows.h>

#include <cstdio>

#include "common/win_handles.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: hold_desktop <ready file>\n");
    return 2;
  }
  // Starts explorer.exe /desktop (and waits for it to be ready) when no
  // desktop process runs; this thread now counts as a user of the desktop.
  if (!GetDesktopWindow()) return 1;
  FileHandle ready(
      CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!ready) return 1;
  ready.reset();
  Sleep(INFINITE);
  return 0;
}
