#pragma once
// Manifest paths that Windows takes for one and the same file. Two entries
// such as "Data/X.bin" and "data/x.bin", "a.bin" and "a.bin.", or "x/./y" and
// "x/y" would be written one over the other: the first entry's file would
// then never match its digest. Called on the worker thread (and by the
// publisher tool); no shared state.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "manifest/update_manifest.h"

// The key under which Windows sees a normalised manifest path: every name
// without its trailing dots and blanks, upper-cased with the system's own
// file-system casing table. Two normalised paths name the same file exactly
// when their keys are equal. Never throws except std::bad_alloc.
std::wstring SameFileKey(std::wstring_view normalized_path);

// The first pair (i, j), i < j, of `paths` (UTF-8 manifest paths) that name
// the same file once normalised by the path rule; nothing when all differ.
// Throws the path rule's messages for a path it refuses.
std::optional<std::pair<std::size_t, std::size_t>> FindSameFilePaths(
    const std::vector<std::string>& paths);

// Every entry of `files`, then the updater, in that order.
std::vector<std::string> ManifestPaths(const UpdateManifest& manifest);

// Refuses a manifest in which two entries (the updater's included) name the
// same file, before anything is downloaded: throws std::runtime_error(
// "Caminho inseguro no manifesto."). A path the rule refuses throws the
// rule's own message here as well.
void RejectSameFilePaths(const UpdateManifest& manifest);
