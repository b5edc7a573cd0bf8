#pragma once
// Verifying the publisher's signature of a manifest with CNG: RSA-3072, PSS
// padding with a 32-byte salt, SHA-256 of the manifest's exact bytes. Used by
// the worker (with the keys built into the installer) and by the publisher
// tool; no shared state.
#include <string>
#include <string_view>
#include <vector>

#include "manifest/release_key_files.h"

// The PSS salt length in bytes.
inline constexpr unsigned long ReleaseSignatureSaltBytes = 32;

// The key id of a BCRYPT_RSAPUBLIC_BLOB: the first ReleaseKeyIdBytes bytes of
// its SHA-256. Throws the messages of Sha256Of.
std::string ReleaseKeyIdOf(std::string_view public_blob);

// Reads a public key file and checks that its key id is that of its key.
// Throws std::runtime_error with an English reason.
ReleaseKeyFile LoadReleasePublicKey(std::string_view text);

// The outcome of a verification; `reason` (English) says why none verified.
struct SignatureVerdict {
  bool verified = false;
  std::string key_id;  // raw bytes of the key whose signature verified
  std::string reason;
};

// Verifies the signature file `signatures` over `manifest` with `keys`: the
// manifest is accepted when one signature verifies with the key of its key
// id. Never throws for bad input (a file that does not parse, a key CNG
// refuses); only std::bad_alloc and the SHA-256 failures of Sha256Of.
SignatureVerdict VerifyManifestSignature(std::string_view manifest, std::string_view signatures,
                                         const std::vector<ReleaseKeyFile>& keys);
