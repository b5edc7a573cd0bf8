#pragma once
// Writing an update manifest from the installer's own records. Pure code (no
// <windows.h>); thread-safe.
#include <cstdint>
#include <string>
#include <vector>

#include "manifest/update_manifest.h"

// Sum of the sizes of `files`. Throws ReleaseRefusal if it does not fit in
// 64 bits.
std::uint64_t SumOfSizes(const std::vector<ManifestFile>& files);

// The manifest document: one member per line, one file entry per line, in the
// order of `manifest.files`. Strings are written with AppendJsonStringContent,
// the escaping the installer's metadata uses; bytes are not checked here.
std::string WriteManifestJson(const UpdateManifest& manifest);
