// Fetching the update manifest: one GET, status 200 only, body bounded by
// MaxManifestBytes and received straight into the result.
#include "manifest/manifest_download.h"

#include <stdexcept>

#include "transfer/update_origin.h"

std::wstring ManifestUrl() { return std::wstring(UpdateServerOrigin) + L"/updates/manifest.json"; }

std::string DownloadManifest(HINTERNET session) {
  HttpResponse response = HttpGet(session, ManifestUrl(), 0, false);
  if (response.status != 200) throw std::runtime_error("O servidor recusou o manifesto.");

  std::string body;
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(response.request.get(), &available)) {
      throw std::runtime_error("Falha ao ler o manifesto.");
    }
    if (available == 0) break;
    // Judged on the announced count, before any of those bytes is read.
    if (body.size() + available > MaxManifestBytes) {
      throw std::runtime_error("Manifesto maior que o limite de seguranca.");
    }
    const std::size_t before = body.size();
    body.resize(before + available);
    DWORD read = 0;
    if (!WinHttpReadData(response.request.get(), body.data() + before, available, &read)) {
      throw std::runtime_error("Falha ao baixar o manifesto.");
    }
    body.resize(before + read);
  }
  response.request.reset();
  response.connection.reset();
  return body;
}
