#include "finish/install_metadata.h"

#include "manifest/json_writer.h"

std::string BuildInstallMetadata(const std::string& version, std::uint64_t build) {
  std::string document = "{\n  \"version\": \"";
  AppendJsonStringContent(document, version);
  document += "\",\n  \"build\": ";
  document += std::to_string(build);
  document += "\n}\n";
  return document;
}
