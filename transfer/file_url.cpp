#include "transfer/file_url.h"

#include <stdexcept>

#include "common/text.h"
#include "transfer/update_origin.h"

std::wstring ResolveFileUrl(const std::string& url) {
  std::wstring wide = Utf8ToWide(url);
  if (wide.compare(0, 8, L"https://") == 0) return wide;  // any host, fetched as written
  if (!wide.empty() && wide[0] == L'/') return std::wstring(UpdateServerOrigin) + wide;
  throw std::runtime_error("URL de arquivo insegura no manifesto.");
}
