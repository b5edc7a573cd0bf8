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

BlockListEntry ParseBlockListEntry(JsonCursor& cursor);

// One member an object may have: its key and where its value is read into.
template <typename T>
struct Member {
  std::string_view key;
  T& value;
};

void ReadValue(JsonCursor& cursor, std::string& value) { value = ReadJsonString(cursor); }
void ReadValue(JsonCursor& cursor, std::uint64_t& value) { value = ReadJsonUnsigned(cursor); }
void ReadValue(JsonCursor& cursor, ManifestFile& value) { value = ParseManifestFile(cursor); }
void ReadValue(JsonCursor& cursor, std::vector<ManifestFile>& value) {
  value = ParseManifestFiles(cursor);
}
void ReadValue(JsonCursor& cursor, std::optional<BlockListEntry>& value) {
  value = ParseBlockListEntry(cursor);
}

// An object of the manifest: the value of each of `members` is read into its
// place (the last one of a repeated key wins); the value of any other key is
// skipped.
template <typename... T>
void ReadJsonObject(JsonCursor& cursor, Member<T>... members) {
  ExpectJsonChar(cursor, '{');
  for (;;) {
    if (TryJsonChar(cursor, '}')) return;
    const std::string key = ReadJsonString(cursor);
    ExpectJsonChar(cursor, ':');
    const bool known = ((KeyIs(key, members.key) && (ReadValue(cursor, members.value), true)) || ...);
    if (!known) SkipJsonValue(cursor);
    if (TryJsonChar(cursor, '}')) return;
    ExpectJsonChar(cursor, ',');
  }
}

bool IsValidFile(const ManifestFile& file) noexcept {
  return !file.path.empty() && !file.url.empty() && file.hash.size() == 64 && file.size != 0;
}

// The "blocks" member: an object like a file entry without a path.
BlockListEntry ParseBlockListEntry(JsonCursor& cursor) {
  BlockListEntry entry;
  ReadJsonObject(cursor, Member<std::string>{"hash", entry.hash},
                 Member<std::string>{"url", entry.url}, Member<std::uint64_t>{"size", entry.size});
  if (entry.url.empty() || entry.hash.size() != 64 || entry.size == 0) {
    Fail("Arquivo incompleto no manifesto.");
  }
  return entry;
}

}  // namespace

ManifestFile ParseManifestFile(JsonCursor& cursor) {
  ManifestFile file;
  ReadJsonObject(cursor, Member<std::string>{"path", file.path},
                 Member<std::string>{"hash", file.hash}, Member<std::string>{"url", file.url},
                 Member<std::uint64_t>{"size", file.size},
                 Member<std::optional<BlockListEntry>>{"blocks", file.blocks});
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
  ReadJsonObject(cursor, Member<std::string>{"version", manifest.version},
                 Member<std::uint64_t>{"build", manifest.build},
                 Member<std::uint64_t>{"total_size", manifest.total_size},
                 Member<std::vector<ManifestFile>>{"files", manifest.files},
                 Member<ManifestFile>{"bootstrap_updater", manifest.bootstrap_updater});
  SkipJsonWhitespace(cursor);
  const ManifestFile& updater = manifest.bootstrap_updater;
  if (cursor.current != cursor.end || manifest.version.empty() || manifest.build == 0 ||
      manifest.files.empty() || updater.path != UpdaterPath || updater.url.empty() ||
      updater.hash.size() != 64 || updater.size == 0) {
    Fail("Manifesto de atualizacao incompleto.");
  }
  return manifest;
}
