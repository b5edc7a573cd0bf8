#pragma once
// `lanternbrook-release make`: a release folder in, manifest.json out.
// Main thread only.
#include <cstdint>

#include "tools/release_command_line.h"

// Lists the folder, refuses what the installer could not install (every
// problem found is named, one per line of the ReleaseRefusal's text), digests
// every file, writes the manifest by replace-by-rename and reads it back with
// the installer's parser. Prints a summary line to standard output. Throws
// ReleaseRefusal; returns ExitSuccess.
int RunMake(const MakeCommand& command);

// The name the bootstrap updater must have, at the top of the release folder.
inline constexpr char BootstrapUpdaterName[] = "LanternbrookUpdater.exe";

// Files this large get a block list, written beside them with this suffix.
inline constexpr std::uint64_t BlockListMinSize = 1 << 20;
inline constexpr wchar_t BlockListSuffix[] = L".lbblocks";
