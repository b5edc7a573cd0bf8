#include "tools/release_signing.h"

#include <stdexcept>
#include <vector>

#include "common/bcrypt_handles.h"
#include "common/files.h"
#include "common/filesystem_error.h"
#include "common/win_handles.h"
#include "finish/file_digest.h"
#include "manifest/manifest_signature.h"
#include "tools/release_errors.h"
#include "tools/release_text.h"

namespace {

constexpr ULONG kKeyBits = 3072;

bool Failed(NTSTATUS status) noexcept { return status < 0; }

BcryptAlgorithmHandle OpenRsa() {
  BcryptAlgorithmHandle rsa;
  if (Failed(::BCryptOpenAlgorithmProvider(rsa.put(), BCRYPT_RSA_ALGORITHM, nullptr, 0))) {
    throw ReleaseRefusal("RSA is not available from CNG on this system");
  }
  return rsa;
}

std::string Export(BCRYPT_KEY_HANDLE key, LPCWSTR type) {
  ULONG length = 0;
  if (Failed(::BCryptExportKey(key, nullptr, type, nullptr, 0, &length, 0))) {
    throw ReleaseRefusal("CNG cannot export the key");
  }
  std::string blob(length, '\0');
  if (Failed(::BCryptExportKey(key, nullptr, type, reinterpret_cast<PUCHAR>(blob.data()), length,
                               &length, 0))) {
    throw ReleaseRefusal("CNG cannot export the key");
  }
  blob.resize(length);
  return blob;
}

// The current user's SID, in the token's own buffer.
std::vector<unsigned char> CurrentUserSid() {
  KernelHandle token;
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
  token.reset(raw);
  DWORD length = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &length);
  std::vector<unsigned char> buffer(length);
  if (length == 0 ||
      !::GetTokenInformation(token.get(), TokenUser, buffer.data(), length, &length)) {
    return {};
  }
  return buffer;
}

}  // namespace

ReleaseKeyPair GenerateReleaseKeyPair() {
  BcryptAlgorithmHandle rsa = OpenRsa();
  BcryptKeyHandle key;
  if (Failed(::BCryptGenerateKeyPair(rsa.get(), key.put(), kKeyBits, 0)) ||
      Failed(::BCryptFinalizeKeyPair(key.get(), 0))) {
    throw ReleaseRefusal("CNG cannot generate an RSA-3072 key pair");
  }
  ReleaseKeyPair pair;
  const std::string public_blob = Export(key.get(), BCRYPT_RSAPUBLIC_BLOB);
  pair.key_id = ReleaseKeyIdOf(public_blob);
  pair.public_text = FormatReleaseKeyFile(ReleaseKeyKind::kPublic, {pair.key_id, public_blob});
  pair.private_text = FormatReleaseKeyFile(ReleaseKeyKind::kPrivate,
                                           {pair.key_id, Export(key.get(), BCRYPT_RSAFULLPRIVATE_BLOB)});
  return pair;
}

ReleaseKeyFile ReadPrivateKey(const std::wstring& path) {
  const std::string text = ReadToolFile(path, 65536, "the private key");
  try {
    return ParseReleaseKeyFile(ReleaseKeyKind::kPrivate, text);
  } catch (const std::runtime_error& error) {
    throw ReleaseRefusal(DescribeName(path) + ": not a private key file of lanternbrook-release "
                         "keygen: " + error.what());
  }
}

