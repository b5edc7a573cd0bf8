#pragma once
// The installation run: the worker thread's procedure.
#include <string>
#include <string_view>
#include <vector>

// Reads the process command line and performs one installation, reporting
// only through posted messages to g_mainWindow and the g_ globals; ends every
// run with exactly one CompletionMessage. Catches every standard exception.
void RunInstallation();

// The same with an explicit argument vector (first element: the program).
void RunInstallationWithArguments(const std::vector<std::wstring>& arguments);

// The failure text shown to the user: strict UTF-8 (Utf8ToWide), or, when the
// text is not valid UTF-8 (a system message in the local code page), the
// ANSI code page's reading of it. Never throws except std::bad_alloc.
std::wstring ExceptionTextToWide(std::string_view text);
