#pragma once
// Quoting the relaunch arguments so CommandLineToArgvW gives them back.
// Pure code; thread-safe.
#include <string>
#include <vector>

// Unchanged when not empty and free of blank, tab, LF, VT and '"'; otherwise
// quoted, backslashes before a '"' or the closing quote doubled.
std::wstring QuoteWindowsArgument(const std::wstring& argument);

// Each argument quoted, joined by single blanks; empty list -> empty string.
std::wstring BuildLaunchArguments(const std::vector<std::wstring>& arguments);
