#pragma once
// `lanternbrook-release diff`: what the users of one release download to get
// the next. Main thread only.
#include "tools/release_command_line.h"

// Reads both manifests (LoadManifest) and applies the installer's path, URL
// and same-file rules to each (a refusal throws ReleaseRefusal naming the
// manifest and the entry). Then prints, for every file of the new manifest
// and its updater in order, "FETCH    <path>: <why>" (no file of the old
// release is the same file for Windows, or its size or digest differs) or
// "KEEP     <path>" (the installer finds it intact and leaves it alone);
// "LEFT     <path>" for each old file the new manifest no longer names (the
// installer never deletes it); and last "fetch N of M files, B of T bytes",
// where M and T count the new manifest's files and its updater. When some
// changed files have a block list in both releases and all those lists can be
// read and match their entries, one more line "by blocks: fetch B of T bytes"
// counts B with those files built by blocks (BytesFetchedByBlocks plus the
// new list's size). Returns ExitSuccess.
int RunDiff(const DiffCommand& command);
