#pragma once
// Fetching from a release's server over HTTPS for `check --base-url` and
// `diff`: the installer's session (OpenHttpSession) and its GET and body loop,
// with failures named in English. Main thread only; blocking.
#include <cstdint>
#include <string>


#include "common/winhttp_handle.h"
#include "tools/range_answer.h"
#include "transfer/http_request.h"

// The installer's session (OpenHttpSession), watched for certificate faults
// (tools/request_failure.h). Throws what OpenHttpSession throws.
WinHttpHandle OpenReleaseSession();

// The failures below are std::runtime_error with an English text: a failed
// connection or read names its cause (DescribeRequestFailure), a status that
// is not accepted reads "HTTP status <n>".

struct DownloadedFile {
  std::uint64_t size = 0;
  std::wstring sha256;  // 64 lower-case hex digits
};

// GETs `url` (no Range header) into a temporary file that is deleted again,
// and returns the length and the SHA-256 of the body. Statuses other than 200
// and 206 (the ones the installer takes for a new file) are refused. Also
// throws a message about the temporary file.
DownloadedFile DownloadAndDigest(HINTERNET session, const std::wstring& url);

// GETs `range` of `url`, as the installer does to resume a download
// ("bytes=<first>-") or to fetch blocks ("bytes=<first>-<last>"), and returns
// the status, the Content-Range and the body's length whatever they are; a
// body that breaks off is noted in the answer. Throws only when no answer
// comes.
RangeAnswer AskForRange(HINTERNET session, const std::wstring& url, ByteRange range);

// GETs a manifest (or its signature file) at `url`: status 200 and at most
// `max_bytes`, as the installer accepts it; returns the body unchanged.
std::string DownloadManifestText(HINTERNET session, const std::wstring& url,
                                 std::size_t max_bytes);
