// Fuzz target: ParseManifest over arbitrary bytes. A returned manifest must be
// valid; a failure must be std::runtime_error carrying one of the fixed texts.
// Anything else (another exception, an unknown text, a cursor outside the
// text, a sanitizer report) aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "manifest/json_reader.h"
#include "manifest/update_manifest.h"
#include "tests/manifest/manifest_cases.h"

namespace {

[[noreturn]] void Finding(const char* what, const char* detail = "") {
  std::fprintf(stderr, "fuzz_manifest finding: %s %s\n", what, detail);
  std::abort();
}

void CheckCursor(const JsonCursor& cursor, const char* begin, const char* end) {
  if (cursor.end != end || cursor.current < begin || cursor.current > end) {
    Finding("cursor left the text");
  }
}

// Runs `parse` and applies the failure contract.
template <typename Parse>
void Exercise(const char* begin, const char* end, Parse&& parse) {
  JsonCursor cursor{begin, end};
  try {
    parse(cursor);
  } catch (const std::runtime_error& e) {
    if (!manifest_cases::IsParseMessage(e.what())) Finding("unexpected message:", e.what());
  } catch (const std::exception& e) {
    Finding("exception other than std::runtime_error:", e.what());
  } catch (...) {
    Finding("non-standard exception");
  }
  CheckCursor(cursor, begin, end);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* begin = reinterpret_cast<const char*>(data);
  const char* end = begin + size;
  Exercise(begin, end, [&](JsonCursor& cursor) {
    const UpdateManifest manifest = ParseManifest(cursor);
    if (!manifest_cases::IsValidManifest(manifest)) Finding("invalid manifest returned");
    if (cursor.current != end) Finding("parse succeeded before the end of the text");
  });
  // The skipper on the same bytes as a top-level value.
  Exercise(begin, end, [](JsonCursor& cursor) { SkipJsonValue(cursor); });
  return 0;
}
