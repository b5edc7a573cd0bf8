#pragma once
// The update manifest: records and the schema-driven parse with validation.
// Pure code (no <windows.h>); called on the worker thread only.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "manifest/json_reader.h"

// Where the block list of a file's content lies (transfer/block_list.h), with
// its size and digest like any file: url not empty, hash 64 bytes, size not 0.
struct BlockListEntry {
  std::string url;
  std::string hash;
  std::uint64_t size = 0;
};

struct ManifestFile {
  std::string path;        // UTF-8, relative to the application folder; not empty
  std::string hash;        // SHA-256 as 64 hex digits (any case); exactly 64 bytes
  std::string url;         // UTF-8, "https://..." or "/..."; not empty
  std::uint64_t size = 0;  // exact length in bytes; not 0
  std::optional<BlockListEntry> blocks;  // optional "blocks" member
};

struct UpdateManifest {
  std::string version;  // not empty
  std::uint64_t build = 0;  // not 0
  std::uint64_t total_size = 0;  // not validated
  std::vector<ManifestFile> files;  // at least one entry
  ManifestFile bootstrap_updater;   // path exactly "LanternbrookUpdater.exe"
};

// Reads the whole document. Throws the reader's messages, or
// "Manifesto de atualizacao incompleto." / "Arquivo incompleto no manifesto.".
// Never returns a partial manifest.
UpdateManifest ParseManifest(JsonCursor& cursor);

// One file-entry object; validated. Throws "Arquivo incompleto no manifesto.".
ManifestFile ParseManifestFile(JsonCursor& cursor);

// The `files` array; each entry validated; may be empty.
std::vector<ManifestFile> ParseManifestFiles(JsonCursor& cursor);
