#include "tests/reliability/reliability_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "install/installation_worker.h"
#include "transfer/manifest_path.h"
#include "tests/support/test_support.h"

namespace lbrel {
namespace fs = std::filesystem;
using lbtest::Narrow;
using lbtest::ShellQuote;
using lbtest::Widen;

namespace {

constexpr UINT kCompletionMessage = WM_APP + 2;
constexpr char kUpdaterCopy[] = "LanternbrookUpdater-v2.exe";

std::string Clean(std::string text) {
  if (text.size() > 240) text = text.substr(0, 240) + "...";
  for (char& c : text) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

bool IsPrefixOf(const std::string& part, const std::string& whole) {
  return part.size() <= whole.size() && whole.compare(0, part.size(), part) == 0;
}

bool ReadIfPresent(const std::wstring& path, std::string& bytes) {
  std::ifstream in(fs::path(path), std::ios::binary);
  if (!in) return false;
  std::ostringstream out;
  out << in.rdbuf();
  bytes = out.str();
  return true;
}

}  // namespace

// --- run mode, seeds and result lines ---------------------------------------

bool FullRun() {
  const char* mode = std::getenv("LB_RELIABILITY_MODE");
  return mode && std::string(mode) == "full";
}

int Scaled(int bounded, int full) { return FullRun() ? full : bounded; }

std::uint32_t Seed(const char* what) {
  std::uint32_t seed = 0;
  const char* fixed = std::getenv("LB_RELIABILITY_SEED");
  if (fixed && *fixed) {
    seed = static_cast<std::uint32_t>(std::strtoul(fixed, nullptr, 0));
  } else {
    std::random_device device;
    seed = device();
  }
  std::printf("[ reliability ] %s: seed %u (LB_RELIABILITY_SEED=%u repeats it)\n", what, seed, seed);
  std::fflush(stdout);
  ::testing::Test::RecordProperty("seed", std::to_string(seed));
  return seed;
}

std::wstring ResultsFile() { return lbtest::TestRunDir() + L"\\reliability\\results.tsv"; }

void RecordCase(const std::string& fault_class, const std::string& name, bool survived,
                bool data_lost, const std::string& note) {
  std::error_code ignored;
  fs::create_directories(fs::path(lbtest::TestRunDir() + L"\\reliability"), ignored);
  std::ofstream out(fs::path(ResultsFile()), std::ios::binary | std::ios::app);
  out << Clean(fault_class) << '\t' << Clean(name) << '\t' << (survived ? 1 : 0) << '\t'
      << (data_lost ? 1 : 0) << '\t' << Clean(note) << '\n';
}

void RecordFigures(const std::string& text) {
  std::error_code ignored;
  fs::create_directories(fs::path(lbtest::TestRunDir() + L"\\reliability"), ignored);
  std::ofstream out(fs::path(lbtest::TestRunDir() + L"\\reliability\\figures.txt"),
                    std::ios::binary | std::ios::app);
  out << Clean(text) << '\n';
  std::printf("[ reliability ] %s\n", text.c_str());
  std::fflush(stdout);
}

int FailedParts() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  if (!info) return 0;
  const ::testing::TestResult* result = info->result();
  int failed = 0;
  for (int i = 0; i < result->total_part_count(); ++i) {
    if (result->GetTestPartResult(i).failed()) ++failed;
  }
  return failed;
}

// --- releases -----------------------------------------------------------------

std::wstring StagedPart(const std::wstring& app_dir, const std::string& path) {
  return lbtest::InFolder(app_dir + L"\\" + StagingFolderName, path + ".part");
}

void InstallDirectly(const std::wstring& app_dir, const Release& release) {
  lbtest::WriteRelease(app_dir, release.files);
  lbtest::WriteRelease(app_dir, {release.updater});
  lbtest::WriteFileBytes(lbtest::InFolder(app_dir, kUpdaterCopy), release.updater.bytes);
  lbtest::WriteFileBytes(lbtest::InFolder(app_dir, "version.json"), release.MetadataJson());
}

// --- runs of the installer ------------------------------------------------------

std::string Outcome::Text() const { return Narrow(text); }

std::vector<std::wstring> InstallerArguments(const std::wstring& app_dir) {
  return {L"--app-dir", app_dir, L"--no-shortcut", L"--no-launch"};
}

Outcome RunInstallerExe(const std::wstring& app_dir, DWORD timeout_ms, const std::wstring& exe) {
  lbtest::InstallerRun run(exe, InstallerArguments(app_dir));
  return AwaitOutcome(run, timeout_ms);
}

Outcome AwaitOutcome(lbtest::InstallerRun& run, DWORD timeout_ms) {
  Outcome outcome;
  run.OnMessageBox([&](const lbtest::SeenMessageBox& box, const lbtest::WindowSnapshot&) {
    if (!outcome.finished) outcome = {true, box.caption == Widen(texts::kSuccessCaption), box.text};
    return true;
  });
  run.RunToEnd(timeout_ms);
  return outcome;
}

Outcome RunWorker(const std::wstring& app_dir, DWORD timeout_ms) {
  Outcome outcome;
  lbtest::MessageSink sink(true);
  const std::vector<std::wstring> arguments = {L"LanternbrookInstaller.exe", L"--app-dir", app_dir,
                                               L"--no-shortcut", L"--no-launch", L"--quiet"};
  std::thread worker([&arguments] { RunInstallationWithArguments(arguments); });
  const std::vector<lbtest::PostedMessage> messages = sink.WaitForCompletion(timeout_ms);
  worker.join();
  for (const lbtest::PostedMessage& message : messages) {
    if (message.message == kCompletionMessage) {
      outcome.finished = true;
      outcome.success = message.wparam != 0;
      outcome.text = message.text;
    }
  }
  if (!outcome.finished) ADD_FAILURE() << "the run posted no completion";
  return outcome;
}

// --- the application folder -------------------------------------------------------

std::string Audit::Describe() const {
  std::string text;
  for (const std::string& problem : problems) text += "\n  " + problem;
  return text;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
    end = std::min(text.find(separator, start), text.size());
    if (end > start) parts.push_back(text.substr(start, end - start));
  }
  return parts;
}

