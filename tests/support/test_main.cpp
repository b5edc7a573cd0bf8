// The entry point of every test executable.
#include <windows.h>

#include <gmock/gmock.h>

#include <cstdio>

int main(int argc, char** argv) {
  ::testing::InitGoogleMock(&argc, argv);
  const int result = RUN_ALL_TESTS();
  std::fflush(stdout);
  std::fflush(stderr);
  // Every result is written by now. Under Wine the shell's and COM's clean-up
  // at process exit can stall for ever after a test that used them, so the
  // process ends here without it.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(result));
  return result;
}
