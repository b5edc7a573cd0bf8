#pragma once
// CNG algorithm providers, hash objects and keys, over UniqueHandle.
#include <windows.h>
#include <bcrypt.h>

#include "common/unique_handle.h"

inline void CloseBcryptAlgorithm(BCRYPT_ALG_HANDLE handle) noexcept {
  ::BCryptCloseAlgorithmProvider(handle, 0);
}

using BcryptAlgorithmHandle = UniqueHandle<HandleTraits<BCRYPT_ALG_HANDLE, CloseBcryptAlgorithm>>;
using BcryptHashHandle = UniqueHandle<HandleTraits<BCRYPT_HASH_HANDLE, ::BCryptDestroyHash>>;
using BcryptKeyHandle = UniqueHandle<HandleTraits<BCRYPT_KEY_HANDLE, ::BCryptDestroyKey>>;
