#include "tools/release_make.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/filesystem_error.h"
#include "common/paths.h"
#include "common/text.h"
#include "finish/file_digest.h"
#include "manifest/manifest_download.h"
#include "manifest/update_manifest.h"
#include "tools/console_output.h"
#include "tools/release_errors.h"
#include "tools/release_folder.h"
#include "tools/release_manifest.h"
#include "tools/release_signing.h"
#include "tools/release_text.h"
#include "transfer/block_list.h"
#include "transfer/file_blocks.h"
#include "transfer/file_url.h"
#include "transfer/manifest_path.h"
#include "transfer/path_collisions.h"

namespace {

// Stands in for a digest while the manifest's length is measured: every
// digest is written as 64 hex digits, so the length is already final.
const std::string kDigestPlaceholder(64, '0');

// One file of the folder on its way into the manifest.
struct Candidate {
  const ReleaseFolderFile* disk = nullptr;
  ManifestFile entry;
};

std::string ManifestPathOf(const std::wstring& relative) {
  std::string path = WideToUtf8(relative);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

// Names (files and the folders above them) that Windows would take for the
// same one, because they differ only in letter case: the installer's
// same-file rule (names with trailing dots or blanks are refused earlier).
class LetterCaseClashes {
 public:
  void Add(const std::wstring& relative, std::vector<std::string>& problems) {
    for (std::size_t end = relative.find(L'\\'); ; end = relative.find(L'\\', end + 1)) {
      std::wstring name = relative.substr(0, end);
      const std::wstring key = SameFileKey(name);
      auto [it, added] = seen_.emplace(key, name);
      if (!added && it->second != name && reported_.emplace(key).second) {
        problems.push_back(ManifestPathOf(it->second) + " and " + ManifestPathOf(name) +
                           ": the names differ only in letter case; Windows keeps one of them");
      }
      if (end == std::wstring::npos) break;
    }
  }

 private:
  std::map<std::wstring, std::wstring> seen_;
  std::set<std::wstring> reported_;
};

// The per-file rules. Returns false (and adds the reasons) when the file
// cannot be listed.
bool Admit(Candidate& candidate, const std::string& url_base, bool blocks,
           std::vector<std::string>& problems) {
  const std::wstring& relative = candidate.disk->relative;
  if (std::size_t bad = FindUnreadableNameChar(relative); bad != std::wstring::npos) {
    const char* what = relative[bad] == 0xFFFD
                           ? "it holds U+FFFD, which stands for bytes that were not valid text"
                           : "it holds an unpaired UTF-16 surrogate";
    std::string shown = DescribeName(relative);
    for (char& c : shown) {
      if (c == '\\') c = '/';
    }
    problems.push_back(shown + ": the name is not valid UTF-8 (" + what + ")");
    return false;
  }
  ManifestFile& entry = candidate.entry;
  entry.path = ManifestPathOf(relative);
  bool admitted = true;
  try {
    std::wstring normalized = NormalizeManifestPath(entry.path);
    if (normalized != relative) {
      problems.push_back(entry.path + ": the installer would install it as " +
                         WideToUtf8(normalized));
      admitted = false;
    }
  } catch (const std::runtime_error& error) {
    problems.push_back(entry.path + ": the installer refuses this path (" + error.what() + ")");
    admitted = false;
  }
  if (candidate.disk->size == 0) {
    problems.push_back(entry.path + ": empty file (a size of 0 cannot be listed in a manifest)");
    admitted = false;
  }
  entry.size = candidate.disk->size;
  entry.hash = kDigestPlaceholder;
  entry.url = FileUrlFor(url_base, entry.path);
  if (blocks && entry.size >= BlockListMinSize) {
    entry.blocks = BlockListEntry{FileUrlFor(url_base, entry.path + WideToUtf8(BlockListSuffix)),
                                  kDigestPlaceholder, MaxBlockListSize(entry.size)};
  }
  try {
    ResolveFileUrl(entry.url);
  } catch (const std::runtime_error& error) {
    problems.push_back(entry.path + ": the installer refuses its url " + entry.url + " (" +
                       error.what() + ")");
    admitted = false;
  }
  return admitted;
}

[[noreturn]] void Refuse(const std::vector<std::string>& problems) {
  std::string text;
  for (const std::string& problem : problems) {
    if (!text.empty()) text += '\n';
    text += problem;
  }
  throw ReleaseRefusal(text);
}

// The file's block list, beside it; its size and digest into the entry.
void WriteBlockList(Candidate& candidate) {
  const ReleaseFolderFile& disk = *candidate.disk;
  std::string list;
  try {
    list = SerializeBlockList(MakeBlockList(disk.path));
  } catch (const std::runtime_error& error) {
    throw ReleaseRefusal(candidate.entry.path + ": cannot read the file (" + error.what() + ")");
  }
  const std::wstring path = disk.path + BlockListSuffix;
  WriteReplacing(path, list, "the block list");
  candidate.entry.blocks->size = list.size();
  candidate.entry.blocks->hash = WideToUtf8(ComputeFileSha256(path));
}

void DigestInto(Candidate& candidate) {
  const ReleaseFolderFile& disk = *candidate.disk;
  std::wstring digest;
  try {
    digest = ComputeFileSha256(disk.path);
  } catch (const std::runtime_error& error) {
    throw ReleaseRefusal(candidate.entry.path + ": cannot read the file (" + error.what() + ")");
  }
  if (RegularFileSize(disk.path) != disk.size) {
    throw ReleaseRefusal(candidate.entry.path + ": the file changed while it was read");
  }
  candidate.entry.hash = WideToUtf8(digest);
  if (candidate.entry.blocks) WriteBlockList(candidate);
}

}  // namespace

int RunMake(const MakeCommand& command) {
  // A key that cannot be read stops the run before anything is written.
  std::optional<ReleaseKeyFile> sign_key;
  if (!command.sign_key.empty()) sign_key = ReadPrivateKey(command.sign_key);
  std::wstring folder = AbsolutePath(command.folder);
  std::wstring output =
      command.output.empty() ? JoinPath(folder, L"manifest.json") : AbsolutePath(command.output);
  std::vector<ReleaseFolderFile> disk_files = ListReleaseFolder(folder, {output, output + L".tmp"});
  // Problems are reported in the order of the names on disk.
  std::sort(disk_files.begin(), disk_files.end(),
            [](const ReleaseFolderFile& a, const ReleaseFolderFile& b) {
              return a.relative < b.relative;
            });

  std::vector<std::string> problems;
  std::vector<Candidate> candidates;
  std::optional<Candidate> updater;
  std::vector<std::wstring> updater_lookalikes;
  LetterCaseClashes clashes;
  for (const ReleaseFolderFile& disk : disk_files) {
    if (disk.relative.ends_with(BlockListSuffix)) continue;  // block lists: written below
    Candidate candidate{&disk, {}};
    if (!Admit(candidate, command.url_base, command.blocks, problems)) continue;
    clashes.Add(disk.relative, problems);
    if (candidate.entry.path == BootstrapUpdaterName) {
      updater = std::move(candidate);
    } else {
      if (disk.relative.find(L'\\') == std::wstring::npos &&
          SameFileKey(disk.relative) == SameFileKey(Utf8ToWide(BootstrapUpdaterName))) {
        updater_lookalikes.push_back(disk.relative);
      }
      candidates.push_back(std::move(candidate));
    }
  }
  if (!updater) {
    std::string problem = std::string(BootstrapUpdaterName) +
                          " is missing at the top of the release folder " + DescribeName(folder);
    for (const std::wstring& lookalike : updater_lookalikes) {
      problem += " (found " + DescribeName(lookalike) + ": the name must be written exactly so)";
    }
    problems.push_back(problem);
  }
  if (candidates.empty() && problems.empty()) {
    problems.push_back(DescribeName(folder) + ": holds no file besides " + BootstrapUpdaterName +
                       " (the installer needs at least one)");
  }
  if (!problems.empty()) Refuse(problems);

  // std::string orders its bytes as unsigned char: UTF-8 byte order, so the
  // same folder always gives the same manifest.
  std::sort(candidates.begin(), candidates.end(),
            [](const Candidate& a, const Candidate& b) { return a.entry.path < b.entry.path; });
  UpdateManifest manifest;
  manifest.version = command.version;
  manifest.build = command.build;
  for (const Candidate& candidate : candidates) manifest.files.push_back(candidate.entry);
  manifest.total_size = SumOfSizes(manifest.files);
  manifest.bootstrap_updater = updater->entry;

  std::size_t length = WriteManifestJson(manifest).size();
  if (length > MaxManifestBytes) {
    Refuse({DescribeName(output) + ": the manifest would be " + std::to_string(length) +
            " bytes, more than the installer accepts (" + std::to_string(MaxManifestBytes) +
            " bytes); list fewer files or use a shorter --url-base"});
  }

  for (std::size_t i = 0; i < candidates.size(); ++i) {
    DigestInto(candidates[i]);
    manifest.files[i] = candidates[i].entry;
  }
  DigestInto(*updater);
  manifest.bootstrap_updater = updater->entry;

  std::string text = WriteManifestJson(manifest);
  try {
    JsonCursor cursor{text.data(), text.data() + text.size()};
    ParseManifest(cursor);
  } catch (const std::runtime_error& error) {
    throw ReleaseRefusal(DescribeName(output) +
                         ": the installer's parser refuses the manifest written: " + error.what());
  }
  WriteReplacing(output, text, "the manifest");
  std::string signed_by;
  if (sign_key) {
    const ReleaseSignature signature = SignManifestBytes(text, *sign_key);
    WriteReplacing(output + L".sig", ReleaseSignaturesHeader() + FormatReleaseSignature(signature),
                   "the signature file");
    signed_by = ", signed by key " + HexOf(signature.key_id);
  }

  WriteStdout("wrote " + DescribeName(output) + ": version " + manifest.version + ", build " +
              std::to_string(manifest.build) + ", " + std::to_string(manifest.files.size()) +
              " files, " + std::to_string(manifest.total_size) + " bytes, bootstrap_updater " +
              std::to_string(manifest.bootstrap_updater.size) + " bytes" + signed_by + "\n");
  return ExitSuccess;
}
