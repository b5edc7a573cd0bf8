#pragma once
// SHA-256 of a whole file with CNG. Called on the worker thread (and by the
// publisher tool); no shared state.
#include <string>
#include <string_view>

// Returns 64 lower-case hex characters. Reads with a 1 MiB buffer and share
// mode read|write|delete. Throws std::runtime_error with:
//   "SHA-256 indisponivel no Windows."  "Falha ao iniciar SHA-256."
//   "Nao foi possivel validar um arquivo baixado." (cannot open)
//   "Falha durante SHA-256."  "Falha ao finalizar SHA-256."
// A read error ends the digest early without a message of its own.
std::wstring ComputeFileSha256(const std::wstring& path);

// The 32 raw bytes of the SHA-256 of `bytes` (at most 4 GiB). Throws the
// messages above but the one about opening a file.
std::string Sha256Of(std::string_view bytes);

// True when the two digests are equal ignoring ASCII letter case.
bool DigestsMatch(const std::wstring& a, const std::wstring& b) noexcept;
