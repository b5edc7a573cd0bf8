// Times ParseManifest over the largest manifest the worker accepts: 2 MiB with
// 10,000 entries. Usage: manifest_parse_bench [runs]. Prints the fastest,
// median and mean parse; exits non-zero only when the document does not parse
// into the expected record.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "manifest/update_manifest.h"
#include "tests/manifest/manifest_cases.h"

namespace {

constexpr std::size_t kBytes = 2097152;
constexpr std::size_t kEntries = 10000;
constexpr double kTargetMs = 20.0;

UpdateManifest ParseOnce(const std::string& text) {
  JsonCursor cursor{text.data(), text.data() + text.size()};
  return ParseManifest(cursor);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
  UpdateManifest expected;
  const std::string text = manifest_cases::LargeManifestJson(kEntries, kBytes, &expected);
  try {
    const UpdateManifest parsed = ParseOnce(text);  // warm-up and check
    if (parsed.files.size() != expected.files.size() || parsed.total_size != expected.total_size ||
        parsed.files.back().path != expected.files.back().path) {
      std::fprintf(stderr, "parsed record differs from the document\n");
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "parse failed: %s\n", e.what());
    return 1;
  }

  std::vector<double> ms;
  std::size_t checksum = 0;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const UpdateManifest parsed = ParseOnce(text);
    const auto stop = std::chrono::steady_clock::now();
    checksum += parsed.files.size();
    ms.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
  }
  std::sort(ms.begin(), ms.end());
  double sum = 0;
  for (double m : ms) sum += m;
  const double median = ms[ms.size() / 2];
  std::printf("ParseManifest: %zu bytes, %zu entries, %d runs: fastest %.2f ms, median %.2f ms, "
              "mean %.2f ms (target < %.0f ms: %s)\n",
              text.size(), kEntries, runs, ms.front(), median, sum / ms.size(), kTargetMs,
              median < kTargetMs ? "met" : "missed");
  return checksum == kEntries * static_cast<std::size_t>(runs) ? 0 : 1;
}
