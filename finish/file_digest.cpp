#include "finish/file_digest.h"

#include <windows.h>

#include <algorithm>
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

Sha256::Sha256() {
  if (Failed(::BCryptOpenAlgorithmProvider(provider_.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    throw std::runtime_error("SHA-256 indisponivel no Windows.");
  }
  ULONG object_length = 0;
  QueryLength(provider_.get(), BCRYPT_OBJECT_LENGTH, object_length);
  object_.resize(object_length);
  Start();
}

void Sha256::Start() {
  hash_.reset();
  if (Failed(::BCryptCreateHash(provider_.get(), hash_.put(), object_.data(),
                                static_cast<ULONG>(object_.size()), nullptr, 0, 0))) {
    throw std::runtime_error("Falha ao iniciar SHA-256.");
  }
}

void Sha256::Add(const void* bytes, std::size_t count) {
  auto* data = static_cast<UCHAR*>(const_cast<void*>(bytes));
  while (count != 0) {
    const ULONG piece = static_cast<ULONG>(std::min<std::size_t>(count, 0x40000000));
    if (Failed(::BCryptHashData(hash_.get(), data, piece, 0))) {
      throw std::runtime_error("Falha durante SHA-256.");
    }
    data += piece;
    count -= piece;
  }
}

std::array<std::uint8_t, 32> Sha256::Finish() {
  std::array<std::uint8_t, 32> digest{};
  if (Failed(::BCryptFinishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0))) {
    throw std::runtime_error("Falha ao finalizar SHA-256.");
  }
  Start();
  return digest;
}

std::wstring HexDigest(const std::array<std::uint8_t, 32>& digest) {
  static constexpr wchar_t kHexDigits[] = L"0123456789abcdef";
  std::wstring text;
  text.reserve(digest.size() * 2);
  for (std::uint8_t byte : digest) {
    text += kHexDigits[byte >> 4];
    text += kHexDigits[byte & 0x0F];
  }
  return text;
}

std::wstring ComputeFileSha256(const std::wstring& path) {
  Sha256 hash;
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
    hash.Add(buffer.data(), read);
  }
  return HexDigest(hash.Finish());
}

std::string Sha256Of(std::string_view bytes) {
  Sha256 sha256;
  sha256.Add(bytes.data(), bytes.size());
  const std::array<std::uint8_t, 32> digest = sha256.Finish();
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
