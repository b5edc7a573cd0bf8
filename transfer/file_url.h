#pragma once
// The file address rule. Thread-safe.
#include <string>

// "https://..." (exact case) is returned unchanged; "/..." is appended to
// UpdateServerOrigin; anything else throws
// std::runtime_error("URL de arquivo insegura no manifesto."). Utf8ToWide's
// message propagates for invalid UTF-8.
std::wstring ResolveFileUrl(const std::string& url);
