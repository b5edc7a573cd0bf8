// Times the installer's own ComputeFileSha256 on files, in process, so it can
// be set against the bare CNG loop of `ceiling digest` on the same files.
//
//   digest_probe <list>
//     <list>: one line per file, tab-separated: path, SHA-256.
//
// Prints key=value lines: seconds for all files, bytes, files. Exits 1 when
// a digest differs or ComputeFileSha256 throws.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/text.h"
#include "finish/file_digest.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: digest_probe <list>\n");
    return 2;
  }
  try {
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) throw std::runtime_error("cannot read the list");
    std::vector<std::pair<std::wstring, std::wstring>> entries;
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const std::size_t tab = line.find('\t');
      if (tab == std::string::npos) continue;
      entries.emplace_back(Utf8ToWide(line.substr(0, tab)), Utf8ToWide(line.substr(tab + 1)));
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    std::uint64_t bytes = 0;
    for (const auto& [path, hash] : entries) {
      if (!DigestsMatch(ComputeFileSha256(path), hash)) throw std::runtime_error("digest differs");
      WIN32_FILE_ATTRIBUTE_DATA data;
      if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        bytes += (std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
      }
    }
    QueryPerformanceCounter(&end);
    std::printf("digest_s=%.4f\ndigest_bytes=%llu\ndigest_files=%zu\n",
                double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart),
                static_cast<unsigned long long>(bytes), entries.size());
    return 0;
  } catch (const std::exception& failure) {
    std::printf("error=%s\n", failure.what());
    return 1;
  }
}
