#include "manifest/update_manifest.h"

#include <stdexcept>
#include <string_view>

namespace {

constexpr std::string_view UpdaterPath = "LanternbrookUpdater.exe";

[[noreturn]] void Fail(const char* message) { throw std::runtime_error(message); }

// Keys are compared after escape decoding, byte for byte, length first.
bool KeyIs(const std::string& key, std::string_view name) noexcept {
  return key.size() == name.size() && std::string_view(key) == name;
}

// The object loop shared by the manifest and its file entries: `member` reads
// the value of each member after its key and colon.
template <typename ReadMember>
void ReadJsonObject(JsonCursor& cursor, ReadMember&& member) {
  ExpectJsonChar(cursor, '{');
  for (;;) {
    if (TryJsonChar(cursor, '}')) return;
    const std::string key = ReadJsonString(cursor);
    ExpectJsonChar(cursor, ':');
    member(key);
    if (TryJsonChar(cursor, '}')) return;
    ExpectJsonChar(cursor, ',');
  }
}

bool IsValidFile(const ManifestFile& file) noexcept {
  return !file.path.empty() && !file.url.empty() && file.hash.size() == 64 && file.size != 0;
}

// The members a file entry and its block list share: where it lies, its
// digest and its length. False for any other key.
bool ReadLocation(JsonCursor& cursor, const std::string& key, std::string& url, std::string& hash,
                  std::uint64_t& size) {
  if (KeyIs(key, "hash")) {
    hash = ReadJsonString(cursor);
  } else if (KeyIs(key, "url")) {
    url = ReadJsonString(cursor);
  } else if (KeyIs(key, "size")) {
    size = ReadJsonUnsigned(cursor);
  } else {
    return false;
  }
  return true;
}

// The "blocks" member: an object like a file entry without a path.
BlockListEntry ParseBlockListEntry(JsonCursor& cursor) {
  BlockListEntry entry;
  ReadJsonObject(cursor, [&](const std::string& key) {
    if (!ReadLocation(cursor, key, entry.url, entry.hash, entry.size)) SkipJsonValue(cursor);
  });
  if (entry.url.empty() || entry.hash.size() != 64 || entry.size == 0) {
    Fail("Arquivo incompleto no manifesto.");
  }
  return entry;
}

}  // namespace

ManifestFile ParseManifestFile(JsonCursor& cursor) {
  ManifestFile file;
  ReadJsonObject(cursor, [&](const std::string& key) {
    if (KeyIs(key, "path")) {
      file.path = ReadJsonString(cursor);
    } else if (KeyIs(key, "blocks")) {
      file.blocks = ParseBlockListEntry(cursor);
    } else if (!ReadLocation(cursor, key, file.url, file.hash, file.size)) {
      SkipJsonValue(cursor);
    }
  });
  if (!IsValidFile(file)) Fail("Arquivo incompleto no manifesto.");
  return file;
}

std::vector<ManifestFile> ParseManifestFiles(JsonCursor& cursor) {
  std::vector<ManifestFile> files;
  ExpectJsonChar(cursor, '[');
  for (;;) {
    if (TryJsonChar(cursor, ']')) return files;
    files.push_back(ParseManifestFile(cursor));
    if (TryJsonChar(cursor, ']')) return files;
    ExpectJsonChar(cursor, ',');
  }
}

UpdateManifest ParseManifest(JsonCursor& cursor) {
  UpdateManifest manifest;
  ReadJsonObject(cursor, [&](const std::string& key) {
    if (KeyIs(key, "version")) {
      manifest.version = ReadJsonString(cursor);
    } else if (KeyIs(key, "build")) {
      manifest.build = ReadJsonUnsigned(cursor);
    } else if (KeyIs(key, "total_size")) {
      manifest.total_size = ReadJsonUnsigned(cursor);
    } else if (KeyIs(key, "files")) {
      manifest.files = ParseManifestFiles(cursor);
    } else if (KeyIs(key, "bootstrap_updater")) {
      manifest.bootstrap_updater = ParseManifestFile(cursor);
    } else {
      SkipJsonValue(cursor);
    }
  });
  SkipJsonWhitespace(cursor);
  const ManifestFile& updater = manifest.bootstrap_updater;
  if (cursor.current != cursor.end || manifest.version.empty() || manifest.build == 0 ||
      manifest.files.empty() || updater.path != UpdaterPath || updater.url.empty() ||
      updater.hash.size() != 64 || updater.size == 0) {
    Fail("Manifesto de atualizacao incompleto.");
  }
  return manifest;
}
