// Fuzz target: the manifest path rule (NormalizeManifestWidePath). Input: a
// leading 0xFF byte marks UTF-16LE text in the bytes after it; anything else
// is UTF-8, decoded by Utf8ToWide as the manifest reader does. The decoder is
// judged by round trips: text it accepts is the UTF-8 form of what it gives
// (no overlong form, surrogate or truncated sequence slips through), and the
// UTF-8 form of well-formed UTF-16 decodes back to it (nothing valid is
// refused). Text it refuses goes no further.
//
// An accepted path is judged by what it does, not by how the rule works: it
// is opened below the application folder, so resolving it there (runs of
// separators and "." names skipped, ".." going up one folder) must never
// leave that folder, must land where the manifest's own text lands, must not
// reach the staging folder, and must be written in the rule's normal form.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "transfer/manifest_path.h"

namespace {

[[noreturn]] void Finding(const char* what, const std::wstring& path) {
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

// True when every surrogate of `text` is one of a pair.
bool IsWellFormedUtf16(std::wstring_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsLowSurrogate(text[i])) return false;
    if (IsHighSurrogate(text[i]) && (++i == text.size() || !IsLowSurrogate(text[i]))) return false;
  }
  return true;
}

// The folders and file a relative path names below a base folder, or nothing
// when it climbs out of it.
std::optional<std::vector<std::wstring>> ResolveBelowBase(std::wstring_view path) {
  std::vector<std::wstring> names;
  std::wstring name;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != L'\\' && path[i] != L'/') {
      name += path[i];
      continue;
    }
    if (name == L"..") {
      if (names.empty()) return std::nullopt;
      names.pop_back();
    } else if (!name.empty() && name != L".") {
      names.push_back(name);
    }
    name.clear();
  }
  return names;
}

// Windows opens a name with its trailing dots and blanks dropped and
// compares names without regard to ASCII letter case.
bool IsStagingFolderName(std::wstring name) {
  while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
  for (wchar_t& c : name) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return name == L".install-staging";
}

void CheckAccepted(const std::wstring& input, const std::wstring& result) {
  if (result.empty()) Finding("empty result", input);
  if (result[0] == L'\\') Finding("result starts with a separator", input);
  if (result.size() >= 2 && result[1] == L':' && ((result[0] | 0x20) >= L'a' && (result[0] | 0x20) <= L'z')) {
    Finding("result starts with a drive", input);
  }
  if (result.find(L'/') != std::wstring::npos) Finding("result holds '/'", input);
  if (result.find(L"\\\\") != std::wstring::npos) Finding("result holds a run of separators", input);

  const std::optional<std::vector<std::wstring>> names = ResolveBelowBase(result);
  if (!names) Finding("result climbs out of the application folder", input);
  for (const std::wstring& name : *names) {
    if (name == L"..") Finding("result holds a \"..\" name", input);
  }
  if (!names->empty() && IsStagingFolderName(names->front())) {
    Finding("result inside the staging folder", input);
  }
  if (ResolveBelowBase(input) != names) Finding("result names another file than the input", input);

  std::wstring again;
  try {
    again = NormalizeManifestWidePath(result);
  } catch (...) {
    Finding("result refused when given again", input);
  }
  if (again != result) Finding("result not in normal form", input);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::wstring path;
  if (size >= 1 && data[0] == 0xFF) {
    for (std::size_t i = 1; i + 1 < size; i += 2) {
      path.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    }
    if (IsWellFormedUtf16(path) && Utf8ToWide(WideToUtf8(path)) != path) {
      Finding("valid text changed by the UTF-8 round trip", path);
    }
  } else {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
      path = Utf8ToWide(bytes);
    } catch (const std::runtime_error& e) {
      if (std::strcmp(e.what(), "Texto UTF-8 invalido no manifesto.") != 0) {
        Finding("unexpected message for invalid UTF-8", path);
      }
      return 0;
    }
    if (WideToUtf8(path) != bytes) Finding("malformed UTF-8 accepted", path);
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
  CheckAccepted(path, normal);
  return 0;
}
