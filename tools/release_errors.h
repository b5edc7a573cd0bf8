#pragma once
// The two kinds of failure of the publisher tool. Both carry the text shown to
// the publisher; only wmain (lanternbrook_release.cpp) catches them and turns
// them into the exit status. No <windows.h>.
#include <stdexcept>
#include <string>

// The command line cannot be understood: a missing or unknown argument, a
// malformed value. Exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The release or the manifest is refused (an empty file, an unsafe path, a
// manifest the installer would not read...). Exit status 1.
class ReleaseRefusal : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Exit statuses of lanternbrook-release.
inline constexpr int ExitSuccess = 0;
inline constexpr int ExitRefused = 1;
inline constexpr int ExitUsage = 2;
