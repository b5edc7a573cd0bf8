#include "manifest/manifest_signature.h"

#include <stdexcept>

#include "common/bcrypt_handles.h"
#include "finish/file_digest.h"

namespace {

bool Failed(NTSTATUS status) noexcept { return status < 0; }

// True when `signature` is a PSS signature of `digest` by the public key `blob`.
bool VerifiesWith(const std::string& blob, const std::string& digest,
                  const std::string& signature) {
  BcryptAlgorithmHandle rsa;
  if (Failed(::BCryptOpenAlgorithmProvider(rsa.put(), BCRYPT_RSA_ALGORITHM, nullptr, 0))) {
    return false;
  }
  BcryptKeyHandle key;
  if (Failed(::BCryptImportKeyPair(rsa.get(), nullptr, BCRYPT_RSAPUBLIC_BLOB, key.put(),
                                   reinterpret_cast<PUCHAR>(const_cast<char*>(blob.data())),
                                   static_cast<ULONG>(blob.size()), 0))) {
    return false;
  }
  BCRYPT_PSS_PADDING_INFO padding{BCRYPT_SHA256_ALGORITHM, ReleaseSignatureSaltBytes};
  return !Failed(::BCryptVerifySignature(
      key.get(), &padding, reinterpret_cast<PUCHAR>(const_cast<char*>(digest.data())),
      static_cast<ULONG>(digest.size()),
      reinterpret_cast<PUCHAR>(const_cast<char*>(signature.data())),
      static_cast<ULONG>(signature.size()), BCRYPT_PAD_PSS));
}

}  // namespace

std::string ReleaseKeyIdOf(std::string_view public_blob) {
  return Sha256Of(public_blob).substr(0, ReleaseKeyIdBytes);
}

ReleaseKeyFile LoadReleasePublicKey(std::string_view text) {
  ReleaseKeyFile key = ParseReleaseKeyFile(ReleaseKeyKind::kPublic, text);
  if (ReleaseKeyIdOf(key.blob) != key.key_id) {
    throw std::runtime_error("the key id " + HexOf(key.key_id) + " is not that of the key (" +
                             HexOf(ReleaseKeyIdOf(key.blob)) + ")");
  }
  return key;
}

SignatureVerdict VerifyManifestSignature(std::string_view manifest, std::string_view signatures,
                                         const std::vector<ReleaseKeyFile>& keys) {
  SignatureVerdict verdict;
  std::vector<ReleaseSignature> parsed;
  try {
    parsed = ParseReleaseSignatures(signatures);
  } catch (const std::runtime_error& error) {
    verdict.reason = std::string("the signature file is unreadable: ") + error.what();
    return verdict;
  }
  const std::string digest = Sha256Of(manifest);
  std::string unknown;
  std::string mismatched;
  for (const ReleaseSignature& signature : parsed) {
    bool known = false;
    for (const ReleaseKeyFile& key : keys) {
      if (key.key_id != signature.key_id) continue;
      known = true;
      if (VerifiesWith(key.blob, digest, signature.signature)) {
        verdict.verified = true;
        verdict.key_id = key.key_id;
        return verdict;
      }
    }
    std::string& list = known ? mismatched : unknown;
    list += (list.empty() ? "" : ", ") + HexOf(signature.key_id);
  }
  if (!mismatched.empty()) {
    verdict.reason = "the signature by key " + mismatched + " does not match the manifest";
    if (!unknown.empty()) verdict.reason += "; no key is held for " + unknown;
  } else {
    verdict.reason = "no signature is by a key held here (the file is signed by " + unknown + ")";
  }
  return verdict;
}
