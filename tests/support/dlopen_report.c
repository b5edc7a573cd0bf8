// Preloaded into the test run's Wine processes (host code, built by the
// harness): when the loader cannot open one of Wine's own Unix libraries, the
// reason, which Wine discards, goes to standard error in the form of Wine's
// error channel ("err:dlopen:<file>: <reason>"), so that wine-run shows it
// beside Wine's own lines when the program fails. Every call's result is
// passed on unchanged.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

void* dlopen(const char* file, int mode) {
  static void* (*next)(const char*, int);
  if (!next) next = (void* (*)(const char*, int))dlsym(RTLD_NEXT, "dlopen");
  void* handle = next(file, mode);
  if (!handle && file && strstr(file, "/wine/")) {
    const char* reason = dlerror();
    char line[1024];
    int length = snprintf(line, sizeof line, "err:dlopen:%s: %s\n", file, reason ? reason : "no reason given");
    if (length > 0) (void)!write(2, line, (size_t)length < sizeof line ? (size_t)length : sizeof line - 1);
  }
  return handle;
}
