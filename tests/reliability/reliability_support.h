#pragma once
// Shared pieces of the reliability tests: releases with known bytes served by
// the test servers, runs of the installer (the real executable or the worker
// in this process), an audit of the application folder against the releases,
// listings of whole folder trees taken on the host, a tmpfs mounted for one
// test, and the result lines that scripts/reliability turns into its table.
//
// Everything here runs on the test's main thread, inside Wine.
#include <windows.h>

#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/support/expected_texts.h"
#include "tests/support/installer_run.h"
#include "tests/support/test_release.h"
#include "tests/support/test_servers.h"
#include "tests/support/test_support.h"

namespace lbrel {

namespace texts = lbtest::texts;

// --- run mode, seeds and result lines ---------------------------------------

// LB_RELIABILITY_MODE=full asks for the long form (more kills and cases).
bool FullRun();
int Scaled(int bounded, int full);

// LB_RELIABILITY_SEED when set, otherwise a fresh random seed; printed either way.
std::uint32_t Seed(const char* what);

// Appends "<class>\t<case>\t<survived>\t<lost>\t<note>" to ResultsFile().
void RecordCase(const std::string& fault_class, const std::string& name, bool survived,
                bool data_lost, const std::string& note = {});
std::wstring ResultsFile();  // test-run\reliability\results.tsv
// Appends one line of measured figures to test-run\reliability\figures.txt.
void RecordFigures(const std::string& text);

// Failed assertions of the running test so far (to judge one case among many).
int FailedParts();

// --- releases -----------------------------------------------------------------

using lbtest::FileWithBytes;
using lbtest::JsonString;
using lbtest::kManifestPath;
using lbtest::MakeFile;
using lbtest::Publish;
using lbtest::PublishManifest;
using lbtest::Release;
using lbtest::ReleaseFile;

// Writes `release` into `app_dir` as a finished earlier installation would
// have left it: every file, the updater's copy and version.json.
void InstallDirectly(const std::wstring& app_dir, const Release& release);

// app_dir\.install-staging\<path>.part: where a run keeps a file it downloads.
std::wstring StagedPart(const std::wstring& app_dir, const std::string& path);

// --- runs of the installer ------------------------------------------------------

struct Outcome {
  bool finished = false;  // the run reported its end
  bool success = false;
  std::wstring text;      // the completion text
  std::string Text() const;
};

using lbtest::InstallerExe;

// The real executable with --app-dir, --no-shortcut and --no-launch; the
// message box it shows is read and dismissed, a failed window is closed.
Outcome RunInstallerExe(const std::wstring& app_dir, DWORD timeout_ms = 180000,
                        const std::wstring& exe = InstallerExe());
std::vector<std::wstring> InstallerArguments(const std::wstring& app_dir);
// The same for a run already started: waits for its outcome and its end.
Outcome AwaitOutcome(lbtest::InstallerRun& run, DWORD timeout_ms = 180000);

// The worker in this process (RunInstallationWithArguments) with the same
// options plus --quiet, posting to a message sink.
Outcome RunWorker(const std::wstring& app_dir, DWORD timeout_ms = 180000);

// --- the application folder -------------------------------------------------------

// What an audit of the application folder found.
struct Audit {
  std::vector<std::string> problems;  // anything unverified or unexpected
  bool data_lost = false;             // a good file destroyed, corrupted or half-replaced
  std::string Describe() const;
};

// Every file under app_dir must be accounted for:
//  - a target of `next` or `previous` holding exactly one of their contents,
//  - a ".part" file under .install-staging that is a prefix of its file in `next`,
//  - version.json (one of the two documents; the new one only when every
//    target holds the new content), version.json.tmp (a prefix of one),
//  - LanternbrookUpdater-v2.exe (an updater of either release) and its ".new"
//    sibling (a prefix of one),
//  - a file of `keep` with exactly its bytes.
// Good files that went missing (a target of `previous`, a file of `keep`)
// count as lost data. `previous` may be null (a fresh installation); one
// without files and updater stands for a folder holding only its version.json.
Audit AuditFolder(const std::wstring& app_dir, const Release& next, const Release* previous,
                  const std::map<std::string, std::string>& keep = {});

// The final state: every file of `next` in place, verified with the host's
// sha256sum against the manifest, the updater's copy and version.json
// present, and no staging folder left.
Audit VerifyInstalled(const std::wstring& app_dir, const Release& next);

// The non-empty pieces of `text` between the `separator`s.
std::vector<std::string> Split(const std::string& text, char separator);

// Regular files under `dir` as the host names them, relative, '/' separated.
std::vector<std::string> ListFiles(const std::wstring& dir);
// Those whose SHA-256 (the host's sha256sum) is `hash`.
std::vector<std::string> FilesWithDigest(const std::wstring& dir, const std::string& hash);

// --- listings of trees on the host -------------------------------------------------

// Path (relative to the root) -> type, size, modification time, of every entry
// under `unix_root`, except the subtrees named in `pruned` (absolute paths).
using Listing = std::map<std::string, std::string>;
Listing ListTree(const std::string& unix_root, const std::vector<std::string>& pruned = {},
                 int max_depth = -1);
// Lines "+ path", "- path", "~ path" for what differs.
std::vector<std::string> Differences(const Listing& before, const Listing& after);

std::string WinePrefix();  // $WINEPREFIX

// --- a small disk -------------------------------------------------------------------

// A tmpfs of `bytes` mounted on `dir` (created) for the lifetime of the
// object; unmounted (lazily when busy) in the destructor, also after a failure.
class TmpfsMount {
 public:
  TmpfsMount(const std::wstring& dir, std::uint64_t bytes);
  ~TmpfsMount();
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;
  bool mounted() const { return mounted_; }
  bool Resize(std::uint64_t bytes);
  std::uint64_t FreeBytes() const;

 private:
  std::string unix_dir_;
  bool mounted_ = false;
};

// --- server logs ---------------------------------------------------------------------

// The start of a "Range: bytes=N-" header; 0 when there is none.
std::uint64_t RangeStart(const std::string& range);

}  // namespace lbrel
