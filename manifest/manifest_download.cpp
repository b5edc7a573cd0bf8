// Fetching the update manifest: one GET, status 200 only, body bounded by
// MaxManifestBytes and received straight into the result.
#include "manifest/manifest_download.h"

#include <stdexcept>

#include "transfer/update_origin.h"

std::wstring ManifestUrl() { return std::wstring(UpdateServerOrigin) + L"/updates/manifest.json"; }

std::string DownloadManifest(HINTERNET session) {
  const HttpResponse response = HttpGet(session, ManifestUrl(), 0, false);
  if (response.status != 200) throw std::runtime_error("O servidor recusou o manifesto.");

  // Each read asks for the whole announced count, into the grown end of the body.
  std::string body;
  std::size_t length = 0;
  ReadResponseBody(
      response, "Falha ao ler o manifesto.", "Falha ao baixar o manifesto.",
      [&](const char*, DWORD read) { length += read; return true; },
      [&](DWORD available) {
        // Judged on the announced count, before any of those bytes is read.
        if (length + available > MaxManifestBytes) {
          throw std::runtime_error("Manifesto maior que o limite de seguranca.");
        }
        body.resize(length + available);
        return std::span<char>(body.data() + length, available);
      });
  body.resize(length);
  return body;
}
