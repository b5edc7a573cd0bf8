#include "tools/release_diff.h"

#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/paths.h"
#include "common/text.h"
#include "finish/file_digest.h"
#include "tools/console_output.h"
#include "tools/manifest_input.h"
#include "tools/release_download.h"
#include "tools/release_errors.h"
#include "tools/release_make.h"
#include "tools/release_text.h"
#include "transfer/block_list.h"
#include "transfer/file_url.h"
#include "transfer/http_request.h"
#include "transfer/manifest_path.h"
#include "transfer/path_collisions.h"

namespace {

// The files of a manifest and its updater, in order.
std::vector<const ManifestFile*> Entries(const UpdateManifest& manifest) {
  std::vector<const ManifestFile*> entries;
  for (const ManifestFile& file : manifest.files) entries.push_back(&file);
  entries.push_back(&manifest.bootstrap_updater);
  return entries;
}

// Applies the installer's path, URL and same-file rules; returns the key under
// which Windows sees each entry's file, in Entries() order.
std::vector<std::wstring> SameFileKeys(const UpdateManifest& manifest,
                                       const std::wstring& location) {
  std::vector<std::wstring> keys;
  for (const ManifestFile* entry : Entries(manifest)) {
    try {
      std::wstring normalized = NormalizeManifestPath(entry->path);
      ResolveFileUrl(entry->url);
      keys.push_back(SameFileKey(normalized));
    } catch (const std::runtime_error& error) {
      throw ReleaseRefusal(DescribeName(location) + ": " + DescribeName(Utf8ToWide(entry->path)) +
                           ": the installer refuses it: " + error.what());
    }
  }
  try {
    RejectSameFilePaths(manifest);
  } catch (const std::runtime_error& error) {
    const std::vector<std::string> paths = ManifestPaths(manifest);
    auto pair = FindSameFilePaths(paths);
    throw ReleaseRefusal(DescribeName(location) + ": " +
                         (pair ? paths[pair->first] + " and " + paths[pair->second] +
                                     " are the same file for Windows: "
                               : std::string()) +
                         "the installer refuses this manifest: " + error.what());
  }
  return keys;
}

// Digests compared as the installer compares them, ignoring letter case.
bool SameDigest(const std::string& a, const std::string& b) {
  try {
    return DigestsMatch(Utf8ToWide(a), Utf8ToWide(b));
  } catch (const std::runtime_error&) {
    return a == b;
  }
}

// Where the block list of `entry` lies for a manifest read from `location`:
// on the manifest's server at the list's url, or beside the file in the
// manifest's folder, as make writes it.
std::wstring BlockListLocation(const std::wstring& location, const ManifestFile& entry) {
  const std::wstring url = Utf8ToWide(entry.blocks->url);
  if (!IsManifestAddress(location)) {
    return JoinPath(ParentPath(location), NormalizeManifestPath(entry.path) + BlockListSuffix);
  }
  if (url.starts_with(L"https://")) return url;
  const ParsedUrl origin = ParseUrl(location);
  return L"https://" + origin.host + L":" + std::to_wstring(origin.port) + url;
}

// The block list of `entry`, checked as the installer checks it, or nothing
// when it cannot be read or is not the one listed.
std::optional<BlockList> ReadBlockList(const std::wstring& location, const ManifestFile& entry,
                                       HINTERNET session) {
  try {
    const std::string bytes = LoadReleaseText(BlockListLocation(location, entry), session,
                                              entry.blocks->size, "the block list");
    Sha256 hash;
    hash.Add(bytes.data(), bytes.size());
    std::optional<BlockList> list;
    if (bytes.size() == entry.blocks->size &&
        DigestsMatch(HexDigest(hash.Finish()), Utf8ToWide(entry.blocks->hash))) {
      list = ParseBlockList(bytes);
    }
    if (list && list->file_size == entry.size) return list;
  } catch (const std::runtime_error&) {
  }
  return std::nullopt;
}

}  // namespace

int RunDiff(const DiffCommand& command) {
  WinHttpHandle session;
  if (IsManifestAddress(command.old_manifest) || IsManifestAddress(command.new_manifest)) {
    session = OpenReleaseSession();
  }
  const UpdateManifest old_manifest = LoadManifest(command.old_manifest, session.get());
  const UpdateManifest new_manifest = LoadManifest(command.new_manifest, session.get());
  const std::vector<std::wstring> old_keys = SameFileKeys(old_manifest, command.old_manifest);
  const std::vector<std::wstring> new_keys = SameFileKeys(new_manifest, command.new_manifest);

  std::map<std::wstring, const ManifestFile*> old_by_key;
  const std::vector<const ManifestFile*> old_entries = Entries(old_manifest);
  for (std::size_t i = 0; i < old_entries.size(); ++i) old_by_key.emplace(old_keys[i], old_entries[i]);

  std::string out;
  std::uint64_t fetch_files = 0, fetch_bytes = 0, total_files = 0, total_bytes = 0;
  // What the changed files cost when those with a block list in both
  // releases are built by blocks; `unread` when a list could not be read.
  std::uint64_t by_blocks = 0;
  bool any_by_blocks = false, unread = false;
  const std::vector<const ManifestFile*> new_entries = Entries(new_manifest);
  for (std::size_t i = 0; i < new_entries.size(); ++i) {
    const ManifestFile& entry = *new_entries[i];
    ++total_files;
    total_bytes += entry.size;
    std::string why;
    auto old = old_by_key.find(new_keys[i]);
    if (old == old_by_key.end()) {
      why = "new";
    } else if (old->second->size != entry.size) {
      why = "size " + std::to_string(old->second->size) + " -> " + std::to_string(entry.size);
    } else if (!SameDigest(old->second->hash, entry.hash)) {
      why = "other sha256";
    }
    if (why.empty()) {
      out += "KEEP     " + entry.path + "\n";
    } else {
      out += "FETCH    " + entry.path + ": " + why + "\n";
      ++fetch_files;
      fetch_bytes += entry.size;
      std::optional<BlockList> old_list, new_list;
      if (old != old_by_key.end() && old->second->blocks && entry.blocks) {
        old_list = ReadBlockList(command.old_manifest, *old->second, session.get());
        new_list = ReadBlockList(command.new_manifest, entry, session.get());
        unread = unread || !old_list || !new_list;
      }
      if (old_list && new_list) {
        by_blocks += BytesFetchedByBlocks(*old_list, *new_list) + entry.blocks->size;
        any_by_blocks = true;
      } else {
        by_blocks += entry.size;
      }
    }
  }
  const std::set<std::wstring> listed(new_keys.begin(), new_keys.end());
  for (std::size_t i = 0; i < old_entries.size(); ++i) {
    if (!listed.count(old_keys[i])) out += "LEFT     " + old_entries[i]->path + "\n";
  }
  out += "fetch " + std::to_string(fetch_files) + " of " + std::to_string(total_files) +
         " files, " + std::to_string(fetch_bytes) + " of " + std::to_string(total_bytes) +
         " bytes\n";
  if (any_by_blocks && !unread) {
    out += "by blocks: fetch " + std::to_string(by_blocks) + " of " + std::to_string(total_bytes) +
           " bytes\n";
  }
  WriteStdout(out);
  return ExitSuccess;
}
