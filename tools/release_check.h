#pragma once
// `lanternbrook-release check`: a manifest against a folder or a server.
// Main thread only.
#include "tools/release_command_line.h"

// Reads the manifest with the installer's parser (a refusal throws
// ReleaseRefusal with the parser's message), then checks every entry of
// `files` and `bootstrap_updater`: the installer's path and URL rules, a path
// listed twice, the size and the SHA-256 of the file in the folder or of what
// the server sends; and that `total_size` is the sum of the sizes. Prints one
// line per problem to standard output. Returns ExitSuccess when there is
// none, ExitRefused otherwise.
int RunCheck(const CheckCommand& command);
