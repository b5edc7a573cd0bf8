#include "tools/manifest_input.h"

#include <stdexcept>

#include "common/files.h"
#include "manifest/manifest_download.h"
#include "tools/release_download.h"
#include "tools/release_errors.h"
#include "tools/release_signing.h"
#include "tools/release_text.h"

bool IsManifestAddress(const std::wstring& location) { return location.starts_with(L"https://"); }

std::string LoadReleaseText(const std::wstring& location, HINTERNET session,
                            std::size_t max_bytes, const char* what) {
  if (!IsManifestAddress(location)) return ReadToolFile(location, max_bytes, what);
  try {
    return DownloadManifestText(session, location, max_bytes);
  } catch (const std::runtime_error& error) {
    throw ReleaseRefusal(DescribeName(location) + ": " + error.what());
  }
}

UpdateManifest ParseLoadedManifest(const std::wstring& location, const std::string& text) {
  try {
    JsonCursor cursor{text.data(), text.data() + text.size()};
    return ParseManifest(cursor);
  } catch (const std::runtime_error& error) {
    throw ReleaseRefusal(DescribeName(location) + ": the installer refuses this manifest: " +
                         error.what());
  }
}

UpdateManifest LoadManifest(const std::wstring& location, HINTERNET session) {
  return ParseLoadedManifest(
      location, LoadReleaseText(location, session, MaxManifestBytes, "the manifest"));
}
