#include "transfer/path_collisions.h"

#include <windows.h>

#include <stdexcept>
#include <unordered_map>

#include "transfer/manifest_path.h"

namespace {

// Upper case as the file system compares names: LCMapStringEx without
// LCMAP_LINGUISTIC_CASING uses the file-system casing table.
std::wstring FileSystemUpperCase(std::wstring_view text) {
  if (text.empty()) return {};
  const int length = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(),
                                   static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr, 0);
  std::wstring upper(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  if (length <= 0 ||
      LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(),
                    static_cast<int>(text.size()), upper.data(), length, nullptr, nullptr,
                    0) != length) {
    return std::wstring(text);  // cannot happen for valid arguments
  }
  return upper;
}

}  // namespace

std::wstring SameFileKey(std::wstring_view normalized_path) {
  std::wstring trimmed;
  trimmed.reserve(normalized_path.size());
  std::size_t start = 0;
  while (start <= normalized_path.size()) {
    std::size_t end = normalized_path.find(L'\\', start);
    if (end == std::wstring_view::npos) end = normalized_path.size();
    std::wstring_view name = normalized_path.substr(start, end - start);
    while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.remove_suffix(1);
    if (start != 0) trimmed += L'\\';
    trimmed += name;
    start = end + 1;
  }
  return FileSystemUpperCase(trimmed);
}

std::optional<std::pair<std::size_t, std::size_t>> FindSameFilePaths(
    const std::vector<std::string>& paths) {
  std::unordered_map<std::wstring, std::size_t> seen;
  seen.reserve(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const auto [place, added] = seen.emplace(SameFileKey(NormalizeManifestPath(paths[i])), i);
    if (!added) return std::make_pair(place->second, i);
  }
  return std::nullopt;
}

std::vector<std::string> ManifestPaths(const UpdateManifest& manifest) {
  std::vector<std::string> paths;
  paths.reserve(manifest.files.size() + 1);
  for (const ManifestFile& file : manifest.files) paths.push_back(file.path);
  paths.push_back(manifest.bootstrap_updater.path);
  return paths;
}

void RejectSameFilePaths(const UpdateManifest& manifest) {
  if (FindSameFilePaths(ManifestPaths(manifest))) {
    throw std::runtime_error("Caminho inseguro no manifesto.");
  }
}
