#include "finish/file_digest.h"

#include <windows.h>

#include <stdexcept>
#include <vector>

#include "common/bcrypt_handles.h"
#include "common/win_handles.h"

namespace {

constexpr DWORD kReadBufferSize = 0x100000;  // 1 MiB per ReadFile

bool Failed(NTSTATUS status) noexcept { return status < 0; }

// Reads one 32-bit property of the provider. A failed query leaves `value`
// at zero; the steps after it then run with that length.
void QueryLength(BCRYPT_ALG_HANDLE provider, LPCWSTR property, ULONG& value) noexcept {
  ULONG written = 0;
  ::BCryptGetProperty(provider, property, reinterpret_cast<PUCHAR>(&value), sizeof value,
                      &written, 0);
}

}  // namespace

namespace {

// One SHA-256 computation: the provider, the hash object's memory and the
// hash, in the order they must be released. Throws the messages of
// ComputeFileSha256.
class Sha256 {
 public:
  Sha256() {
    if (Failed(::BCryptOpenAlgorithmProvider(provider_.put(), BCRYPT_SHA256_ALGORITHM, nullptr,
                                             0))) {
      throw std::runtime_error("SHA-256 indisponivel no Windows.");
    }
    ULONG object_length = 0;
    ULONG digest_length = 0;
    QueryLength(provider_.get(), BCRYPT_OBJECT_LENGTH, object_length);
    QueryLength(provider_.get(), BCRYPT_HASH_LENGTH, digest_length);
    object_.resize(object_length);
    digest_.resize(digest_length);
    if (Failed(::BCryptCreateHash(provider_.get(), hash_.put(), object_.data(), object_length,
                                  nullptr, 0, 0))) {
      throw std::runtime_error("Falha ao iniciar SHA-256.");
    }
  }

  void Add(const void* bytes, ULONG count) {
    if (Failed(::BCryptHashData(hash_.get(), static_cast<PUCHAR>(const_cast<void*>(bytes)), count,
                                0))) {
      throw std::runtime_error("Falha durante SHA-256.");
    }
  }

  const std::vector<UCHAR>& Finish() {
    if (Failed(::BCryptFinishHash(hash_.get(), digest_.data(),
                                  static_cast<ULONG>(digest_.size()), 0))) {
      throw std::runtime_error("Falha ao finalizar SHA-256.");
    }
    return digest_;
  }

 private:
  BcryptAlgorithmHandle provider_;
  // The hash object lives inside `object_`, so the buffer is declared before
  // the hash handle: the hash is destroyed while its memory is alive.
  std::vector<UCHAR> object_;
  std::vector<UCHAR> digest_;
  BcryptHashHandle hash_;
};

}  // namespace

std::wstring ComputeFileSha256(const std::wstring& path) {
  Sha256 sha256;
  FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) throw std::runtime_error("Nao foi possivel validar um arquivo baixado.");

  std::vector<UCHAR> buffer(kReadBufferSize);
  for (;;) {
    DWORD read = 0;
    // A read error ends the digest like the end of the file: the result then
    // covers only the bytes before it and will not match the manifest.
    if (!::ReadFile(file.get(), buffer.data(), kReadBufferSize, &read, nullptr) || read == 0) break;
    sha256.Add(buffer.data(), read);
  }

  static constexpr wchar_t kHexDigits[] = L"0123456789abcdef";
  std::wstring text;
  for (UCHAR byte : sha256.Finish()) {
    text += kHexDigits[byte >> 4];
    text += kHexDigits[byte & 0x0F];
  }
  return text;
}

std::string Sha256Of(std::string_view bytes) {
  Sha256 sha256;
  sha256.Add(bytes.data(), static_cast<ULONG>(bytes.size()));
  const std::vector<UCHAR>& digest = sha256.Finish();
  return std::string(digest.begin(), digest.end());
}

bool DigestsMatch(const std::wstring& a, const std::wstring& b) noexcept {
  if (a.size() != b.size()) return false;
  auto fold = [](wchar_t c) { return (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c; };
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}
