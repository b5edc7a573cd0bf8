// Kill-anywhere: the real installer updates a folder holding release 1.0 to
// release 2.0 (tens of MB in nested folders) and is terminated at seeded
// random moments, then started again, until each round's folder is done.
// After every kill nothing in the folder may be unverified; at the end of a
// round the folder verifies against the manifest, the staging folder is gone,
// and the server's log shows no byte range fetched twice except the request
// in flight at a kill. The same runs over an update whose changed files are
// built by blocks from their old copies.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <sstream>

#include "tests/reliability/reliability_support.h"
#include "tests/support/installer_run.h"
#include "tests/support/test_servers.h"
#include "tests/support/test_support.h"
#include "transfer/block_list.h"
#include "transfer/file_blocks.h"

namespace {

using lbtest::Narrow;
using lbtest::ServerRequest;
using namespace lbrel;

struct Releases {
  Release old_release;
  Release next;
  std::map<std::string, std::string> user_files;
  std::uint64_t needed = 0;  // bytes of `next` that differ from `old_release`
  bool by_blocks = false;    // changed files have block lists: `needed` is an upper bound
};

Releases MakeReleases() {
  struct PlannedFile {
    const char* path;
    std::size_t old_size;  // 0: not in 1.0
    std::size_t new_size;  // 0: not in 2.0
    bool unchanged;
  };
  const PlannedFile planned[] = {
      {"LanternbrookEmulator.exe", 2100000, 2500000, false},
      {"bin/core.dll", 5000000, 6000000, false},
      {"bin/plugins/render.dll", 0, 3000000, false},
      {"data/maps/world.bin", 8000000, 8000000, false},
      {"data/maps/small/intro.bin", 150000, 200000, false},
      {"data/audio/music/theme.ogg", 5000000, 5200000, false},
      {"data/textures/pack.bin", 4000000, 4000000, true},
      {"data/old/legacy.bin", 500000, 0, false},
      {"docs/readme.txt", 20000, 30000, false},
  };
  Releases r{{"1.0.0", 100}, {"2.0.0", 200}};
  std::uint32_t seed = 1000;
  for (const PlannedFile& item : planned) {
    ReleaseFile old_file;
    if (item.old_size) {
      old_file = MakeFile(item.path, item.old_size, ++seed, "/files/1.0.0/");
      r.old_release.files.push_back(old_file);
    }
    if (item.new_size) {
      ReleaseFile new_file = item.unchanged ? FileWithBytes(item.path, old_file.bytes, "/files/2.0.0/")
                                            : MakeFile(item.path, item.new_size, ++seed, "/files/2.0.0/");
      if (!item.unchanged) r.needed += new_file.bytes.size();
      r.next.files.push_back(new_file);
    }
  }
  r.old_release.updater = MakeFile("LanternbrookUpdater.exe", 700000, ++seed, "/files/1.0.0/");
  r.next.updater = MakeFile("LanternbrookUpdater.exe", 900000, ++seed, "/files/2.0.0/");
  r.needed += r.next.updater.bytes.size();
  r.user_files["saves/slot1.sav"] = lbtest::RandomBytes(4096, 77);
  return r;
}

// 2.0 changes 64 KiB in the middle of an 8 MB map and inserts 100 bytes at
// the start of a 5 MB library, both with block lists; a small text file and
// the updater change whole. The lists are made of a copy at `scratch`.
Releases MakeBlockReleases(const std::wstring& scratch) {
  Releases r{{"1.0.0", 100}, {"2.0.0", 200}};
  r.by_blocks = true;
  const ReleaseFile map = MakeFile("data/maps/world.bin", 8000000, 3001, "/files/1.0.0/");
  const ReleaseFile core = MakeFile("bin/core.dll", 5000000, 3002, "/files/1.0.0/");
  const ReleaseFile pack = MakeFile("data/textures/pack.bin", 3000000, 3003, "/files/1.0.0/");
  r.old_release.files = {map, core, pack, MakeFile("docs/readme.txt", 20000, 3004, "/files/1.0.0/")};
  std::string new_map = map.bytes;
  new_map.replace(4000000, 65536, lbtest::RandomBytes(65536, 3005));
  r.next.files = {FileWithBytes(map.path, new_map, "/files/2.0.0/"),
                  FileWithBytes(core.path, lbtest::RandomBytes(100, 3006) + core.bytes, "/files/2.0.0/"),
                  FileWithBytes(pack.path, pack.bytes, "/files/2.0.0/"),
                  MakeFile("docs/readme.txt", 30000, 3007, "/files/2.0.0/")};
  for (std::size_t i = 0; i < 2; ++i) {
    ReleaseFile& file = r.next.files[i];
    lbtest::WriteFileBytes(scratch, file.bytes);
    file.block_list = SerializeBlockList(MakeBlockList(scratch));
    file.block_list_hash = lbtest::ReferenceSha256(file.block_list);
  }
  r.old_release.updater = MakeFile("LanternbrookUpdater.exe", 700000, 3008, "/files/1.0.0/");
  r.next.updater = MakeFile("LanternbrookUpdater.exe", 900000, 3009, "/files/2.0.0/");
  for (const ReleaseFile& file : r.next.files) {
    if (file.path != pack.path) r.needed += file.bytes.size() + file.block_list.size();
  }
  r.needed += r.next.updater.bytes.size();
  r.user_files["saves/slot1.sav"] = lbtest::RandomBytes(4096, 77);
  return r;
}

// When to kill one run: a time after its start, a bar position, or the
// finishing steps, each followed by a pause.
struct KillPlan {
  enum Kind { kTime, kBar, kFinishing } kind = kTime;
  DWORD delay_ms = 0;
  int bar = 0;
  std::string Describe() const {
    switch (kind) {
      case kTime: return "at " + std::to_string(delay_ms) + " ms";
      case kBar: return "at bar " + std::to_string(bar) + " + " + std::to_string(delay_ms) + " ms";
      default: return "finishing + " + std::to_string(delay_ms) + " ms";
    }
  }
};

// One start of the installer and what became of it.
struct RunRecord {
  KillPlan plan;
  bool killed = false;
  DWORD ran_ms = 0;
  std::wstring status;  // the window's status line at the kill
  int bar = -1;
  std::vector<ServerRequest> requests;
  Audit audit;  // the folder right after the run
  std::map<std::string, std::uint64_t> parts;  // manifest path -> size of its partial file after the run
};

std::map<std::string, std::uint64_t> PartialFiles(const std::wstring& app_dir, const Release& release) {
  std::map<std::string, std::uint64_t> parts;
  auto look = [&](const ReleaseFile& file) {
    const std::wstring path = StagedPart(app_dir, file.path);
    if (lbtest::PathExists(path)) parts[file.path] = lbtest::FileSize(path);
  };
  for (const ReleaseFile& file : release.files) look(file);
  look(release.updater);
  return parts;
}

// The byte ranges one round fetched, per file, judged against the kills.
struct RangeReport {
  std::vector<std::string> problems;  // ranges fetched twice outside a kill, gaps, bad statuses
  std::map<std::size_t, std::uint64_t> in_flight;  // run index -> bytes fetched again after it
  std::uint64_t file_bytes = 0;        // body bytes of file requests
  std::uint64_t manifest_requests = 0;
};

RangeReport CheckRanges(const std::vector<RunRecord>& runs, const Releases& releases) {
  RangeReport report;
  struct Last {
    std::uint64_t end = 0;
    std::size_t run = 0;
    bool in_flight = false;
  };
  std::map<std::string, Last> covered;
  std::map<std::string, std::string> by_url, list_of;
  for (const ReleaseFile& file : releases.next.files) {
    by_url[file.url] = file.path;
    if (!file.block_list.empty()) list_of[file.url + ".lbblocks"] = file.path;
  }
  by_url[releases.next.updater.url] = releases.next.updater.path;
  // Files built by blocks: every range fetched, and their block lists.
  struct Piece {
    std::uint64_t start, end;
    std::size_t run;
    bool in_flight;
  };
  std::map<std::string, std::vector<Piece>> pieces;
  std::map<std::string, Last> lists;

  for (std::size_t r = 0; r < runs.size(); ++r) {
    const std::vector<ServerRequest>& requests = runs[r].requests;
    for (std::size_t i = 0; i < requests.size(); ++i) {
      const ServerRequest& request = requests[i];
      const bool in_flight = runs[r].killed && i + 1 == requests.size();
      if (request.path == kManifestPath) {
        ++report.manifest_requests;
        continue;
      }
      if (auto list = list_of.find(request.path); list != list_of.end()) {
        // Fetched once and kept beside the partial file: again only after a
        // kill that cut its request.
        report.file_bytes += request.bytes;
        Last& seen = lists[list->second];
        if (seen.end != 0 && seen.in_flight) report.in_flight[seen.run] += request.bytes;
        if (seen.end != 0 && !seen.in_flight) {
          report.problems.push_back(list->second + ": block list fetched again in run " +
                                    std::to_string(r + 1));
        }
        seen = {request.bytes, r, in_flight};
        continue;
      }
      auto name = by_url.find(request.path);
      if (name == by_url.end()) {
        report.problems.push_back("request for " + request.path + ", which 2.0.0 does not list");
        continue;
      }
      const ReleaseFile* file = releases.next.Find(name->second);
      const std::uint64_t start = RangeStart(request.range);
      const std::uint64_t end = start + request.bytes;
      report.file_bytes += request.bytes;
      const int expected_status = request.range.empty() ? 200 : 206;
      if (request.status != expected_status) {
        report.problems.push_back(request.path + " answered " + std::to_string(request.status) +
                                  " to range '" + request.range + "'");
      }
      const std::uint64_t kept = r == 0 ? 0 : (runs[r - 1].parts.count(file->path) ? runs[r - 1].parts.at(file->path) : 0);
      if (!file->block_list.empty()) {
        // Closed ranges from the partial file's end on; the bytes between
        // them are copied from the old copy, and none is fetched twice.
        if (request.range.empty() || request.range.back() == '-') {
          report.problems.push_back(file->path + ": run " + std::to_string(r + 1) +
                                    " fell back to the plain download");
        }
        if (start < kept) {
          report.problems.push_back(file->path + ": run " + std::to_string(r + 1) + " asked from byte " +
                                    std::to_string(start) + " but the partial file held " + std::to_string(kept));
        }
        for (const Piece& before : pieces[file->path]) {
          const std::uint64_t low = std::max(start, before.start), high = std::min(end, before.end);
          if (high <= low) continue;
          const std::uint64_t again = high - low;
          if (before.in_flight) {
            report.in_flight[before.run] += again;
          } else {
            report.problems.push_back(file->path + ": " + std::to_string(again) + " bytes from " +
                                      std::to_string(low) + " fetched again in run " +
                                      std::to_string(r + 1) + " though run " + std::to_string(before.run + 1) +
                                      " was not killed during them");
          }
        }
        pieces[file->path].push_back({start, end, r, in_flight});
        continue;
      }
      if (!request.range.empty() && start == 0) {
        report.problems.push_back(request.path + ": a Range header starting at 0");
      }
      // A download continues exactly where the partial file left by the
      // run before ends: every byte written to disk is used.
      if (start != kept) {
        report.problems.push_back(file->path + ": run " + std::to_string(r + 1) + " asked from byte " +
                                  std::to_string(start) + " but the partial file held " + std::to_string(kept));
      }
      Last& last = covered[file->path];
      if (start < last.end) {
        // Bytes the server sent before a kill that never reached the disk.
        const std::uint64_t again = std::min(end, last.end) - start;
        if (last.in_flight) {
          report.in_flight[last.run] += again;
        } else {
          report.problems.push_back(file->path + ": bytes " + std::to_string(start) + "-" +
                                    std::to_string(last.end) + " fetched again in run " +
                                    std::to_string(r + 1) + " though run " +
                                    std::to_string(last.run + 1) + " was not killed during them");
        }
      } else if (start > last.end) {
        report.problems.push_back(file->path + ": the request of run " + std::to_string(r + 1) +
                                  " starts at " + std::to_string(start) + ", after the " +
                                  std::to_string(last.end) + " bytes fetched before");
      }
      if (end > file->bytes.size()) {
        report.problems.push_back(file->path + ": " + std::to_string(end) + " bytes served for a file of " +
                                  std::to_string(file->bytes.size()));
      }
      if (end >= last.end) {
        last.end = end;
        last.run = r;
        last.in_flight = in_flight;
      }
    }
  }
  for (const ReleaseFile& file : releases.next.files) {
    const bool unchanged = releases.old_release.Find(file.path) &&
                           releases.old_release.Find(file.path)->bytes == file.bytes;
    const std::uint64_t got = covered.count(file.path) ? covered[file.path].end : 0;
    if (unchanged && (got != 0 || pieces.count(file.path)))
      report.problems.push_back(file.path + ": unchanged since 1.0.0 but fetched");
    if (!unchanged && file.block_list.empty() && got != file.bytes.size())
      report.problems.push_back(file.path + ": " + std::to_string(got) + " of " +
                                std::to_string(file.bytes.size()) + " bytes ever fetched");
  }
  return report;
}

class KillAnywhereTest : public lbtest::TempDirTest {
 protected:
  // Rounds of killed runs until `kills_wanted` kills, each round from a
  // fresh folder holding `releases.old_release`; reported as `fault_class`.
  void KillAnywhere(const Releases& releases, const char* fault_class, int kills_wanted);
};

TEST_F(KillAnywhereTest, EveryKillResumesAndTheFolderVerifies) {
  KillAnywhere(MakeReleases(), "kill-anywhere", Scaled(20, 60));
}

TEST_F(KillAnywhereTest, EveryKillOfAnUpdateByBlocksResumesAndTheFolderVerifies) {
  KillAnywhere(MakeBlockReleases(Path(L"listed.bin")), "kill-anywhere by blocks", Scaled(7, 30));
}

void KillAnywhereTest::KillAnywhere(const Releases& releases, const char* fault_class,
                                    int kills_wanted) {
  const std::uint32_t seed = Seed(fault_class);
  std::mt19937 random(seed);

  lbtest::FaultServer server({.port = lbtest::UpdateOriginPort()});
  Publish(server, releases.next);
  // Small sends and a pause before each file keep a download running long
  // enough to be cut anywhere: before the answer, inside the body, between files.
  const lbtest::FaultRule slow{.chunk_size = 16384, .delay_ms = 40};
  for (const ReleaseFile& file : releases.next.files) server.SetRule(file.url, slow);
  server.SetRule(releases.next.updater.url, slow);

  auto fresh_folder = [&](const std::string& name) {
    const std::wstring app_dir = Path(lbtest::Widen(name));
    InstallDirectly(app_dir, releases.old_release);
    for (const auto& [path, bytes] : releases.user_files)
      lbtest::WriteFileBytes(lbtest::InFolder(app_dir, path), bytes);
    return app_dir;
  };

  // An uninterrupted update first: it fetches exactly what changed and tells
  // how long a start takes before the first byte arrives.
  DWORD startup_ms = 0, box_ms = 0;
  std::uint64_t needed = releases.needed;
  {
    const std::wstring app_dir = fresh_folder("uninterrupted");
    server.ClearRequests();
    const DWORD start = GetTickCount();
    lbtest::InstallerRun run(InstallerExe(), InstallerArguments(app_dir));
    run.WaitUntil([&] { return Narrow(run.last_snapshot().status) == texts::kDownloading; }, 60000);
    startup_ms = GetTickCount() - start;
    const Outcome outcome = AwaitOutcome(run);
    if (!run.boxes().empty()) box_ms = run.boxes().front().seen_at_ms;
    ASSERT_EQ(outcome.Text(), texts::kSuccess)
        << "the uninterrupted update must work before anything is cut";
    std::uint64_t fetched = 0;
    for (const ServerRequest& request : server.Requests()) {
      if (request.path != kManifestPath) fetched += request.bytes;
    }
    server.ClearRequests();
    if (releases.by_blocks) {
      EXPECT_LE(fetched * 4, releases.needed) << "the unchanged blocks are copied";
      needed = fetched;
    } else {
      EXPECT_EQ(fetched, releases.needed) << "an uninterrupted update fetches exactly what changed";
    }
    const Audit audit = VerifyInstalled(app_dir, releases.next);
    EXPECT_TRUE(audit.problems.empty()) << audit.Describe();
  }
  std::printf("[ reliability ] uninterrupted update: first byte after %lu ms, done after %lu ms\n",
              static_cast<unsigned long>(startup_ms), static_cast<unsigned long>(box_ms));

  // Each round draws its kill moments: most at a random point of the
  // progress bar (plus a random pause, so that verifying, renaming and the
  // finishing steps are hit as well), some at a random time within the
  // start-up (process start, window, manifest).
  const int kills_per_round = 7;
  int kills = 0, round = 0;
  std::map<std::string, int> phases;
  std::uint64_t fetched_total = 0, needed_total = 0, in_flight_total = 0, in_flight_max = 0;
  std::uint64_t manifests = 0;
  while (kills < kills_wanted) {
    ++round;
    const std::wstring app_dir = fresh_folder("round-" + std::to_string(round));
    server.ClearRequests();
    std::vector<KillPlan> plans;
    {
      std::uniform_int_distribution<int> bar(1, 990);
      std::uniform_int_distribution<DWORD> pause(0, 150);
      std::uniform_int_distribution<DWORD> early(0, startup_ms + startup_ms / 4);
      std::discrete_distribution<int> kind({20, 70, 10});  // time, bar, finishing
      std::vector<int> bars;
      for (int i = 0; i < kills_per_round; ++i) bars.push_back(bar(random));
      std::sort(bars.begin(), bars.end());
      for (int target : bars) {
        KillPlan plan;
        plan.kind = static_cast<KillPlan::Kind>(kind(random));
        plan.bar = target;
        // The finishing steps take only some tens of milliseconds.
        plan.delay_ms = plan.kind == KillPlan::kTime        ? early(random)
                        : plan.kind == KillPlan::kFinishing ? pause(random) % 4
                                                            : pause(random);
        plans.push_back(plan);
      }
      // The finishing steps come last in a run, so their kills go last.
      std::stable_partition(plans.begin(), plans.end(),
                            [](const KillPlan& plan) { return plan.kind != KillPlan::kFinishing; });
    }
    std::vector<RunRecord> runs;
    Outcome outcome;
    for (std::size_t next_plan = 0;; ++next_plan) {
      const bool last = next_plan >= plans.size() || kills >= kills_wanted;
      RunRecord record;
      {
        lbtest::InstallerRun run(InstallerExe(), InstallerArguments(app_dir));
        const DWORD start = GetTickCount();
        bool kill = false;
        if (!last) {
          const KillPlan& plan = plans[next_plan];
          record.plan = plan;
          if (plan.kind == KillPlan::kTime) {
            kill = !run.process().Wait(plan.delay_ms);
          } else {
            // Watch the bar and the status line; the finishing steps last only
            // some milliseconds, so that plan looks every millisecond.
            const DWORD poll_ms = plan.kind == KillPlan::kFinishing ? 0 : 5;
            HWND window = nullptr;
            for (;;) {
              if (run.process().Wait(poll_ms)) break;
              if (GetTickCount() - start > 120000) break;
              if (!window) window = run.MainWindow();
              if (!window) continue;
              const bool over = run.BoxOpen();
              const bool finishing =
                  over || Narrow(lbtest::WindowText(GetDlgItem(window, 101))) == texts::kFinishing;
              if (plan.kind == KillPlan::kBar && !over && lbtest::SnapshotOf(window).bar >= plan.bar) {
                kill = !run.process().Wait(plan.delay_ms);
                break;
              }
              if (plan.kind == KillPlan::kFinishing && finishing) {
                kill = !run.process().Wait(plan.delay_ms);
                break;
              }
              if (over) break;  // the run ended before the bar got there
            }
          }
        }
        if (kill) {
          const lbtest::WindowSnapshot seen = run.Snapshot();
          record.status = seen.status;
          record.bar = seen.bar;
          run.Kill();
          record.killed = true;
        } else {
          outcome = AwaitOutcome(run);
          EXPECT_TRUE(outcome.finished) << "round " << round << ": the run showed no outcome";
        }
        record.ran_ms = GetTickCount() - start;
      }
      record.requests = server.Requests();
      server.ClearRequests();
      record.audit = AuditFolder(app_dir, releases.next, &releases.old_release, releases.user_files);
      record.parts = PartialFiles(app_dir, releases.next);
      EXPECT_TRUE(record.audit.problems.empty())
          << "round " << round << ", after the run " << (record.killed ? "killed" : "ended") << " at "
          << record.ran_ms << " ms (" << Narrow(record.status) << ", bar " << record.bar
          << "):" << record.audit.Describe();
      runs.push_back(record);
      if (record.killed) {
        ++kills;
        ++phases[record.status.empty() ? std::string("(no window yet)") : Narrow(record.status)];
        continue;
      }
      break;
    }

    EXPECT_EQ(outcome.Text(), texts::kSuccess) << "round " << round;
    const Audit final_audit = VerifyInstalled(app_dir, releases.next);
    EXPECT_TRUE(final_audit.problems.empty()) << "round " << round << ":" << final_audit.Describe();
    const Audit extras = AuditFolder(app_dir, releases.next, &releases.old_release, releases.user_files);
    EXPECT_TRUE(extras.problems.empty()) << "round " << round << ":" << extras.Describe();
    const RangeReport ranges = CheckRanges(runs, releases);
    for (const std::string& problem : ranges.problems) ADD_FAILURE() << "round " << round << ": " << problem;

    const bool round_ok = final_audit.problems.empty() && extras.problems.empty() &&
                          ranges.problems.empty() && outcome.success;
    for (std::size_t r = 0; r < runs.size(); ++r) {
      const RunRecord& run = runs[r];
      if (!run.killed) continue;
      const std::uint64_t again = ranges.in_flight.count(r) ? ranges.in_flight.at(r) : 0;
      in_flight_total += again;
      in_flight_max = std::max(in_flight_max, again);
      std::ostringstream name;
      name << "round " << round << " run " << (r + 1) << ": killed " << run.plan.Describe();
      std::ostringstream note;
      note << Narrow(run.status) << ", bar " << run.bar << ", " << again << " bytes in flight";
      RecordCase(fault_class, name.str(), round_ok && run.audit.problems.empty(),
                 run.audit.data_lost || final_audit.data_lost, note.str());
    }
    ASSERT_TRUE(outcome.success) << "round " << round << " did not finish; no further rounds";
    fetched_total += ranges.file_bytes;
    needed_total += needed;
    manifests += ranges.manifest_requests;
    std::printf("[ reliability ] round %d: %zu runs, %llu file bytes fetched for %llu needed\n", round,
                runs.size(), static_cast<unsigned long long>(ranges.file_bytes),
                static_cast<unsigned long long>(needed));
  }

  std::ostringstream figures;
  figures << fault_class << ": " << kills << " kills in " << round << " rounds (seed " << seed
          << "); release " << releases.next.Size() << " bytes, " << needed
          << " to fetch per round; fetched " << fetched_total << " for " << needed_total
          << " needed (" << (fetched_total - std::min(fetched_total, needed_total))
          << " again: in flight at kills, largest " << in_flight_max << "), "
          << manifests << " manifest requests; kills by phase:";
  for (const auto& [phase, count] : phases) figures << " " << phase << " " << count << ";";
  RecordProperty("figures", figures.str());
  RecordFigures(figures.str());
  // A resumed build by blocks may copy what the uninterrupted one fetched to
  // join two ranges, never the other way round.
  if (releases.by_blocks) {
    EXPECT_LE(fetched_total, needed_total + in_flight_total);
  } else {
    EXPECT_EQ(fetched_total, needed_total + in_flight_total);
  }
  EXPECT_GE(kills, kills_wanted);
}

}  // namespace
