// Fuzz target: the manifest path rule (NormalizeManifestWidePath). Input: a
// leading 0xFF byte marks UTF-16LE text in the bytes after it; anything else
// is UTF-8, decoded strictly as Utf8ToWide does (malformed input is refused
// before the rule and is not interesting here). An accepted path must be a
// relative path under the application folder.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

#include "fuzz/strict_utf8.h"
#include "transfer/manifest_path.h"

namespace {

[[noreturn]] void Finding(const char* what, const std::wstring& path = {}) {
  std::fprintf(stderr, "fuzz_manifest_path finding: %s [", what);
  for (const wchar_t c : path) {
    const auto unit = static_cast<unsigned>(c);
    if (unit >= 0x20 && unit < 0x7F) {
      std::fputc(static_cast<int>(unit), stderr);
    } else {
      std::fprintf(stderr, "\\x%04X", unit);
    }
  }
  std::fprintf(stderr, "]\n");
  std::abort();
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? c - L'A' + L'a' : c; }

// The staging folder as Windows resolves a name: any letter case, trailing
// dots and blanks ignored.
bool NamesTheStagingFolder(std::wstring_view name) {
  while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.remove_suffix(1);
  const std::wstring_view staging(StagingFolderName);
  if (name.size() != staging.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (AsciiLower(name[i]) != AsciiLower(staging[i])) return false;
  }
  return true;
}

void CheckAccepted(const std::wstring& path) {
  if (path.empty()) Finding("empty result", path);
  if (IsSeparator(path[0])) Finding("result starts with a separator", path);
  const wchar_t first = path[0];
  if (path.size() >= 2 && path[1] == L':' &&
      ((first >= L'a' && first <= L'z') || (first >= L'A' && first <= L'Z'))) {
    Finding("result starts with a drive", path);
  }
  if (path.find(L'/') != std::wstring::npos) Finding("result holds '/'", path);
  std::size_t start = 0;
  for (bool first_name = true; start <= path.size(); first_name = false) {
    std::size_t stop = path.find(L'\\', start);
    if (stop == std::wstring::npos) stop = path.size();
    const std::wstring_view name = std::wstring_view(path).substr(start, stop - start);
    if (name == L"..") Finding("result holds a \"..\" name", path);
    if (first_name && NamesTheStagingFolder(name)) Finding("result inside the staging folder", path);
    start = stop + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::wstring path;
  if (size >= 1 && data[0] == 0xFF) {
    for (std::size_t i = 1; i + 1 < size; i += 2) {
      path.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    }
  } else if (!StrictUtf8ToUtf16(data, size, path)) {
    return 0;
  }
  std::wstring normal;
  try {
    normal = NormalizeManifestWidePath(path);
  } catch (const std::runtime_error& e) {
    if (std::strcmp(e.what(), "Caminho inseguro no manifesto.") != 0) Finding("unexpected message", path);
    return 0;
  } catch (...) {
    Finding("exception other than the rule's runtime error", path);
  }
  CheckAccepted(normal);
  return 0;
}
