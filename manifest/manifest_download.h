#pragma once
// Fetching the update manifest from the update server.
// Called on the worker thread only; blocking.
#include <cstddef>
#include <string>

#include "transfer/http_request.h"

// The largest manifest body accepted (a body of exactly this size is accepted).
inline constexpr std::size_t MaxManifestBytes = 2097152;

// UpdateServerOrigin followed by "/updates/manifest.json".
std::wstring ManifestUrl();

// GETs ManifestUrl() on `session` and returns the body bytes unchanged.
// Throws HttpGet's messages, or "O servidor recusou o manifesto." (status not
// 200; no body read), "Falha ao ler o manifesto.", "Manifesto maior que o
// limite de seguranca.", "Falha ao baixar o manifesto.". The request handle is
// closed before the connection handle on every path.
std::string DownloadManifest(HINTERNET session);

// ManifestUrl() followed by ".sig": the publisher's signatures of the manifest.
std::wstring ManifestSignatureUrl();

// GETs ManifestSignatureUrl() on `session` as DownloadManifest does, with a
// cap of MaxSignatureFileBytes. A failed connection or read throws the
// messages of DownloadManifest; any status but 200 and a larger body throw
// SignatureMismatchText.
std::string DownloadManifestSignature(HINTERNET session);

// The failure of a signed installer's run when the manifest is not signed by
// one of its keys.
inline constexpr char SignatureMismatchText[] = "A assinatura da atualizacao nao confere.";
