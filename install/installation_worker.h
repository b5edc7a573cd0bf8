#pragma once
// The installation run: the worker thread's procedure.
#include <string>
#include <vector>

// Reads the process command line and performs one installation, reporting
// only through posted messages to g_mainWindow and the g_ globals; ends every
// run with exactly one CompletionMessage. Catches every standard exception.
void RunInstallation();

// The same with an explicit argument vector (first element: the program).
void RunInstallationWithArguments(const std::vector<std::wstring>& arguments);
