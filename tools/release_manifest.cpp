#include "tools/release_manifest.h"

#include <limits>
#include <string_view>

#include "manifest/json_writer.h"
#include "tools/release_errors.h"

namespace {

void AppendString(std::string& out, std::string_view text) {
  out += '"';
  AppendJsonStringContent(out, text);
  out += '"';
}

void AppendEntry(std::string& out, const ManifestFile& file) {
  out += "{\"path\": ";
  AppendString(out, file.path);
  out += ", \"url\": ";
  AppendString(out, file.url);
  out += ", \"hash\": ";
  AppendString(out, file.hash);
  out += ", \"size\": ";
  out += std::to_string(file.size);
  if (file.blocks) {
    out += ", \"blocks\": {\"url\": ";
    AppendString(out, file.blocks->url);
    out += ", \"hash\": ";
    AppendString(out, file.blocks->hash);
    out += ", \"size\": " + std::to_string(file.blocks->size) + '}';
  }
  out += '}';
}

}  // namespace

std::uint64_t SumOfSizes(const std::vector<ManifestFile>& files) {
  std::uint64_t total = 0;
  for (const ManifestFile& file : files) {
    if (file.size > std::numeric_limits<std::uint64_t>::max() - total) {
      throw ReleaseRefusal("the files add up to more than 2^64 - 1 bytes");
    }
    total += file.size;
  }
  return total;
}

std::string WriteManifestJson(const UpdateManifest& manifest) {
  std::string out = "{\n  \"version\": ";
  AppendString(out, manifest.version);
  out += ",\n  \"build\": " + std::to_string(manifest.build);
  out += ",\n  \"total_size\": " + std::to_string(manifest.total_size);
  out += ",\n  \"files\": [";
  for (std::size_t i = 0; i < manifest.files.size(); ++i) {
    out += i == 0 ? "\n    " : ",\n    ";
    AppendEntry(out, manifest.files[i]);
  }
  out += "\n  ],\n  \"bootstrap_updater\": ";
  AppendEntry(out, manifest.bootstrap_updater);
  out += "\n}\n";
  return out;
}
