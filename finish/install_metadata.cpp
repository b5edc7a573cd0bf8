#include "finish/install_metadata.h"

#include <stdexcept>

#include "manifest/json_reader.h"
#include "manifest/json_writer.h"

std::string BuildInstallMetadata(const std::string& version, std::uint64_t build) {
  std::string document = "{\n  \"version\": \"";
  AppendJsonStringContent(document, version);
  document += "\",\n  \"build\": ";
  document += std::to_string(build);
  document += "\n}\n";
  return document;
}

std::optional<std::uint64_t> ReadInstalledBuild(std::string_view document) {
  try {
    JsonCursor cursor{document.data(), document.data() + document.size()};
    ExpectJsonChar(cursor, '{');
    if (ReadJsonString(cursor) != "version") return std::nullopt;
    ExpectJsonChar(cursor, ':');
    const std::string version = ReadJsonString(cursor);
    ExpectJsonChar(cursor, ',');
    if (ReadJsonString(cursor) != "build") return std::nullopt;
    ExpectJsonChar(cursor, ':');
    const std::uint64_t build = ReadJsonUnsigned(cursor);
    // Only the installer's own form, byte for byte, counts.
    if (BuildInstallMetadata(version, build) != document) return std::nullopt;
    return build;
  } catch (const std::runtime_error&) {
    return std::nullopt;
  }
}