std::vector<std::string> ListFiles(const std::wstring& dir) {
  std::vector<std::string> files = Split(lbtest::RunUnixOutput(
      "cd " + ShellQuote(lbtest::WindowsToUnixPath(dir)) + " && find . -type f -printf '%P\\0'"), '\0');
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::string> FilesWithDigest(const std::wstring& dir, const std::string& hash) {
  // sha256sum -z ends each line with NUL, so any name survives.
  const std::vector<std::string> lines = Split(lbtest::RunUnixOutput(
      "cd " + ShellQuote(lbtest::WindowsToUnixPath(dir)) +
      " && find . -type f -print0 | xargs -0 -r sha256sum -z -b --"), '\0');
  std::vector<std::string> found;
  for (const std::string& line : lines) {
    if (line.size() > 66 && line.compare(0, 64, hash) == 0 && line.compare(64, 2, " *") == 0) {
      std::string name = line.substr(66);
      if (name.rfind("./", 0) == 0) name.erase(0, 2);
      found.push_back(name);
    }
  }
  return found;
}

Audit AuditFolder(const std::wstring& app_dir, const Release& next, const Release* previous,
                  const std::map<std::string, std::string>& keep) {
  Audit audit;
  auto problem = [&](const std::string& text, bool lost) {
    audit.problems.push_back(text);
    if (lost) audit.data_lost = true;
  };
  auto all_new = [&] {
    std::string bytes;
    for (const ReleaseFile& file : next.files) {
      if (!ReadIfPresent(lbtest::InFolder(app_dir, file.path), bytes) || bytes != file.bytes) return false;
    }
    return ReadIfPresent(lbtest::InFolder(app_dir, next.updater.path), bytes) && bytes == next.updater.bytes;
  };

  const std::vector<std::string> files = ListFiles(app_dir);
  const std::set<std::string> present(files.begin(), files.end());
  for (const std::string& relative : files) {
    std::string bytes;
    if (!ReadIfPresent(lbtest::InFolder(app_dir, relative), bytes)) {
      problem(relative + ": cannot be read", false);
      continue;
    }
    const ReleaseFile* mine = next.Find(relative);
    const ReleaseFile* old = previous ? previous->Find(relative) : nullptr;
    if (mine || old) {
      if ((mine && bytes == mine->bytes) || (old && bytes == old->bytes)) continue;
      problem(relative + ": " + std::to_string(bytes.size()) +
                  " bytes that are neither the new nor the old content",
              true);
      continue;
    }
    if (auto it = keep.find(relative); it != keep.end()) {
      if (bytes != it->second) problem(relative + ": a file of the user was changed", true);
      continue;
    }
    if (const std::string staging = Narrow(StagingFolderName) + "/"; relative.rfind(staging, 0) == 0) {
      const std::string inside = relative.substr(staging.size());
      const ReleaseFile* part = nullptr;
      if (inside.size() > 5 && inside.compare(inside.size() - 5, 5, ".part") == 0) {
        part = next.Find(inside.substr(0, inside.size() - 5));
      }
      // A block list kept for the runs that continue a partial file.
      constexpr std::string_view kList = ".part.blocks";
      if (inside.size() > kList.size() && inside.ends_with(kList)) {
        const ReleaseFile* listed = next.Find(inside.substr(0, inside.size() - kList.size()));
        if (listed && !listed->block_list.empty() && IsPrefixOf(bytes, listed->block_list)) continue;
      }
      if (!part) problem(relative + ": unexpected file in the staging folder", false);
      else if (!IsPrefixOf(bytes, part->bytes))
        problem(relative + ": partial file (" + std::to_string(bytes.size()) +
                    " bytes) that is not a prefix of its file",
                false);
      continue;
    }
    if (relative == "version.json") {
      if (bytes == next.MetadataJson()) {
        if (!all_new()) problem("version.json names the new release before every file is in place", false);
      } else if (!(previous && bytes == previous->MetadataJson())) {
        problem("version.json holds " + std::to_string(bytes.size()) + " bytes that are neither document",
                previous != nullptr);
      }
      continue;
    }
    if (relative == "version.json.tmp") {
      if (!IsPrefixOf(bytes, next.MetadataJson())) problem("version.json.tmp is not the new document", false);
      continue;
    }
    if (relative == kUpdaterCopy || relative == std::string(kUpdaterCopy) + ".new") {
      const bool final_copy = relative == kUpdaterCopy;
      auto fits = [&](const std::string& updater) {
        return final_copy ? bytes == updater : IsPrefixOf(bytes, updater);
      };
      if (!fits(next.updater.bytes) && !(previous && fits(previous->updater.bytes)))
        problem(relative + ": not a copy of an updater", final_copy && previous != nullptr);
      continue;
    }
    problem(relative + ": unexpected file in the application folder", false);
  }

  if (previous) {
    auto must_stay = [&](const std::string& relative) {
      if (!present.count(relative)) problem(relative + ": a file of the earlier installation is gone", true);
    };
    for (const ReleaseFile& file : previous->files) must_stay(file.path);
    if (!previous->updater.path.empty()) {
      must_stay(previous->updater.path);
      must_stay(kUpdaterCopy);
    }
    must_stay("version.json");
  }
  for (const auto& [relative, bytes] : keep) {
    if (!present.count(relative)) problem(relative + ": a file of the user is gone", true);
  }
  return audit;
}

Audit VerifyInstalled(const std::wstring& app_dir, const Release& next) {
  Audit audit;
  std::vector<const ReleaseFile*> expected;
  for (const ReleaseFile& file : next.files) expected.push_back(&file);
  expected.push_back(&next.updater);

  std::string command = "cd " + ShellQuote(lbtest::WindowsToUnixPath(app_dir)) + " && sha256sum -b --";
  for (const ReleaseFile* file : expected) command.append(" ").append(ShellQuote(file->path));
  std::istringstream lines(lbtest::RunUnixOutput(command + " 2>/dev/null"));
  std::map<std::string, std::string> digests;
  for (std::string line; std::getline(lines, line);) {
    const std::size_t star = line.find(" *");
    if (line.size() > 66 && star == 64) digests[line.substr(66)] = line.substr(0, 64);
  }
  for (const ReleaseFile* file : expected) {
    auto it = digests.find(file->path);
    if (it == digests.end()) audit.problems.push_back(file->path + ": missing");
    else if (it->second != file->hash)
      audit.problems.push_back(file->path + ": sha256sum " + it->second + " but the manifest says " + file->hash);
  }
  std::string bytes;
  if (!ReadIfPresent(lbtest::InFolder(app_dir, kUpdaterCopy), bytes) || bytes != next.updater.bytes)
    audit.problems.push_back(std::string(kUpdaterCopy) + ": not the release's updater");
  if (!ReadIfPresent(lbtest::InFolder(app_dir, "version.json"), bytes) || bytes != next.MetadataJson())
    audit.problems.push_back("version.json: not the release's document");
  if (lbtest::PathExists(app_dir + L"\\" + StagingFolderName))
    audit.problems.push_back(".install-staging: still there");
  return audit;
}

// --- listings of trees on the host -------------------------------------------------

std::string WinePrefix() {
  const char* prefix = std::getenv("WINEPREFIX");
  return prefix ? prefix : "";
}

Listing ListTree(const std::string& unix_root, const std::vector<std::string>& pruned, int max_depth) {
  std::string command = "find " + ShellQuote(unix_root) + " -mindepth 1";
  if (max_depth > 0) command += " -maxdepth " + std::to_string(max_depth);
  if (!pruned.empty()) {
    command += " \\(";
    for (std::size_t i = 0; i < pruned.size(); ++i) command += (i ? " -o -path " : " -path ") + ShellQuote(pruned[i]);
    command += " \\) -prune -o";
  }
  command += " -printf '%y %s %T@ %P\\0' 2>/dev/null";
  Listing listing;
  for (const std::string& entry : Split(lbtest::RunUnixOutput(command), '\0')) {
    // "<type> <size> <time> <path>"; the path may hold blanks.
    std::size_t first = entry.find(' ');
    std::size_t second = first == std::string::npos ? first : entry.find(' ', first + 1);
    std::size_t third = second == std::string::npos ? second : entry.find(' ', second + 1);
    if (third == std::string::npos) continue;
    std::string attributes = entry.substr(0, third);
    // A folder's size is the size of its entry table; its time tells of changes.
    listing[entry.substr(third + 1)] = attributes;
  }
  return listing;
}

std::vector<std::string> Differences(const Listing& before, const Listing& after) {
  std::vector<std::string> lines;
  for (const auto& [path, attributes] : before) {
    auto it = after.find(path);
    if (it == after.end()) lines.push_back("- " + path);
    else if (it->second != attributes) lines.push_back("~ " + path + " (" + attributes + " -> " + it->second + ")");
  }
  for (const auto& [path, attributes] : after) {
    if (!before.count(path)) lines.push_back("+ " + path + " (" + attributes + ")");
  }
  return lines;
}

// --- a small disk -------------------------------------------------------------------

TmpfsMount::TmpfsMount(const std::wstring& dir, std::uint64_t bytes) {
  std::error_code ignored;
  fs::create_directories(fs::path(dir), ignored);
  unix_dir_ = lbtest::WindowsToUnixPath(dir);
  const int code = lbtest::RunUnix("mount -t tmpfs -o size=" + std::to_string(bytes) +
                                   ",mode=0755 lanternbrook-test " + ShellQuote(unix_dir_));
  mounted_ = code == 0;
  EXPECT_TRUE(mounted_) << "mount -t tmpfs on " << unix_dir_ << " failed (" << code << ")";
}

TmpfsMount::~TmpfsMount() {
  if (!mounted_) return;
  const std::string dir = ShellQuote(unix_dir_);
  const int code = lbtest::RunUnix("umount " + dir + " 2>/dev/null || { sleep 1; umount " + dir +
                                   " 2>/dev/null; } || umount -l " + dir);
  EXPECT_EQ(code, 0) << "could not unmount " << unix_dir_;
}

bool TmpfsMount::Resize(std::uint64_t bytes) {
  return lbtest::RunUnix("mount -o remount,size=" + std::to_string(bytes) + " " + ShellQuote(unix_dir_)) == 0;
}

std::uint64_t TmpfsMount::FreeBytes() const {
  const std::string text = lbtest::RunUnixOutput("stat -f -c '%a %S' " + ShellQuote(unix_dir_));
  unsigned long long blocks = 0, block_size = 0;
  std::sscanf(text.c_str(), "%llu %llu", &blocks, &block_size);
  return blocks * block_size;
}

// --- server logs ---------------------------------------------------------------------

std::uint64_t RangeStart(const std::string& range) {
  const std::size_t equals = range.find('=');
  if (equals == std::string::npos) return 0;
  return std::strtoull(range.c_str() + equals + 1, nullptr, 10);
}

}  // namespace lbrel
