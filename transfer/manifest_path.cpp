#include "transfer/manifest_path.h"

#include "manifest/utf8_to_wide.h"

std::wstring NormalizeManifestPath(const std::string& path) {
  return NormalizeManifestWidePath(Utf8ToWide(path));
}
