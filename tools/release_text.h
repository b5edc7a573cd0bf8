#pragma once
// Text rules of the publisher tool: which file names can be published, how a
// manifest path becomes a URL, which URL bases are accepted. Pure code (no
// <windows.h>); thread-safe.
#include <cstddef>
#include <string>
#include <string_view>

// Index of the first character of a UTF-16 file name that has no faithful
// UTF-8 form: an unpaired surrogate, or U+FFFD, which Windows and Wine put in
// place of bytes that were not valid text. std::wstring_view::npos when there
// is none.
std::size_t FindUnreadableNameChar(std::wstring_view name) noexcept;

// The name as UTF-8 for messages: unpaired surrogates written as \uD800 so
// that the publisher can tell which file is meant.
std::string DescribeName(std::wstring_view name);

// Percent-encodes a manifest path (UTF-8, '/' between names) for a URL: the
// unreserved characters A-Z a-z 0-9 - . _ ~ and '/' stay, every other byte
// becomes %XX with upper-case hex digits.
std::string PercentEncodePath(std::string_view path);

// Checks a --url-base value and returns it without trailing slashes. Accepted:
// a path starting with "/" (fetched from the installer's update server), or
// "https://" followed by a host. Only printable ASCII without blanks, '\',
// '?' and '#' may appear; anything else must be percent-encoded by the
// publisher. Throws UsageError naming the value.
std::string CheckUrlBase(std::string_view base);

// The url of one file: base (as returned by CheckUrlBase) + "/" + the
// percent-encoded path.
std::string FileUrlFor(std::string_view base, std::string_view path);

// Parses a --build value: decimal digits only, not 0, at most 2^64 - 1.
// Throws UsageError.
unsigned long long ParseBuildNumber(std::string_view text);

// The longest path Windows programs can use without the \\?\ prefix, in UTF-16
// characters, the terminating null excluded.
inline constexpr std::size_t MaxPathCharacters = 259;

// Length in UTF-16 characters of the staging path of a normalised manifest
// path (backslashes) in a typical installation:
// C:\Users\<20 characters>\Desktop\Lanternbrook\.install-staging\<path>.part
std::size_t TypicalStagingPathLength(std::wstring_view normalized_path) noexcept;
