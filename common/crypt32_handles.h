#pragma once
// A certificate, and a certificate chain built by CertGetCertificateChain
// (crypt32), over UniqueHandle.
#include <windows.h>
#include <wincrypt.h>

#include "common/unique_handle.h"

using CertContext = UniqueHandle<HandleTraits<PCCERT_CONTEXT, ::CertFreeCertificateContext>>;
using CertChain = UniqueHandle<HandleTraits<PCCERT_CHAIN_CONTEXT, ::CertFreeCertificateChain>>;
