#include "tools/release_text.h"

#include <limits>

#include "common/text.h"
#include "tools/release_errors.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsUnreserved(unsigned char c) noexcept {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

}  // namespace

std::size_t FindUnreadableNameChar(std::wstring_view name) noexcept {
  for (std::size_t i = 0; i < name.size(); ++i) {
    wchar_t c = name[i];
    if (c == 0xFFFD) return i;
    if (IsHighSurrogate(c)) {
      if (i + 1 < name.size() && IsLowSurrogate(name[i + 1])) {
        ++i;
        continue;
      }
      return i;
    }
    if (IsLowSurrogate(c)) return i;
  }
  return std::wstring_view::npos;
}

// WideToUtf8 with one difference: an unpaired surrogate is written as
// \uD800 rather than U+FFFD, so that two names that differ only there stay
// apart in the message and the publisher can find the file.
std::string DescribeName(std::wstring_view name) {
  std::string out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    char32_t c = name[i];
    if (IsHighSurrogate(c) && i + 1 < name.size() && IsLowSurrogate(name[i + 1])) {
      c = CombineSurrogates(c, name[++i]);
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHexDigits[(c >> shift) & 0xF];
      continue;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::string PercentEncodePath(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (char ch : path) {
    auto c = static_cast<unsigned char>(ch);
    if (IsUnreserved(c) || c == '/') {
      out += ch;
    } else {
      out += '%';
      out += kHexDigits[c >> 4];
      out += kHexDigits[c & 0xF];
    }
  }
  return out;
}

std::string CheckUrlBase(std::string_view base) {
  const std::string shown = "--url-base \"" + std::string(base) + "\"";
  for (char ch : base) {
    auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c >= 0x7F || c == '\\' || c == '?' || c == '#') {
      throw UsageError(shown +
                       ": only printable ASCII without blanks, '\\', '?' or '#' may appear "
                       "(percent-encode other characters)");
    }
  }
  if (base.starts_with("https://")) {
    std::string_view host = base.substr(8);
    if (host.empty() || host.front() == '/') {
      throw UsageError(shown + ": an https:// address needs a host");
    }
  } else if (!base.starts_with("/")) {
    throw UsageError(shown +
                     ": must be a path starting with \"/\" or an absolute https:// address");
  }
  // The host of an https:// base does not start with '/', so this never
  // reaches into the scheme; "/" becomes "" and its urls "/<path>".
  std::string result(base);
  while (!result.empty() && result.back() == '/') result.pop_back();
  return result;
}

std::string FileUrlFor(std::string_view base, std::string_view path) {
  std::string url(base);
  url += '/';
  url += PercentEncodePath(path);
  return url;
}

unsigned long long ParseBuildNumber(std::string_view text) {
  const std::string shown = "--build \"" + std::string(text) + "\"";
  if (text.empty()) throw UsageError(shown + ": a build number is required");
  unsigned long long value = 0;
  constexpr unsigned long long kMax = std::numeric_limits<unsigned long long>::max();
  for (char c : text) {
    if (c < '0' || c > '9') throw UsageError(shown + ": only decimal digits are allowed");
    unsigned digit = static_cast<unsigned>(c - '0');
    if (value > (kMax - digit) / 10) throw UsageError(shown + ": larger than 18446744073709551615");
    value = value * 10 + digit;
  }
  if (value == 0) throw UsageError(shown + ": the installer refuses build 0");
  return value;
}

std::size_t TypicalStagingPathLength(std::wstring_view normalized_path) noexcept {
  constexpr std::wstring_view kBefore = L"C:\\Users\\";
  constexpr std::size_t kUserName = 20;
  constexpr std::wstring_view kAfterUser = L"\\Desktop\\Lanternbrook\\.install-staging\\";
  constexpr std::wstring_view kSuffix = L".part";
  return kBefore.size() + kUserName + kAfterUser.size() + normalized_path.size() + kSuffix.size();
}
