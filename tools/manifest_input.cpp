#include "tools/manifest_input.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "common/files.h"
#include "manifest/manifest_download.h"
#include "tools/release_download.h"
#include "tools/release_errors.h"
#include "tools/release_text.h"

namespace {

std::string ReadManifestFile(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(ExtendedPath(path)), std::ios::binary);
  if (!in) throw ReleaseRefusal(DescribeName(path) + ": cannot read the manifest");
  std::string text;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (text.size() > MaxManifestBytes) {
      throw ReleaseRefusal(DescribeName(path) + ": larger than the installer accepts (" +
                           std::to_string(MaxManifestBytes) + " bytes)");
    }
  }
  if (in.bad()) throw ReleaseRefusal(DescribeName(path) + ": cannot read the manifest");
  return text;
}

}  // namespace

bool IsManifestAddress(const std::wstring& location) { return location.starts_with(L"https://"); }

UpdateManifest LoadManifest(const std::wstring& location, HINTERNET session) {
  std::string text;
  if (IsManifestAddress(location)) {
    try {
      text = DownloadManifestText(session, location);
    } catch (const std::runtime_error& error) {
      throw ReleaseRefusal(DescribeName(location) + ": " + error.what());
    }
  } else {
    text = ReadManifestFile(location);
  }
  try {
    JsonCursor cursor{text.data(), text.data() + text.size()};
    return ParseManifest(cursor);
  } catch (const std::runtime_error& error) {
    throw ReleaseRefusal(DescribeName(location) + ": the installer refuses this manifest: " +
                         error.what());
  }
}
