#pragma once
// SHA-256 with CNG, of bytes or of a whole file. Called on the worker thread (and by the
// publisher tool); no shared state.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/bcrypt_handles.h"

// SHA-256 of bytes handed in piece by piece (ComputeFileSha256 hands a file's).
// Throws std::runtime_error with "SHA-256 indisponivel no Windows.",
// "Falha ao iniciar SHA-256.", "Falha durante SHA-256." or
// "Falha ao finalizar SHA-256.".
class Sha256 {
 public:
  Sha256();
  void Add(const void* bytes, std::size_t count);
  // The digest of everything added since construction or the last Finish;
  // starts over.
  std::array<std::uint8_t, 32> Finish();

 private:
  void Start();
  BcryptAlgorithmHandle provider_;
  // The hash object lives inside `object_`, declared before the hash handle:
  // the hash is destroyed while its memory is alive.
  std::vector<UCHAR> object_;
  BcryptHashHandle hash_;
};

// 64 lower-case hex characters.
std::wstring HexDigest(const std::array<std::uint8_t, 32>& digest);

// Returns 64 lower-case hex characters. Reads with a 1 MiB buffer and share
// mode read|write|delete. Throws std::runtime_error with:
//   "SHA-256 indisponivel no Windows."  "Falha ao iniciar SHA-256."
//   "Nao foi possivel validar um arquivo baixado." (cannot open)
//   "Falha durante SHA-256."  "Falha ao finalizar SHA-256."
// A read error ends the digest early without a message of its own.
std::wstring ComputeFileSha256(const std::wstring& path);

// The 32 raw bytes of the SHA-256 of `bytes`. Throws the
// messages above but the one about opening a file.
std::string Sha256Of(std::string_view bytes);

// True when the two digests are equal ignoring ASCII letter case.
bool DigestsMatch(const std::wstring& a, const std::wstring& b) noexcept;
