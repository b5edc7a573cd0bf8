#include "tools/release_sign.h"

#include <stdexcept>
#include <string>
#include <vector>

#include "common/files.h"
#include "manifest/manifest_download.h"
#include "manifest/release_key_files.h"
#include "tools/console_output.h"
#include "tools/release_errors.h"
#include "tools/release_signing.h"
#include "tools/release_text.h"

int RunKeygen(const KeygenCommand& command) {
  for (const std::wstring* path : {&command.private_key, &command.public_key}) {
    if (RegularFileSize(ExtendedPath(*path)) || IsFolder(ExtendedPath(*path))) {
      throw ReleaseRefusal(DescribeName(*path) + ": the file exists; it is not overwritten");
    }
  }
  const ReleaseKeyPair pair = GenerateReleaseKeyPair();
  WriteNewFile(command.private_key, pair.private_text, true);
  WriteNewFile(command.public_key, pair.public_text, false);
  WriteStdout("wrote private key " + DescribeName(command.private_key) + " and public key " +
              DescribeName(command.public_key) + ": key id " + HexOf(pair.key_id) + "\n");
  return ExitSuccess;
}

int RunSign(const SignCommand& command) {
  const ReleaseKeyFile key = ReadPrivateKey(command.sign_key);
  const std::string manifest = ReadToolFile(command.manifest, MaxManifestBytes, "the manifest");
  const std::wstring signature_file = command.manifest + L".sig";
  std::vector<ReleaseSignature> signatures;
  if (RegularFileSize(ExtendedPath(signature_file))) {
    const std::string text =
        ReadToolFile(signature_file, MaxSignatureFileBytes, "the signature file");
    try {
      signatures = ParseReleaseSignatures(text);
    } catch (const std::runtime_error& error) {
      throw ReleaseRefusal(DescribeName(signature_file) + ": not a signature file: " +
                           error.what());
    }
  }
  std::string text = ReleaseSignaturesHeader();
  std::size_t count = 1;
  for (const ReleaseSignature& signature : signatures) {
    if (signature.key_id == key.key_id) continue;
    text += FormatReleaseSignature(signature);
    ++count;
  }
  text += FormatReleaseSignature(SignManifestBytes(manifest, key));
  if (text.size() > MaxSignatureFileBytes) {
    throw ReleaseRefusal(DescribeName(signature_file) + ": more signatures than the installer "
                         "reads (" + std::to_string(MaxSignatureFileBytes) + " bytes)");
  }
  WriteReplacing(signature_file, text, "the signature file");
  WriteStdout("signed " + DescribeName(command.manifest) + " with key " + HexOf(key.key_id) +
              ": " + DescribeName(signature_file) + " holds " +
              std::to_string(count) + (count == 1 ? " signature\n" : " signatures\n"));
  return ExitSuccess;
}
