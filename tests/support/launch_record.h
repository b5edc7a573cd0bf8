#pragma once
// What the stand-in application (stand_in_emulator.cpp) wrote about its start:
// <exe without extension>.launch.txt beside it.
#include <string>
#include <vector>

namespace lbtest {

struct LaunchRecord {
  bool present = false;
  std::wstring command_line;
  std::vector<std::wstring> argv;  // argv[0] first
  std::wstring working_directory;
};

// The record file of the stand-in at `exe`.
std::wstring LaunchRecordPath(const std::wstring& exe);

// Parses the record's text (UTF-16); `present` is set.
LaunchRecord ParseLaunchRecord(const std::wstring& text);

// Reads the record of the stand-in at `exe`; `present` is false when there is none.
LaunchRecord ReadLaunchRecord(const std::wstring& exe);

}  // namespace lbtest
