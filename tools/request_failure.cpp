#include "tools/request_failure.h"

#include <stdexcept>

#include "common/crypt32_handles.h"
#include "common/filesystem_error.h"
#include "common/winhttp_handle.h"
#include "transfer/http_request.h"

namespace {

// WINHTTP_CALLBACK_STATUS_FLAG_* of the last secure-failure notification.
DWORD secure_failure_flags = 0;

void CALLBACK OnStatus(HINTERNET, DWORD_PTR, DWORD status, LPVOID information, DWORD length) {
  if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && information &&
      length >= sizeof(DWORD)) {
    secure_failure_flags |= *static_cast<const DWORD*>(information);
  }
}

constexpr char kNotTrusted[] =
    "the server's certificate is not trusted (its issuer is not a trusted root on this "
    "machine; a self-signed or private CA must be trusted first)";
constexpr char kOtherHost[] = "the server's certificate is issued for another host name";
constexpr char kExpired[] = "the server's certificate has expired (or is not valid yet)";

constexpr char kHandshakeFailed[] = "the TLS handshake with the server failed";

// The certificate of the server of `url`, judged as WinHTTP judges it for the
// URL's host: the cause, or nothing when the certificate cannot be read or is
// found sound. The handshake of this one connection is told not to stop at the
// certificate's faults, so that the certificate can be read at all; the request
// is closed unanswered and nothing from this connection is ever used.
std::string InspectServerCertificate(HINTERNET session, const std::wstring& url) {
  ParsedUrl parsed;
  try {
    parsed = ParseUrl(url);
  } catch (const std::runtime_error&) {
    return {};
  }
  WinHttpHandle connection(::WinHttpConnect(session, parsed.host.c_str(), parsed.port, 0));
  if (!connection) return {};
  WinHttpHandle request(::WinHttpOpenRequest(connection.get(), L"HEAD", L"/", nullptr,
                                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                             WINHTTP_FLAG_SECURE));
  if (!request) return {};
  DWORD inspect_only = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                       SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                       SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
  if (!::WinHttpSetOption(request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &inspect_only,
                          sizeof inspect_only) ||
      !::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
    return {};
  }
  PCCERT_CONTEXT raw = nullptr;
  DWORD size = sizeof raw;
  if (!::WinHttpQueryOption(request.get(), WINHTTP_OPTION_SERVER_CERT_CONTEXT, &raw, &size)) {
    return {};
  }
  CertContext certificate(raw);
  request.reset();  // no answer is read

  CERT_CHAIN_PARA chain_para{};
  chain_para.cbSize = sizeof chain_para;
  PCCERT_CHAIN_CONTEXT raw_chain = nullptr;
  if (!::CertGetCertificateChain(nullptr, certificate.get(), nullptr,
                                 certificate.get()->hCertStore, &chain_para, 0, nullptr,
                                 &raw_chain)) {
    return {};
  }
  CertChain chain(raw_chain);
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.pwszServerName = parsed.host.data();
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy,
                                          &status)) {
    return {};
  }
  switch (static_cast<HRESULT>(status.dwError)) {
    case S_OK:
      return {};
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_CHAINING:
    case TRUST_E_CERT_SIGNATURE:
      return kNotTrusted;
    case CERT_E_CN_NO_MATCH:
      return kOtherHost;
    case CERT_E_EXPIRED:
    case CERT_E_VALIDITYPERIODNESTING:
      return kExpired;
    case CERT_E_REVOKED:
      return "the server's certificate has been revoked";
    case CERT_E_WRONG_USAGE:
      return "the server's certificate is not meant for a TLS server";
    default:
      return {};
  }
}

std::string SecureFailure(DWORD flags) {
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA) return kNotTrusted;
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID) return kOtherHost;
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID) return kExpired;
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED) {
    return "the server's certificate has been revoked";
  }
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED) {
    return "the revocation of the server's certificate could not be checked";
  }
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_WRONG_USAGE) {
    return "the server's certificate is not meant for a TLS server";
  }
  return {};
}

}  // namespace

void WatchSecureFailures(HINTERNET session) {
  ::WinHttpSetStatusCallback(session, OnStatus, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);
}

void ForgetSecureFailure() { secure_failure_flags = 0; }

std::string DescribeRequestFailure(DWORD winhttp_error, HINTERNET session,
                                   const std::wstring& url) {
  switch (winhttp_error) {
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CERT: {
      std::string cause = SecureFailure(secure_failure_flags);
      if (cause.empty()) cause = InspectServerCertificate(session, url);
      return cause.empty() ? kHandshakeFailed : cause;
    }
    case ERROR_WINHTTP_SECURE_INVALID_CA:
      return kNotTrusted;
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
      return kOtherHost;
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
      return kExpired;
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
      return "the server's certificate has been revoked";
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
      return "the server's certificate is not meant for a TLS server";
    case ERROR_WINHTTP_CANNOT_CONNECT:
      return "the connection was refused (no server listens on that host and port)";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      return "the host name was not resolved";
    case ERROR_WINHTTP_TIMEOUT:
      return "the server did not answer in time";
    case ERROR_WINHTTP_CONNECTION_ERROR:
      return "the connection was reset by the server";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
      return "the server's answer is not valid HTTP";
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
      return "the URL is not valid";
    default:
      break;
  }
  ::SetLastError(winhttp_error);
  return "WinHTTP error " + std::to_string(winhttp_error) + " (" + LastErrorText() + ")";
}
