#include "tools/release_check.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/paths.h"
#include "common/text.h"
#include "finish/file_digest.h"
#include "manifest/manifest_download.h"
#include "manifest/manifest_signature.h"
#include "manifest/update_manifest.h"
#include "tools/console_output.h"
#include "tools/manifest_input.h"
#include "tools/release_download.h"
#include "tools/release_errors.h"
#include "tools/release_make.h"
#include "tools/release_manifest.h"
#include "tools/release_signing.h"
#include "tools/release_text.h"
#include "transfer/file_url.h"
#include "transfer/manifest_path.h"
#include "transfer/path_collisions.h"

namespace {

// Manifest text for a message: as it is when it is UTF-8, with \xHH for the
// bytes above 0x7F otherwise.
std::string Shown(const std::string& text) {
  try {
    Utf8ToWide(text);
    return text;
  } catch (const std::runtime_error&) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string shown;
    for (unsigned char c : text) {
      if (c < 0x80) {
        shown += static_cast<char>(c);
      } else {
        shown += "\\x";
        shown += kHex[c >> 4];
        shown += kHex[c & 0xF];
      }
    }
    return shown;
  }
}

// The manifest's hash against a computed digest, ignoring letter case as the
// installer does. A hash that is not even UTF-8 matches nothing.
bool SameDigest(const std::string& hash, const std::wstring& digest) {
  try {
    return DigestsMatch(Utf8ToWide(hash), digest);
  } catch (const std::runtime_error&) {
    return false;
  }
}

// Where the size and the digest of an entry come from.
class Source {
 public:
  explicit Source(const CheckCommand& command) : command_(command) {
    if (!command.folder.empty()) {
      folder_ = ExtendedPath(command.folder);
      if (!IsFolder(folder_)) throw ReleaseRefusal(DescribeName(command.folder) + ": not a folder");
    } else {
      session_ = OpenReleaseSession();
    }
  }

  std::string Description() const {
    return command_.folder.empty() ? command_.base_url : DescribeName(command_.folder);
  }

  // Compares one entry; adds its problems.
  void Check(const ManifestFile& entry, const std::wstring& normalized,
             std::vector<std::string>& problems) {
    std::uint64_t actual_size = 0;
    std::wstring actual_digest;
    std::string origin;  // what was read, for messages
    try {
      if (!folder_.empty()) {
        std::wstring path = JoinPath(folder_, normalized);
        origin = DescribeName(path);
        std::optional<std::uint64_t> size = RegularFileSize(path);
        if (!size) {
          problems.push_back("MISSING  " + Shown(entry.path) + ": no such file in " +
                             Description());
          return;
        }
        actual_size = *size;
        if (actual_size == entry.size) actual_digest = ComputeFileSha256(path);
      } else {
        origin = entry.url.starts_with("https://") ? entry.url : command_.base_url + entry.url;
        std::string resume = ResumeProblem(entry, origin);
        DownloadedFile file = DownloadAndDigest(session_.get(), Utf8ToWide(origin));
        actual_size = file.size;
        actual_digest = file.sha256;
        // Resuming is judged for a file served whole and of the listed size;
        // anything else is reported below for the file itself.
        if (!resume.empty() && file.size == entry.size) {
          problems.push_back("NORANGE  " + Shown(entry.path) + ": " + resume);
        }
      }
    } catch (const std::runtime_error& error) {
      problems.push_back("FAILED   " + Shown(entry.path) + ": " + origin + ": " + error.what());
      return;
    }
    if (actual_size != entry.size) {
      problems.push_back("MISMATCH " + Shown(entry.path) + ": size expected " +
                         std::to_string(entry.size) + ", actual " + std::to_string(actual_size));
    } else if (!SameDigest(entry.hash, actual_digest)) {
      problems.push_back("MISMATCH " + Shown(entry.path) + ": sha256 expected " +
                         Shown(entry.hash) + ", actual " + WideToUtf8(actual_digest));
    }
  }

 private:
  // The installer resumes an interrupted download with "Range: bytes=N-" and
  // fetches the blocks of a file with a block list with "Range: bytes=A-B":
  // asks for the second half of the file, and then for 64 KiB from its middle
  // when it has a block list, as the installer would, and returns what would
  // keep the installer from doing so (empty when nothing). Throws when no
  // answer comes (the connection failed).
  std::string ResumeProblem(const ManifestFile& entry, const std::string& url) {
    const std::uint64_t offset = entry.size / 2;
    if (offset == 0) return {};  // a one-byte file is never resumed
    const std::wstring address = Utf8ToWide(url);
    std::string problem = RangeProblem(
        AskForRange(session_.get(), address, {offset, std::nullopt}), offset, std::nullopt,
        entry.size);
    if (problem.empty() && entry.blocks) {
      const std::uint64_t last = std::min(entry.size - 1, offset + 65535);
      problem = RangeProblem(AskForRange(session_.get(), address, {offset, last}), offset, last,
                             entry.size);
    }
    return problem;
  }

  const CheckCommand& command_;
  std::wstring folder_;
  WinHttpHandle session_;
};

}  // namespace

