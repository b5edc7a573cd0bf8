#include "tests/support/test_release.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>

#include "tests/support/test_servers.h"
#include "tests/support/test_support.h"

namespace lbtest {

ReleaseFile FileWithBytes(const std::string& path, std::string bytes, const std::string& url_prefix) {
  ReleaseFile file{path, std::move(bytes), {}, url_prefix + UrlPath(path)};
  file.hash = ReferenceSha256(file.bytes);
  EXPECT_EQ(file.hash.size(), 64u) << "no reference digest for " << path;
  return file;
}

ReleaseFile MakeFile(const std::string& path, std::size_t size, std::uint32_t seed,
                     const std::string& url_prefix) {
  // The same bytes come back in many cases: their digest is taken once.
  static std::map<std::pair<std::size_t, std::uint32_t>, ReleaseFile> made;
  auto it = made.find({size, seed});
  if (it == made.end()) it = made.emplace(std::pair(size, seed), FileWithBytes("", RandomBytes(size, seed), "")).first;
  ReleaseFile file = it->second;
  file.path = path;
  file.url = url_prefix + UrlPath(path);
  return file;
}

std::string StandIn(const char* program) {
  return ReadFileBytes(BuildDir() + L"\\stand-ins\\" + Widen(program));
}

ReleaseFile StandInFile(const char* program, const std::string& path, const std::string& url_prefix) {
  return FileWithBytes(path, StandIn(program), url_prefix);
}

std::wstring InFolder(const std::wstring& folder, const std::string& path) {
  std::wstring result = folder + L"\\" + Widen(path);
  for (wchar_t& c : result) c = (c == L'/') ? L'\\' : c;
  return result;
}

void WriteRelease(const std::wstring& folder, const std::vector<ReleaseFile>& files) {
  for (const ReleaseFile& file : files) WriteFileBytes(InFolder(folder, file.path), file.bytes);
}

void PublishFile(const TestServer& server, const ReleaseFile& file) {
  if (file.url.empty() || file.url[0] != '/') return;
  const std::string encoded = file.url.substr(1, file.url.find('?') - 1);
  std::string relative;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == '%' && i + 2 < encoded.size()) {
      relative += static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      relative += encoded[i];
    }
  }
  WriteFileBytes(InFolder(server.Root(), relative), file.bytes);  // UTF-8 names
  if (!file.block_list.empty()) {
    WriteFileBytes(InFolder(server.Root(), relative + ".lbblocks"), file.block_list);
  }
}

void PublishManifest(const TestServer& server, const std::string& manifest) {
  server.PutFile(std::string(kManifestPath).substr(1), manifest);
}

void Publish(const TestServer& server, const Release& release) {
  for (const ReleaseFile& file : release.files) PublishFile(server, file);
  PublishFile(server, release.updater);
  PublishManifest(server, release.ManifestJson());
}

}  // namespace lbtest
