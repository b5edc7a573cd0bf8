#include "tools/release_folder.h"

#include <windows.h>

#include <set>

#include "common/files.h"
#include "common/filesystem_error.h"
#include "common/folder_walk.h"
#include "common/paths.h"
#include "transfer/manifest_path.h"
#include "transfer/path_collisions.h"
#include "tools/release_errors.h"
#include "tools/release_text.h"

namespace {

// Deeper nesting than this is taken for a link loop.
constexpr int kMaxDepth = 128;

bool IsStagingFolderName(std::wstring_view name) {
  return SameFileKey(name) == SameFileKey(StagingFolderName);
}

struct Walk {
  std::set<std::wstring> excluded;  // SameFileKey of extended paths
  std::vector<ReleaseFolderFile> files;
};

void ListInto(Walk& walk, const std::wstring& directory, const std::wstring& relative, int depth) {
  if (depth > kMaxDepth) {
    throw ReleaseRefusal(DescribeName(directory) + ": folders nested more than " +
                         std::to_string(kMaxDepth) + " deep (a link loop?)");
  }
  const bool listed = ListFolder(directory, [&](const FolderEntry& entry) {
    const std::wstring child = relative.empty() ? entry.name : relative + L"\\" + entry.name;
    if (entry.IsFolder()) {
      if (!IsStagingFolderName(entry.name)) ListInto(walk, entry.path, child, depth + 1);
    } else if (!walk.excluded.count(SameFileKey(entry.path))) {
      walk.files.push_back({child, entry.path, entry.size});
    }
  });
  if (!listed) {
    throw ReleaseRefusal(DescribeName(directory) + ": cannot read the folder: " + LastErrorText());
  }
}

}  // namespace

std::vector<ReleaseFolderFile> ListReleaseFolder(const std::wstring& folder,
                                                 const std::vector<std::wstring>& excluded) {
  std::wstring root = ExtendedPath(folder);
  if (!IsFolder(root)) throw ReleaseRefusal(DescribeName(folder) + ": not a folder");
  // The separators at the end go, but not the root folder's ("\\?\C:\").
  while (root.size() > RootNameLength(root) + 1 && IsPathSeparator(root.back())) root.pop_back();
  Walk walk;
  for (const std::wstring& path : excluded) walk.excluded.insert(SameFileKey(ExtendedPath(path)));
  ListInto(walk, root, L"", 0);
  return std::move(walk.files);
}
