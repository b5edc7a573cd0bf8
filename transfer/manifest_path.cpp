// The path rule on UTF-16 text: lexical normalisation in the manner of the
// standard library's Windows paths, then the acceptance test. Pure code.
#include "transfer/manifest_path.h"

#include <stdexcept>
#include <vector>

#include "common/paths.h"
#include "common/text.h"

namespace {

// One element after the root: a name, or a separator (a run of them).
struct Piece {
  std::wstring_view name;  // empty for a separator
  bool separator = false;
};

bool IsName(const std::vector<Piece>& pieces, std::size_t i, std::wstring_view name) {
  return i < pieces.size() && !pieces[i].separator && pieces[i].name == name;
}

bool IsSep(const std::vector<Piece>& pieces, std::size_t i) {
  return i < pieces.size() && pieces[i].separator;
}

// The path rule's own test, the same on every system: trailing dots and
// blanks dropped as Windows drops them, ASCII letter case ignored.
bool NamesTheStagingFolder(std::wstring_view name) {
  while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.remove_suffix(1);
  const std::wstring_view staging(StagingFolderName);
  if (name.size() != staging.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (AsciiLower(name[i]) != AsciiLower(staging[i])) return false;
  }
  return true;
}

[[noreturn]] void Reject() { throw std::runtime_error("Caminho inseguro no manifesto."); }

// The names and separator runs of `path` from `pos` on.
std::vector<Piece> SplitPieces(std::wstring_view path, std::size_t pos) {
  std::vector<Piece> pieces;
  while (pos < path.size()) {
    const std::size_t start = pos;
    const bool separator = IsPathSeparator(path[pos]);
    while (pos < path.size() && IsPathSeparator(path[pos]) == separator) ++pos;
    pieces.push_back({separator ? std::wstring_view() : path.substr(start, pos - start), separator});
  }
  return pieces;
}

// "." names go, each with the separator after it.
std::vector<Piece> DropDotNames(const std::vector<Piece>& pieces) {
  std::vector<Piece> kept;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (IsName(pieces, i, L".")) {
      if (IsSep(pieces, i + 1)) ++i;
      continue;
    }
    kept.push_back(pieces[i]);
  }
  return kept;
}

// "name/.." pairs go, with the separator after the "..", until none is left:
// one pass with the kept pieces as a stack, so a long chain of "a/a/../.."
// costs linear time.
std::vector<Piece> DropNameDotDotPairs(const std::vector<Piece>& pieces) {
  std::vector<Piece> kept;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const std::size_t n = kept.size();
    if (IsName(pieces, i, L"..") && n >= 2 && kept[n - 1].separator && !kept[n - 2].separator &&
        kept[n - 2].name != L"..") {
      kept.resize(n - 2);
      if (IsSep(pieces, i + 1)) ++i;
      continue;
    }
    kept.push_back(pieces[i]);
  }
  return kept;
}

// Nothing climbs above a root directory: its leading ".." names go.
void DropClimbsAboveRoot(std::vector<Piece>& pieces) {
  std::size_t drop = 0;
  while (IsName(pieces, drop, L"..")) drop += IsSep(pieces, drop + 1) ? 2 : 1;
  pieces.erase(pieces.begin(), pieces.begin() + static_cast<std::ptrdiff_t>(drop));
}

// The lexical normal form of a non-empty path, in the manner of the standard
// library's Windows paths: separators as '\\', runs of them as one, "." and
// "name\\.." gone.
std::wstring LexicallyNormal(std::wstring_view path) {
  // The standard library's root name stops at "\\server" and at a device
  // prefix ("\\?", "\??"), where RootNameLength also takes the share or the
  // volume; a path with any root name or a leading separator is refused by
  // the acceptance test, so only the presence of a root matters and the two
  // answers lead to the same result.
  std::wstring normal;
  const std::size_t root_name = RootNameLength(path);
  for (std::size_t i = 0; i < root_name; ++i) normal += IsPathSeparator(path[i]) ? L'\\' : path[i];
  std::size_t pos = root_name;
  const bool root_directory = pos < path.size() && IsPathSeparator(path[pos]);
  if (root_directory) {
    normal += L'\\';
    while (pos < path.size() && IsPathSeparator(path[pos])) ++pos;
  }

  std::vector<Piece> pieces = DropNameDotDotPairs(DropDotNames(SplitPieces(path, pos)));
  if (root_directory) DropClimbsAboveRoot(pieces);
  // A trailing ".." loses the separator after it.
  if (pieces.size() >= 2 && pieces.back().separator && IsName(pieces, pieces.size() - 2, L"..")) {
    pieces.pop_back();
  }
  for (const Piece& piece : pieces) {
    if (piece.separator) normal += L'\\';
    else normal += piece.name;
  }
  return normal.empty() ? L"." : normal;
}

// Acceptance: relative, no root of any kind, no ".." name, nothing inside the
// staging folder (it is removed at the end of a successful run).
void Accept(const std::wstring& normal) {
  if (normal.empty()) Reject();
  if (RootNameLength(normal) != 0 || IsPathSeparator(normal[0])) Reject();
  std::size_t start = 0;
  bool first = true;
  while (start <= normal.size()) {
    std::size_t end = normal.find(L'\\', start);
    if (end == std::wstring::npos) end = normal.size();
    const std::wstring_view name = std::wstring_view(normal).substr(start, end - start);
    if (name == L"..") Reject();
    if (first && NamesTheStagingFolder(name)) Reject();
    first = false;
    start = end + 1;
  }
}

}  // namespace

std::wstring NormalizeManifestWidePath(std::wstring_view path) {
  std::wstring normal = path.empty() ? std::wstring() : LexicallyNormal(path);
  Accept(normal);
  return normal;
}

std::wstring NormalizeManifestPath(const std::string& path) {
  return NormalizeManifestWidePath(Utf8ToWide(path));
}
