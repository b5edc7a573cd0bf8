#pragma once
// A release for the tests: files with known bytes and digests, the manifest
// document that lists them, the version.json an installation of it leaves,
// and its publication on a test server.
//
// The model and its documents are pure code (no <windows.h>, no GoogleTest),
// so the host builds (fuzzing, benchmarks) can include this header. Making
// files (their reference digests come from the host) and publishing them run
// inside Wine, on the test's thread.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "manifest/update_manifest.h"

namespace lbtest {

class TestServer;

// A JSON string literal for arbitrary bytes (bytes >= 0x80 are kept raw).
inline std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// Percent-encodes every byte of `path` outside the unreserved set and '/', as a publisher does.
inline std::string UrlPath(const std::string& path) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char c : path) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '/' || c == '-' || c == '.' || c == '_' || c == '~';
    encoded += plain ? std::string(1, static_cast<char>(c)) : std::string{'%', hex[c >> 4], hex[c & 15]};
  }
  return encoded;
}

struct ReleaseFile {
  std::string path{};     // manifest path, '/' separated (UTF-8)
  std::string bytes{};    // content
  std::string hash{};     // SHA-256 hex of `bytes` (or a stand-in when there are none)
  std::string url{};      // manifest url ("/files/..." or "https://...")
  std::string path_json{};  // when set: the raw JSON text of "path" (escapes kept)
  std::string url_json{};   // when set: the raw JSON text of "url"
  std::uint64_t size = 0; // the size listed when there are no bytes
  std::string block_list{};       // when set: its block list, served at url + ".lbblocks" ...
  std::string block_list_hash{};  // ... with this SHA-256 hex

  std::uint64_t Size() const { return bytes.empty() ? size : bytes.size(); }
  std::optional<BlockListEntry> Blocks() const {
    if (block_list.empty()) return std::nullopt;
    return BlockListEntry{url + ".lbblocks", block_list_hash, block_list.size()};
  }
  ManifestFile Record() const { return {path, hash, url, Size(), Blocks()}; }
  // {"path":...,"url":...,"hash":...,"size":N[,"blocks":{"url":...,"hash":...,"size":N}]}
  std::string EntryJson() const {
    std::string blocks;
    if (const std::optional<BlockListEntry> list = Blocks()) {
      blocks = ",\"blocks\":{\"url\":" + JsonString(list->url) + ",\"hash\":" +
               JsonString(list->hash) + ",\"size\":" + std::to_string(list->size) + "}";
    }
    return "{\"path\":" + (path_json.empty() ? JsonString(path) : path_json) +
           ",\"url\":" + (url_json.empty() ? JsonString(url) : url_json) +
           ",\"hash\":" + JsonString(hash) + ",\"size\":" + std::to_string(Size()) + blocks +
           "}";
  }
};

struct Release {
  std::string version;
  std::uint64_t build = 0;
  std::vector<ReleaseFile> files;
  ReleaseFile updater;  // path "LanternbrookUpdater.exe"

  std::uint64_t FilesSize() const {  // the manifest's total_size
    std::uint64_t total = 0;
    for (const ReleaseFile& file : files) total += file.Size();
    return total;
  }
  std::uint64_t Size() const { return FilesSize() + updater.Size(); }  // files + updater

  // The manifest document, one member and one entry a line, ending with its '}'.
  std::string ManifestJson() const {
    std::string text = "{\n  \"version\": " + JsonString(version) + ",\n  \"build\": " +
                       std::to_string(build) + ",\n  \"total_size\": " +
                       std::to_string(FilesSize()) + ",\n  \"files\": [";
    for (std::size_t i = 0; i < files.size(); ++i) text += (i ? ",\n    " : "\n    ") + files[i].EntryJson();
    return text + "\n  ],\n  \"bootstrap_updater\": " + updater.EntryJson() + "\n}";
  }
  // What ParseManifest makes of ManifestJson().
  UpdateManifest Record() const {
    UpdateManifest manifest{version, build, FilesSize(), {}, updater.Record()};
    for (const ReleaseFile& file : files) manifest.files.push_back(file.Record());
    return manifest;
  }
  // The version.json an installation of this release writes.
  std::string MetadataJson() const {
    return "{\n  \"version\": " + JsonString(version) + ",\n  \"build\": " + std::to_string(build) +
           "\n}\n";
  }
  const ReleaseFile* Find(const std::string& path) const {  // files and updater
    if (!updater.path.empty() && path == updater.path) return &updater;
    for (const ReleaseFile& file : files) {
      if (file.path == path) return &file;
    }
    return nullptr;
  }
};

// --- inside Wine ---------------------------------------------------------------

// Where the installer asks for the manifest.
inline constexpr char kManifestPath[] = "/updates/manifest.json";

// `bytes` as `path`, served at url_prefix + UrlPath(path), with its reference digest.
ReleaseFile FileWithBytes(const std::string& path, std::string bytes, const std::string& url_prefix);
// A file of `size` pseudo-random bytes from `seed` (the digest of each is taken once).
ReleaseFile MakeFile(const std::string& path, std::size_t size, std::uint32_t seed,
                     const std::string& url_prefix);
// The bytes of build\stand-ins\<program> (LanternbrookEmulator.exe, LanternbrookUpdater.exe).
std::string StandIn(const char* program);
// That stand-in as `path`, like FileWithBytes.
ReleaseFile StandInFile(const char* program, const std::string& path, const std::string& url_prefix);

// `folder` + "\" + `path` with '/' turned into '\'.
std::wstring InFolder(const std::wstring& folder, const std::string& path);
// Writes the bytes of every file of `files` under `folder` at its path.
void WriteRelease(const std::wstring& folder, const std::vector<ReleaseFile>& files);

// Puts every file at its url path (percent-escapes decoded; urls starting with
// '/' only) and the manifest at kManifestPath.
void Publish(const TestServer& server, const Release& release);
void PublishFile(const TestServer& server, const ReleaseFile& file);
void PublishManifest(const TestServer& server, const std::string& manifest);

}  // namespace lbtest