ReleaseSignature SignManifestBytes(std::string_view manifest, const ReleaseKeyFile& private_key) {
  BcryptAlgorithmHandle rsa = OpenRsa();
  BcryptKeyHandle key;
  if (Failed(::BCryptImportKeyPair(
          rsa.get(), nullptr, BCRYPT_RSAFULLPRIVATE_BLOB, key.put(),
          reinterpret_cast<PUCHAR>(const_cast<char*>(private_key.blob.data())),
          static_cast<ULONG>(private_key.blob.size()), 0))) {
    throw ReleaseRefusal("CNG refuses the private key");
  }
  if (ReleaseKeyIdOf(Export(key.get(), BCRYPT_RSAPUBLIC_BLOB)) != private_key.key_id) {
    throw ReleaseRefusal("the private key's key id " + HexOf(private_key.key_id) +
                         " is not that of its key");
  }
  const std::string digest = Sha256Of(manifest);
  BCRYPT_PSS_PADDING_INFO padding{BCRYPT_SHA256_ALGORITHM, ReleaseSignatureSaltBytes};
  std::string signature(ReleaseSignatureBytes, '\0');
  ULONG length = 0;
  if (Failed(::BCryptSignHash(key.get(), &padding,
                              reinterpret_cast<PUCHAR>(const_cast<char*>(digest.data())),
                              static_cast<ULONG>(digest.size()),
                              reinterpret_cast<PUCHAR>(signature.data()),
                              static_cast<ULONG>(signature.size()), &length, BCRYPT_PAD_PSS)) ||
      length != ReleaseSignatureBytes) {
    throw ReleaseRefusal("CNG cannot sign with the private key");
  }
  return {private_key.key_id, signature};
}

void WriteNewFile(const std::wstring& path, std::string_view bytes, bool owner_only) {
  // The user alone, and nothing inherited from the folder.
  SECURITY_DESCRIPTOR descriptor;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
  std::vector<unsigned char> user = owner_only ? CurrentUserSid() : std::vector<unsigned char>();
  std::vector<unsigned char> acl_memory;
  if (!user.empty()) {
    PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    acl_memory.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + ::GetLengthSid(sid));
    ACL* acl = reinterpret_cast<ACL*>(acl_memory.data());
    if (::InitializeAcl(acl, static_cast<DWORD>(acl_memory.size()), ACL_REVISION) &&
        ::AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) &&
        ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
        ::SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) &&
        ::SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
      attributes.lpSecurityDescriptor = &descriptor;
    }
  }
  if (owner_only && !attributes.lpSecurityDescriptor) {
    throw ReleaseRefusal(DescribeName(path) + ": cannot make an access list for the current user "
                         "alone: " + LastErrorText());
  }
  FileHandle file(::CreateFileW(ExtendedPath(path).c_str(), GENERIC_WRITE, 0, &attributes,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
      throw ReleaseRefusal(DescribeName(path) + ": the file exists; it is not overwritten");
    }
    throw ReleaseRefusal(DescribeName(path) + ": cannot create the file: " + LastErrorText());
  }
  DWORD written = 0;
  if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size() || !::FlushFileBuffers(file.get())) {
    throw ReleaseRefusal(DescribeName(path) + ": cannot write the file: " + LastErrorText());
  }
}

void WriteReplacing(const std::wstring& path, const std::string& bytes, const char* what) {
  std::wstring target = ExtendedPath(path);
  std::wstring temporary = target + L".tmp";
  const bool written = WriteWholeFile(temporary, bytes);
  if (!written || !ReplaceByRename(temporary, target)) {
    std::string reason = LastErrorText();
    ::DeleteFileW(temporary.c_str());
    throw ReleaseRefusal(DescribeName(path) + (written ? ": cannot replace " : ": cannot write ") +
                         what + ": " + reason);
  }
}

std::string ReadToolFile(const std::wstring& path, std::size_t max_bytes, const char* what) {
  const std::wstring extended = ExtendedPath(path);
  if (std::optional<std::uint64_t> size = RegularFileSize(extended); size && *size > max_bytes) {
    throw ReleaseRefusal(DescribeName(path) + ": larger than the installer accepts (" +
                         std::to_string(max_bytes) + " bytes)");
  }
  std::optional<std::string> bytes = ReadSmallFile(extended, max_bytes);
  if (!bytes) throw ReleaseRefusal(DescribeName(path) + ": cannot read " + what);
  return *bytes;
}
