#pragma once
// The publisher's side of signed releases: key pairs, signatures of a
// manifest and the files that hold them (manifest/release_key_files.h).
// CNG only: RSA-3072, PSS with a 32-byte salt over SHA-256. Main thread only.
#include <string>
#include <string_view>

#include "manifest/release_key_files.h"

// A new key pair: the texts of the private and the public key file.
struct ReleaseKeyPair {
  std::string key_id;  // raw bytes
  std::string private_text;
  std::string public_text;
};

// Generates a key pair. Throws ReleaseRefusal when CNG fails.
ReleaseKeyPair GenerateReleaseKeyPair();

// Reads the private key file at `path`. Throws ReleaseRefusal naming it.
ReleaseKeyFile ReadPrivateKey(const std::wstring& path);

// Signs the exact bytes of `manifest` with `private_key`. Throws ReleaseRefusal.
ReleaseSignature SignManifestBytes(std::string_view manifest, const ReleaseKeyFile& private_key);

// Creates the file `path`, which must not exist yet, with `bytes`. With
// `owner_only` its access list grants the current user alone. Throws
// ReleaseRefusal naming the file (an existing file is refused, not touched).
void WriteNewFile(const std::wstring& path, std::string_view bytes, bool owner_only);

// Replace by rename: writes `bytes` to `path` + ".tmp" and moves it onto
// `path`. Throws ReleaseRefusal naming `path` and `what` ("the manifest").
void WriteReplacing(const std::wstring& path, const std::string& bytes, const char* what);

// The bytes of the file at `path`. Throws ReleaseRefusal naming it: "cannot
// read <what>", or "larger than the installer accepts (<max_bytes> bytes)".
std::string ReadToolFile(const std::wstring& path, std::size_t max_bytes, const char* what);
