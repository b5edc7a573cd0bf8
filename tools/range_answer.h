#pragma once
// What a server answers to the installer's resume request, and whether the
// installer can resume with it. Pure code (no <windows.h>); thread-safe.
#include <cstdint>
#include <optional>
#include <string>

// The answer to "Range: bytes=<first>-" or "Range: bytes=<first>-<last>".
struct RangeAnswer {
  std::uint32_t status = 0;
  std::string content_range;  // the Content-Range header, empty when absent
  std::uint64_t body_bytes = 0;  // received before the end or the failure
  std::string read_failure;      // why reading the body failed; empty when it ended well
};

// Empty when `answer` gives the installer the bytes of a file of `size` bytes
// from `first` to `last` (to its end without `last`): a 206 whose
// Content-Range is "bytes <first>-<last>/<size>" (the total may be "*";
// "bytes" in any letter case) and whose body has exactly that many bytes, read
// to its end. Otherwise what came back, for the publisher: "200 (the whole
// file) to Range: bytes=<first>-[<last>]", "416 to ...", "206 with
// Content-Range \"...\" to ...", "206 with <n> bytes to ..., expected <m>",
// "206 to ...: the body broke off after <n> bytes: <why>".
std::string RangeProblem(const RangeAnswer& answer, std::uint64_t first,
                         std::optional<std::uint64_t> last, std::uint64_t size);
