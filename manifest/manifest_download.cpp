// Fetching the update manifest: one GET, status 200 only, body bounded by
// MaxManifestBytes and received straight into the result.
#include "manifest/manifest_download.h"

#include <stdexcept>

#include "manifest/release_key_files.h"
#include "transfer/update_origin.h"

std::wstring ManifestUrl() { return std::wstring(UpdateServerOrigin) + L"/updates/manifest.json"; }

namespace {

// One GET of `url`, status 200 only, its body bounded by `max_bytes`.
std::string DownloadBounded(HINTERNET session, const std::wstring& url, std::size_t max_bytes,
                            const char* refused, const char* too_large) {
  const HttpResponse response = HttpGet(session, url);
  if (response.status != 200) throw std::runtime_error(refused);

  // Each read asks for the whole announced count, into the grown end of the body.
  std::string body;
  std::size_t length = 0;
  ReadResponseBody(
      response, "Falha ao ler o manifesto.", "Falha ao baixar o manifesto.",
      [&](const char*, DWORD read) { length += read; return true; },
      [&](DWORD available) {
        // Judged on the announced count, before any of those bytes is read.
        if (length + available > max_bytes) throw std::runtime_error(too_large);
        body.resize(length + available);
        return std::span<char>(body.data() + length, available);
      });
  body.resize(length);
  return body;
}

}  // namespace

std::string DownloadManifest(HINTERNET session) {
  return DownloadBounded(session, ManifestUrl(), MaxManifestBytes,
                         "O servidor recusou o manifesto.",
                         "Manifesto maior que o limite de seguranca.");
}

std::wstring ManifestSignatureUrl() { return ManifestUrl() + L".sig"; }

std::string DownloadManifestSignature(HINTERNET session) {
  return DownloadBounded(session, ManifestSignatureUrl(), MaxSignatureFileBytes,
                         SignatureMismatchText, SignatureMismatchText);
}
