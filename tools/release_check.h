#pragma once
// `lanternbrook-release check`: a manifest against a folder or a server.
// Main thread only.
#include "tools/release_command_line.h"

// Reads the manifest (a file, or an https:// address: LoadManifest) with the
// installer's parser (a refusal throws
// ReleaseRefusal with the parser's message), then checks every entry of
// `files` and `bootstrap_updater`: the installer's path and URL rules, a path
// listed twice, a staging path longer than Windows programs can use in a
// typical installation (LONGPATH), the size and the SHA-256 of the file in
// the folder or of what the server sends; and that `total_size` is the sum of
// the sizes. Against a server it also asks for the second half of each file
// as the installer does to resume, and for a closed range of each file with a
// block list as the installer does to fetch blocks (NORANGE, see
// RangeProblem), and names the
// cause of a failed connection in English. Prints one line per problem to
// standard output. Returns ExitSuccess when there is none, ExitRefused
// otherwise.
int RunCheck(const CheckCommand& command);
