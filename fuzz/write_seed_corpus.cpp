// Writes the seed corpus of the fuzz targets: every document of the manifest
// test table, and the paths of the path rule's edge cases and hostile forms.
// Usage: write_seed_corpus <corpus dir>  (creates manifest/ and manifest_path/)
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/manifest/manifest_cases.h"

namespace {

void Write(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", file.string().c_str());
    std::exit(1);
  }
}

// UTF-16LE form for the path target (marked by a leading 0xFF byte).
std::string Utf16Seed(const std::u16string& text) {
  std::string bytes(1, '\xFF');
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

std::vector<std::string> PathSeeds() {
  std::vector<std::string> seeds = {
      "LanternbrookEmulator.exe", "data/maps/a.bin", "data\\maps/a.bin", "a/./b", "a//b",
      "x/../y", "a/b/", "a..b", "ab:c", "x/C:y", "...", ". .", "a/...", "a/ ../b", "CON",
      "nul.txt", "a:b", "caf\xC3\xA9/\xE2\x82\xAC.txt", "\xF0\x9F\x98\x80/x", "a/.install-staging/x",
      "../y", "a/../../y", "..", ".", "a/..", "a/b/../..", "a/b/../../..", "a\\..\\..", "/y", "\\y",
      "/", "//", "C:", "C:y", "C:/y", "c:\\y", "C:..", "C:\\..\\..", "./C:y", "\\\\server\\share\\y",
      "//server/share/y", "\\\\server", "\\\\server\\..\\x", "\\\\", "\\\\\\x", "\\\\?\\C:\\x",
      "\\\\.\\pipe\\x", "\\??\\C:\\x", "//?/C:/x", "/?" "?/x", ".install-staging/a.part",
      ".INSTALL-STAGING./x", ".install-staging . /x", "./.install-staging", "x/../.install-staging/y",
  };
  std::string deep;
  for (int i = 0; i < 150; ++i) deep += "a/";
  seeds.push_back(deep + "b");
  std::string climb = deep;
  for (int i = 0; i < 151; ++i) climb += "../";
  seeds.push_back(climb + "b");
  return seeds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: write_seed_corpus <corpus dir>\n");
    return 2;
  }
  const std::filesystem::path root = argv[1];
  const std::filesystem::path manifests = root / "manifest";
  const std::filesystem::path paths = root / "manifest_path";
  std::filesystem::create_directories(manifests);
  std::filesystem::create_directories(paths);

  int written = 0;
  for (const manifest_cases::ManifestCase& c : manifest_cases::ManifestCases()) {
    Write(manifests / (std::string(c.name) + ".json"), manifest_cases::Document(c));
    ++written;
  }
  Write(manifests / "large_40_entries.json", manifest_cases::LargeManifestJson(40, 0));
  ++written;

  const std::vector<std::string> seeds = PathSeeds();
  for (std::size_t i = 0; i < seeds.size(); ++i) {
    Write(paths / ("utf8_" + std::to_string(100 + i).substr(1) + ".txt"), seeds[i]);
    ++written;
  }
  const std::u16string wide[] = {u"..\\y", u"C:y", u"a/\xD800/b", u"\xDC00", u"\xFF0F..\xFF0Fy",
                                 u"a\x2215..\x2215" u"b", u".install-staging\x3000/x"};
  for (std::size_t i = 0; i < std::size(wide); ++i) {
    Write(paths / ("utf16_" + std::to_string(i) + ".bin"), Utf16Seed(wide[i]));
    ++written;
  }
  std::printf("%d seed files in %s\n", written, root.string().c_str());
  return 0;
}
