#pragma once
// The text files of signed releases: a public key file, a private key file
// and the signature file published beside the manifest (<manifest>.sig).
// docs/signatures.md describes them. Pure code (no <windows.h>); thread-safe.
//
// Every file is ASCII, one item a line, each line ended by a line feed:
//   public key   "lanternbrook-release public key", "algorithm RSA-3072-PSS-SHA256",
//                "key-id <16 hex>", "key <hex of the BCRYPT_RSAPUBLIC_BLOB>"
//   private key  the same with "private key" and the BCRYPT_RSAFULLPRIVATE_BLOB
//   signatures   "lanternbrook-release signatures", then one line per signature:
//                "signature RSA-3072-PSS-SHA256 <16 hex key id> <768 hex>"
// Hex digits are lower case. The key id is the first 8 bytes of the SHA-256 of
// the public blob.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

inline constexpr char ReleaseSignatureAlgorithm[] = "RSA-3072-PSS-SHA256";
inline constexpr std::size_t ReleaseKeyIdBytes = 8;
inline constexpr std::size_t ReleaseSignatureBytes = 384;  // RSA-3072
// The largest signature file the installer reads: room for 16 signatures.
inline constexpr std::size_t MaxSignatureFileBytes = 16384;

enum class ReleaseKeyKind { kPublic, kPrivate };

// One key file's content. `key_id` and `blob` are raw bytes.
struct ReleaseKeyFile {
  std::string key_id;
  std::string blob;
};

// One signature of a manifest. Raw bytes.
struct ReleaseSignature {
  std::string key_id;
  std::string signature;
};

// Lower-case hex of raw bytes.
std::string HexOf(std::string_view bytes);

// The text of a key file of `kind`.
std::string FormatReleaseKeyFile(ReleaseKeyKind kind, const ReleaseKeyFile& key);

// Reads a key file of `kind` exactly as FormatReleaseKeyFile writes it. Throws
// std::runtime_error with an English reason. The key id is not checked
// against the blob here (that takes SHA-256: manifest/manifest_signature.h).
ReleaseKeyFile ParseReleaseKeyFile(ReleaseKeyKind kind, std::string_view text);

// The first line of a signature file, with its line feed.
std::string ReleaseSignaturesHeader();
// One signature line, with its line feed.
std::string FormatReleaseSignature(const ReleaseSignature& signature);

// Reads a signature file: the header and at least one signature line, nothing
// else, at most MaxSignatureFileBytes. Throws std::runtime_error with an
// English reason.
std::vector<ReleaseSignature> ParseReleaseSignatures(std::string_view text);
