#pragma once
// Why a request of the publisher tool failed, in English: the installer's own
// messages say only that the network failed, while a publisher needs the
// cause (certificate not trusted, issued for another host, expired, connection
// refused, name not resolved...). Main thread only.
#include <string>

#include <windows.h>
#include <winhttp.h>

// Watches the tool's session for the secure-failure notification, which
// carries the certificate's faults when WinHTTP fails a request with
// ERROR_WINHTTP_SECURE_FAILURE. Call once, right after WinHttpOpen.
void WatchSecureFailures(HINTERNET session);

// Forgets the faults noted so far; call before each request.
void ForgetSecureFailure();

// The cause of a failed WinHTTP call: `winhttp_error` is its GetLastError
// value (HttpRequestError::winhttp_error), read with the certificate faults
// noted since ForgetSecureFailure. Windows reports certificate faults as
// ERROR_WINHTTP_SECURE_FAILURE plus notification flags, or as a specific
// ERROR_WINHTTP_SECURE_* code. Wine's WinHTTP reports every refused
// certificate as ERROR_WINHTTP_SECURE_CHANNEL_ERROR without flags; then, and
// when the flags name no fault, the certificate of `url`'s server is fetched
// on a connection of `session` made for that purpose and judged with the
// system's SSL chain policy (see InspectServerCertificate). Unknown codes are
// named by their number and system text.
std::string DescribeRequestFailure(DWORD winhttp_error, HINTERNET session,
                                   const std::wstring& url);