int RunCheck(const CheckCommand& command) {
  WinHttpHandle manifest_session;
  if (IsManifestAddress(command.manifest)) manifest_session = OpenReleaseSession();
  const std::string manifest_text =
      LoadReleaseText(command.manifest, manifest_session.get(), MaxManifestBytes, "the manifest");
  UpdateManifest manifest = ParseLoadedManifest(command.manifest, manifest_text);

  Source source(command);
  std::vector<std::string> problems;
  // The installer's own refusal of a manifest that names one file twice.
  std::string same_file_refusal;
  try {
    RejectSameFilePaths(manifest);
  } catch (const std::runtime_error& error) {
    same_file_refusal = error.what();
  }
  std::map<std::wstring, std::string> listed;  // SameFileKey of the path -> path
  std::vector<const ManifestFile*> entries;
  for (const ManifestFile& file : manifest.files) entries.push_back(&file);
  entries.push_back(&manifest.bootstrap_updater);
  for (const ManifestFile* entry : entries) {
    std::wstring normalized;
    try {
      normalized = NormalizeManifestPath(entry->path);
      ResolveFileUrl(entry->url);
    } catch (const std::runtime_error& error) {
      problems.push_back("REFUSED  " + Shown(entry->path) + ": the installer refuses it: " +
                         error.what());
      continue;
    }
    auto [it, added] = listed.emplace(SameFileKey(normalized), entry->path);
    if (!added) {
      problems.push_back("TWICE    " + Shown(entry->path) + ": the same file as " +
                         Shown(it->second) + " for Windows; the installer refuses the "
                         "manifest: " + same_file_refusal);
      continue;
    }
    if (std::size_t length = TypicalStagingPathLength(normalized); length > MaxPathCharacters) {
      problems.push_back("LONGPATH " + Shown(entry->path) + ": its staging path would be " +
                         std::to_string(length) + " characters in a typical installation, more "
                         "than " + std::to_string(MaxPathCharacters) + " (C:\\Users\\<20 "
                         "characters>\\Desktop\\Lanternbrook\\.install-staging\\<path>.part)");
    }
    source.Check(*entry, normalized, problems);
    if (entry->blocks) {
      // The block list is checked like a file: in a folder where make writes
      // it (beside the file), on a server at its own url.
      const ManifestFile list{entry->path + WideToUtf8(BlockListSuffix), entry->blocks->hash,
                              entry->blocks->url, entry->blocks->size, std::nullopt};
      try {
        ResolveFileUrl(list.url);
      } catch (const std::runtime_error& error) {
        problems.push_back("REFUSED  " + Shown(list.path) + ": the installer refuses it: " +
                           error.what());
        continue;
      }
      source.Check(list, normalized + BlockListSuffix, problems);
    }
  }
  std::uint64_t sum = SumOfSizes(manifest.files);
  if (manifest.total_size != sum) {
    problems.push_back("MISMATCH total_size: expected " + std::to_string(sum) +
                       " (the sum of the files' sizes), actual " +
                       std::to_string(manifest.total_size));
  }

  std::string signed_by;
  if (!command.public_key.empty()) {
    const std::string key_text = ReadToolFile(command.public_key, 65536, "the public key");
    ReleaseKeyFile key;
    try {
      key = LoadReleasePublicKey(key_text);
    } catch (const std::runtime_error& error) {
      throw ReleaseRefusal(DescribeName(command.public_key) +
                           ": not a public key file of lanternbrook-release keygen: " +
                           error.what());
    }
    const std::wstring signature_location = command.manifest + L".sig";
    std::optional<std::string> signatures;
    try {
      signatures = LoadReleaseText(signature_location, manifest_session.get(),
                                   MaxSignatureFileBytes, "the signature file");
    } catch (const ReleaseRefusal& error) {
      problems.push_back(std::string("SIGNATURE ") + error.what());
    }
    if (signatures) {
      const SignatureVerdict verdict = VerifyManifestSignature(manifest_text, *signatures, {key});
      if (verdict.verified) {
        signed_by = ", signed by key " + HexOf(verdict.key_id);
      } else {
        problems.push_back("SIGNATURE " + DescribeName(signature_location) + ": " + verdict.reason);
      }
    }
  }

  for (const std::string& problem : problems) WriteStdout(problem + "\n");
  if (!problems.empty()) {
    WriteStderr("lanternbrook-release: check failed: " + std::to_string(problems.size()) +
                (problems.size() == 1 ? " problem in " : " problems in ") +
                DescribeName(command.manifest) + " against " + source.Description() + "\n");
    return ExitRefused;
  }
  WriteStdout("ok: " + DescribeName(command.manifest) + " (version " + Shown(manifest.version) +
              ", build " + std::to_string(manifest.build) + "): " +
              std::to_string(manifest.files.size()) + " files and " +
              Shown(manifest.bootstrap_updater.path) + ", " +
              std::to_string(sum + manifest.bootstrap_updater.size) + " bytes, match " +
              source.Description() + signed_by + "\n");
  return ExitSuccess;
}
