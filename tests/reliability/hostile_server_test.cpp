// Hostile servers: the fault server answers the run with broken connections,
// refusals, wrong ranges, other content, bodies of the wrong length,
// redirects to plain http and certificates that must not be trusted. Each run
// ends with its fixed message, nothing unverified reaches the application
// folder, and the next run against an honest server finishes the job.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <sstream>

#include "manifest/release_key_files.h"
#include "tests/reliability/reliability_support.h"
#include "tools/release_signing.h"
#include "tests/support/expected_texts.h"
#include "tests/support/test_servers.h"
#include "tests/support/test_support.h"

namespace {

using lbtest::FaultRule;
using lbtest::FaultServer;
using lbtest::Narrow;
using lbtest::ServerRequest;
using namespace lbrel;

using namespace lbtest::texts;

constexpr char kVictim[] = "data/a.bin";  // the file most faults hit
constexpr std::uint64_t kPartialAt = 600000;  // where the run before a resume case is cut
constexpr char kSignaturePath[] = "/updates/manifest.json.sig";

Release SmallRelease(const std::string& url_prefix) {
  return {"3.1.0", 310,
          {MakeFile("LanternbrookEmulator.exe", 300000, 31, url_prefix),
           MakeFile(kVictim, 1500000, 32, url_prefix),  // files[1]
           MakeFile("data/deep/b.bin", 700000, 33, url_prefix)},
          MakeFile("LanternbrookUpdater.exe", 200000, 34, url_prefix)};
}

const std::map<std::string, std::string>& UserFiles() {
  static const std::map<std::string, std::string> files = {
      {"saves/slot1.sav", lbtest::RandomBytes(5000, 901)}};
  return files;
}

void PutUserFiles(const std::wstring& app_dir) {
  for (const auto& [path, bytes] : UserFiles()) lbtest::WriteFileBytes(lbtest::InFolder(app_dir, path), bytes);
}

// A plain-TCP listener on a free port that only records who connects: the
// target of the redirects to http, to show that nothing follows them.
class PlainListener {
 public:
  explicit PlainListener(const std::wstring& dir) : dir_(dir) {
    static const char kScript[] =
        "import os, socket, sys, time\n"
        "s = socket.socket(); s.bind(('127.0.0.1', 0)); s.listen(8); s.settimeout(0.5)\n"
        "open(sys.argv[1] + '.tmp', 'w').write(str(s.getsockname()[1]))\n"
        "os.replace(sys.argv[1] + '.tmp', sys.argv[1])\n"
        "end = time.time() + 300\n"
        "while time.time() < end:\n"
        "    try: c, _ = s.accept()\n"
        "    except OSError: continue\n"
        "    c.settimeout(2)\n"
        "    try: data = c.recv(200)\n"
        "    except OSError: data = b''\n"
        "    open(sys.argv[2], 'ab').write(b'connection: ' + data.split(b'\\r\\n')[0] + b'\\n')\n"
        "    c.close()\n";
    const std::string unix_dir = lbtest::WindowsToUnixPath(dir_);
    lbtest::RunUnix("setsid python3 -c " + lbtest::ShellQuote(kScript) + " " +
                    lbtest::ShellQuote(unix_dir + "/listener.port") + " " +
                    lbtest::ShellQuote(unix_dir + "/listener.log") + " </dev/null >/dev/null 2>&1 & echo $! > " +
                    lbtest::ShellQuote(unix_dir + "/listener.pid"));
    for (int i = 0; i < 500 && !lbtest::PathExists(dir_ + L"\\listener.port"); ++i) Sleep(20);
    port_ = std::atoi(lbtest::ReadFileBytes(dir_ + L"\\listener.port").c_str());
    EXPECT_NE(port_, 0) << "the plain listener did not start";
  }
  ~PlainListener() {
    // Only while the process of that id is still the listener (its command
    // line names its folder): ids come round again.
    const std::string dir = lbtest::ShellQuote(lbtest::WindowsToUnixPath(dir_));
    lbtest::RunUnix("pid=$(cat " + dir + "/listener.pid) && grep -qaF -- " + dir +
                    " /proc/$pid/cmdline 2>/dev/null && kill $pid 2>/dev/null");
  }
  PlainListener(const PlainListener&) = delete;
  PlainListener& operator=(const PlainListener&) = delete;
  int port() const { return port_; }
  std::string Connections() const {
    return lbtest::PathExists(dir_ + L"\\listener.log") ? lbtest::ReadFileBytes(dir_ + L"\\listener.log") : "";
  }

 private:
  std::wstring dir_;
  int port_ = 0;
};

// What a case may use and change while it sets up its fault.
struct Scene {
  FaultServer* origin = nullptr;
  Release release;
  std::unique_ptr<FaultServer> other;  // a second server, for file addresses elsewhere
  std::unique_ptr<PlainListener> plain;  // where the redirects to http point
  std::wstring app_dir;
  std::wstring dir;  // the test's folder
  std::uint64_t partial = 0;  // size of the victim's partial file before the faulty run

  const ReleaseFile& Victim() const { return *release.Find(kVictim); }
  std::wstring PartPath() const { return StagedPart(app_dir, "data/a.bin"); }
};

struct ServerCase {
  std::string name;
  const char* group;
  std::function<void(Scene&)> fault;  // sets the rules of the faulty run
  const char* expected;               // its message
  bool after_partial = false;         // first leave a partial victim file (a cut connection)
  std::string origin_certificate = "localhost";
  // Further checks after the faulty run, with the requests it made.
  std::function<void(const Scene&, const std::vector<ServerRequest>&)> check = {};
  // Run the installer as its own process for every run of the case. The
  // other cases run the worker in this process, which is quicker; but WinHTTP
  // keeps idle connections for the whole process, and a server that sends
  // more than it announced leaves one behind that the next run would reuse.
  bool own_process = false;
  // What the first run against an honest server ends with. A partial file
  // that a wrong 206 left short is kept like any interrupted download; the
  // honest server completes it, it fails its digest and goes, and the run
  // after that finishes.
  const char* first_honest = kSuccess;
  // The release is signed with the test key and every run is the signed
  // installer's (in its own process).
  bool signed_release = false;
};

// Publishes `release` and, for a signed case, its manifest's signature by the
// test key.
void PublishRelease(const FaultServer& server, const Release& release, bool signed_release) {
  Publish(server, release);
  if (!signed_release) return;
  const ReleaseSignature signature =
      SignManifestBytes(release.ManifestJson(), ReadPrivateKey(lbtest::TestKeyPath(L"release.key")));
  server.PutFile(kSignaturePath + 1, ReleaseSignaturesHeader() + FormatReleaseSignature(signature));
}

const ServerRequest* RequestFor(const std::vector<ServerRequest>& requests, const std::string& url) {
  auto it = std::find_if(requests.begin(), requests.end(), [&](const ServerRequest& r) { return r.path == url; });
  return it == requests.end() ? nullptr : &*it;
}

void PartialUnchanged(const Scene& scene, const std::vector<ServerRequest>&) {
  EXPECT_EQ(lbtest::FileSize(scene.PartPath()), scene.partial) << "the partial file must stay as it was";
  EXPECT_EQ(lbtest::ReadFileBytes(scene.PartPath()), scene.Victim().bytes.substr(0, scene.partial));
}

// A body that ended early: every byte that arrived stays for the next run.
void PartialKept(const Scene& scene, const std::vector<ServerRequest>&) {
  const std::string kept = lbtest::ReadFileBytes(scene.PartPath());
  EXPECT_GT(kept.size(), 0u) << "the bytes that arrived must stay";
  EXPECT_TRUE(kept == scene.Victim().bytes.substr(0, kept.size())) << "the partial file is a prefix";
}

void PartialDeleted(const Scene& scene, const std::vector<ServerRequest>&) {
  EXPECT_FALSE(lbtest::PathExists(scene.PartPath())) << "a partial file that failed verification goes";
}

// The client stopped reading once the body ran past `size`.
void StoppedAtSize(const Scene& scene, const std::vector<ServerRequest>& requests) {
  PartialDeleted(scene, requests);
  const ServerRequest* request = RequestFor(requests, scene.Victim().url);
  ASSERT_NE(request, nullptr);
  EXPECT_LT(request->bytes, scene.Victim().bytes.size() + (16u << 20))
      << "the installer went on reading a body far longer than the file";
}

std::vector<ServerCase> Cases() {
  std::vector<ServerCase> cases;
  auto manifest_rule = [](FaultRule rule) {
    return [rule](Scene& s) { s.origin->SetRule(kManifestPath, rule); };
  };
  auto victim_rule = [](FaultRule rule) {
    return [rule](Scene& s) { s.origin->SetRule(s.Victim().url, rule); };
  };

  // Refusals.
  cases.push_back({.name = "manifest answered 500", .group = "server: refusals",
                   .fault = manifest_rule({.status = 500}), .expected = kManifestRefused});
  cases.push_back({.name = "manifest answered 503", .group = "server: refusals",
                   .fault = manifest_rule({.status = 503}), .expected = kManifestRefused});
  cases.push_back({.name = "manifest answered 404", .group = "server: refusals",
                   .fault = manifest_rule({.status = 404}), .expected = kManifestRefused});
  cases.push_back({.name = "file answered 500", .group = "server: refusals", .fault = victim_rule({.status = 500}),
                   .expected = kFileRefused});
  cases.push_back({.name = "file answered 404", .group = "server: refusals", .fault = victim_rule({.status = 404}),
                   .expected = kFileRefused});
  cases.push_back({.name = "resume answered 502", .group = "server: refusals",
                   .fault = victim_rule({.status = 502}), .expected = kFileRefused, .after_partial = true,
                   .check = PartialUnchanged});
  cases.push_back({.name = "resume answered 416", .group = "server: refusals",
                   .fault = victim_rule({.status = 416}), .expected = kFileRefused, .after_partial = true,
                   .check = PartialUnchanged});
  cases.push_back({.name = "full request answered 416", .group = "server: refusals",
                   .fault = victim_rule({.status = 416}), .expected = kFileRefused});

  // Ranges and content.
  cases.push_back({.name = "resume answered 200 with the whole file", .group = "server: ranges and content",
                   .fault = victim_rule({.ignore_range = true}), .expected = kSuccess, .after_partial = true,
                   .check = [](const Scene& s, const std::vector<ServerRequest>& requests) {
                     const ServerRequest* request = RequestFor(requests, s.Victim().url);
                     ASSERT_NE(request, nullptr);
                     EXPECT_EQ(RangeStart(request->range), s.partial);
                     EXPECT_EQ(request->status, 200);
                     EXPECT_EQ(request->bytes, s.Victim().bytes.size());
                   }});
  cases.push_back({.name = "resume answered 206 from an earlier offset", .group = "server: ranges and content",
                   .fault = [](Scene& s) { s.origin->SetRule(s.Victim().url, {.range_offset = s.partial - 4096}); },
                   .expected = kDigestMismatch, .after_partial = true, .check = PartialDeleted});
  auto short_by = [](std::uint64_t missing) {
    return [missing](const Scene& s, const std::vector<ServerRequest>&) {
      EXPECT_EQ(lbtest::FileSize(s.PartPath()), s.Victim().bytes.size() - missing);
    };
  };
  cases.push_back({.name = "resume answered 206 from a later offset", .group = "server: ranges and content",
                   .fault = [](Scene& s) { s.origin->SetRule(s.Victim().url, {.range_offset = s.partial + 4096}); },
                   .expected = kInterrupted, .after_partial = true, .check = short_by(4096),
                   .first_honest = kDigestMismatch});
  cases.push_back({.name = "request without Range answered 206 from offset 1000",
                   .group = "server: ranges and content", .fault = victim_rule({.range_offset = 1000}),
                   .expected = kInterrupted, .check = short_by(1000), .first_honest = kDigestMismatch});
  auto other_content = [](std::uint64_t size) {
    return [size](Scene& s) {
      s.origin->PutFile("other/a.bin", lbtest::RandomBytes(size, 555));
      s.origin->SetRule(s.Victim().url, {.content = "other/a.bin"});
    };
  };
  cases.push_back({.name = "resume served from other content", .group = "server: ranges and content",
                   .fault = other_content(1500000), .expected = kDigestMismatch, .after_partial = true,
                   .check = PartialDeleted});
  cases.push_back({.name = "file served with other content of its size", .group = "server: ranges and content",
                   .fault = other_content(1500000), .expected = kDigestMismatch, .check = PartialDeleted});

  // Bodies of the wrong length or framing.
  cases.push_back({.name = "body 1 MB longer than size", .group = "server: body length",
                   .fault = other_content(1500000 + (1 << 20)), .expected = kDigestMismatch,
                   .check = StoppedAtSize});
  const FaultRule endless{.endless = true, .endless_limit = 1ull << 30};
  cases.push_back({.name = "endless body", .group = "server: body length", .fault = victim_rule(endless),
                   .expected = kDigestMismatch, .check = StoppedAtSize});
  cases.push_back({.name = "endless body on resume", .group = "server: body length",
                   .fault = victim_rule(endless), .expected = kDigestMismatch, .after_partial = true,
                   .check = StoppedAtSize});
  cases.push_back({.name = "Content-Length 1000 bytes short", .group = "server: body length",
                   .fault = victim_rule({.announce_length = 1500000 - 1000}), .expected = kInterrupted,
                   .check = PartialKept, .own_process = true});
  // WinHTTP may take a clean close for the end of the body (Wine's always
  // does): the short file is an interrupted download, kept for the next run.
  cases.push_back({.name = "connection closed cleanly inside the body", .group = "server: body length",
                   .fault = victim_rule({.close_after = 900000}), .expected = kInterrupted,
                   .check = [](const Scene& s, const std::vector<ServerRequest>& r) {
                     PartialKept(s, r);
                     EXPECT_EQ(lbtest::FileSize(s.PartPath()), 900000u) << "every byte sent is kept";
                   }});
  cases.push_back({.name = "chunked body", .group = "server: body length",
                   .fault = victim_rule({.chunked = true}), .expected = kSuccess});
  cases.push_back({.name = "chunked body on resume", .group = "server: body length",
                   .fault = victim_rule({.chunked = true}), .expected = kSuccess, .after_partial = true});
  cases.push_back({.name = "chunked body in 97-byte chunks", .group = "server: body length",
                   .fault = victim_rule({.chunked = true, .chunk_size = 97}), .expected = kSuccess});

  // Redirects to plain http. WinHTTP refuses to follow them (the redirect
  // policy disallows https to http); under Wine the refusal fails the
  // receive step, so the run reports a network failure, and the plain
  // listener the Location names never sees a connection.
  auto to_http = [](bool manifest) {
    return [manifest](Scene& s) {
      s.plain = std::make_unique<PlainListener>(s.dir);
      const std::string path = manifest ? std::string(kManifestPath) : s.Victim().url;
      s.origin->SetRule(path, {.redirect = "http://localhost:" + std::to_string(s.plain->port()) + path});
    };
  };
  auto nothing_followed = [](const Scene& s, const std::vector<ServerRequest>&) {
    ASSERT_TRUE(s.plain);
    EXPECT_EQ(s.plain->Connections(), "") << "the redirect to http was followed";
  };
  cases.push_back({.name = "manifest redirected to http", .group = "server: redirects and certificates",
                   .fault = to_http(true), .expected = kNetworkFailure, .check = nothing_followed});
  cases.push_back({.name = "file redirected to http", .group = "server: redirects and certificates",
                   .fault = to_http(false), .expected = kNetworkFailure, .check = nothing_followed});
  cases.push_back({.name = "file redirected to https on the same server",
                   .group = "server: redirects and certificates",
                   .fault = [](Scene& s) {
                     s.origin->PutFile("moved/a.bin", s.Victim().bytes);
                     s.origin->SetRule(s.Victim().url, {.redirect = Narrow(s.origin->Url("/moved/a.bin"))});
                   },
                   .expected = kSuccess});

  // Certificates that must not be trusted, on the update origin and on a
  // file server named by an absolute address.
  for (const char* certificate : {"otherhost", "expired", "selfsigned"}) {
    const std::string what = std::string(certificate) == "otherhost" ? "a certificate for another host"
                             : std::string(certificate) == "expired" ? "an expired certificate"
                                                                     : "a self-signed certificate";
    cases.push_back({.name = "update server with " + what, .group = "server: redirects and certificates",
                     .fault = [](Scene&) {}, .expected = kNetworkFailure, .origin_certificate = certificate});
    cases.push_back({.name = "file server with " + what, .group = "server: redirects and certificates",
                     .fault = [certificate](Scene& s) {
                       s.other = std::make_unique<FaultServer>(lbtest::ServerOptions{.certificate = certificate});
                       ReleaseFile& victim = s.release.files[1];  // kVictim
                       s.other->PutFile("files/a.bin", victim.bytes);
                       victim.url = "https://localhost:" + std::to_string(s.other->Port()) + "/files/a.bin";
                       PublishManifest(*s.origin, s.release.ManifestJson());
                     },
                     .expected = kNetworkFailure});
  }

  // The signature of a signed release: a network failure reads as one of the
  // manifest's, every other fault as a signature that does not verify.
  auto signature_rule = [](FaultRule rule) {
    return [rule](Scene& s) { s.origin->SetRule(kSignaturePath, rule); };
  };
  cases.push_back({.name = "signature answered 404", .group = "server: signature",
                   .fault = signature_rule({.status = 404}), .expected = kSignatureMismatch,
                   .signed_release = true});
  cases.push_back({.name = "signature answered 500", .group = "server: signature",
                   .fault = signature_rule({.status = 500}), .expected = kSignatureMismatch,
                   .signed_release = true});
  cases.push_back({.name = "endless signature", .group = "server: signature",
                   .fault = signature_rule({.endless = true, .endless_limit = 64ull << 20}),
                   .expected = kSignatureMismatch, .signed_release = true});
  cases.push_back({.name = "signature cut by a clean close", .group = "server: signature",
                   .fault = signature_rule({.close_after = 300}), .expected = kSignatureMismatch,
                   .signed_release = true});
  cases.push_back({.name = "signature served from other content", .group = "server: signature",
                   .fault = [](Scene& s) {
                     s.origin->PutFile("other/manifest.json.sig", lbtest::RandomBytes(830, 556));
                     s.origin->SetRule(kSignaturePath, {.content = "other/manifest.json.sig"});
                   },
                   .expected = kSignatureMismatch, .signed_release = true});
  cases.push_back({.name = "signature redirected to http", .group = "server: signature",
                   .fault = [](Scene& s) {
                     s.plain = std::make_unique<PlainListener>(s.dir);
                     s.origin->SetRule(kSignaturePath,
                                       {.redirect = "http://localhost:" +
                                                    std::to_string(s.plain->port()) + kSignaturePath});
                   },
                   .expected = kNetworkFailure, .check = nothing_followed, .signed_release = true});

  // Manifest bodies.
  cases.push_back({.name = "endless manifest", .group = "server: body length",
                   .fault = manifest_rule({.endless = true, .endless_limit = 64ull << 20}),
                   .expected = kManifestTooLarge});
  return cases;
}

class HostileServerTest : public lbtest::TempDirTest, public ::testing::WithParamInterface<ServerCase> {};

TEST_P(HostileServerTest, EndsWithItsMessageAndTheNextRunFinishes) {
  const ServerCase& c = GetParam();
  auto Run = [&c](const std::wstring& app_dir) {
    if (c.signed_release) return RunInstallerExe(app_dir, 180000, lbtest::SignedInstallerExe());
    return c.own_process ? RunInstallerExe(app_dir) : RunWorker(app_dir);
  };
  const int failures_before = FailedParts();
  Scene scene;
  scene.release = SmallRelease("/files/3.1.0/");
  scene.app_dir = Path(L"app");
  scene.dir = dir();
  PutUserFiles(scene.app_dir);

  std::unique_ptr<FaultServer> origin;
  auto start_origin = [&](const std::string& certificate) {
    origin.reset();  // the port is free again before the next server takes it
    origin = std::make_unique<FaultServer>(lbtest::ServerOptions{.port = lbtest::UpdateOriginPort(),
                                                                 .certificate = certificate});
    scene.origin = origin.get();
  };
  start_origin("localhost");
  PublishRelease(*origin, scene.release, c.signed_release);

  if (c.after_partial) {
    origin->SetRule(scene.Victim().url, {.drop_after = kPartialAt});
    const Outcome first = Run(scene.app_dir);
    EXPECT_EQ(first.Text(), kInterrupted) << "the run that leaves the partial file";
    origin->ClearRules();
    scene.partial = lbtest::FileSize(scene.PartPath());
    ASSERT_GT(scene.partial, 0u) << "no partial file to resume";
    ASSERT_LT(scene.partial, scene.Victim().bytes.size());
  }

  if (c.origin_certificate != "localhost") {
    start_origin(c.origin_certificate);
    PublishRelease(*origin, scene.release, c.signed_release);
  }
  origin->ClearRequests();
  c.fault(scene);
  const Outcome faulty = Run(scene.app_dir);
  EXPECT_TRUE(faulty.finished);
  EXPECT_EQ(faulty.Text(), c.expected);
  const std::vector<ServerRequest> requests = origin->Requests();
  if (c.check) c.check(scene, requests);
  Audit after_fault = AuditFolder(scene.app_dir, scene.release, nullptr, UserFiles());
  if (c.first_honest != std::string(kSuccess)) {
    // The lying 206 left a partial file that is no prefix: the next run's digest removes it.
    std::erase_if(after_fault.problems, [](const std::string& problem) {
      return problem.find("that is not a prefix of its file") != std::string::npos;
    });
  }
  EXPECT_TRUE(after_fault.problems.empty()) << "after the faulty run:" << after_fault.Describe();

  // An honest server: the next run finishes.
  if (c.origin_certificate != "localhost") start_origin("localhost");
  scene.other.reset();
  scene.plain.reset();
  scene.release = SmallRelease("/files/3.1.0/");
  origin->ClearRules();
  PublishRelease(*origin, scene.release, c.signed_release);
  Outcome next = Run(scene.app_dir);
  if (c.first_honest != std::string(kSuccess)) {
    EXPECT_EQ(next.Text(), c.first_honest) << "the first run after the fault";
    EXPECT_FALSE(lbtest::PathExists(scene.PartPath())) << "the file that failed its digest goes";
    next = Run(scene.app_dir);
  }
  EXPECT_EQ(next.Text(), kSuccess) << "the run after the fault";
  const Audit installed = VerifyInstalled(scene.app_dir, scene.release);
  EXPECT_TRUE(installed.problems.empty()) << installed.Describe();
  const Audit final_audit = AuditFolder(scene.app_dir, scene.release, nullptr, UserFiles());
  EXPECT_TRUE(final_audit.problems.empty()) << final_audit.Describe();

  RecordCase(c.group, c.name, FailedParts() == failures_before,
             after_fault.data_lost || final_audit.data_lost, faulty.Text());
}

void PrintTo(const ServerCase& c, std::ostream* out) { *out << c.name; }

INSTANTIATE_TEST_SUITE_P(Faults, HostileServerTest, ::testing::ValuesIn(Cases()), lbtest::CaseName());

// Connections cut at seeded random offsets in every file of a release, one
// file per run, by a reset or by a clean close (which WinHTTP may read as the
// end of the body). Either ends the run with "A conexao foi interrompida.",
// keeps every byte that arrived, and the next run asks only for the rest: no
// byte is fetched twice.
class DroppedConnectionTest : public lbtest::TempDirTest {};

TEST_F(DroppedConnectionTest, EveryFileCutOnceAtARandomOffset) {
  const std::uint32_t seed = Seed("dropped connections");
  std::mt19937 random(seed);
  const int count = Scaled(8, 24);
  Release release{"3.2.0", 320};
  std::uniform_int_distribution<std::size_t> sizes(100000, 1500000);
  for (int i = 0; i < count; ++i) {
    release.files.push_back(MakeFile("data/set" + std::to_string(i % 3) + "/part" + std::to_string(i) + ".bin",
                                     sizes(random), 4000 + i, "/files/3.2.0/"));
  }
  release.updater = MakeFile("LanternbrookUpdater.exe", sizes(random), 4999, "/files/3.2.0/");

  FaultServer server({.port = lbtest::UpdateOriginPort()});
  Publish(server, release);
  struct Cut {
    const ReleaseFile* file;
    std::uint64_t offset;
    bool reset;  // a TCP reset; otherwise a clean close
  };
  std::vector<Cut> cuts;
  std::vector<const ReleaseFile*> all;
  for (const ReleaseFile& file : release.files) all.push_back(&file);
  all.push_back(&release.updater);
  for (const ReleaseFile* file : all) {
    std::uniform_int_distribution<std::uint64_t> offset(1, file->bytes.size() - 1);
    Cut cut{file, offset(random), std::bernoulli_distribution(0.7)(random)};
    FaultRule rule{.count = 1};
    (cut.reset ? rule.drop_after : rule.close_after) = cut.offset;
    server.SetRule(file->url, rule);
    cuts.push_back(cut);
  }

  const std::wstring app_dir = Path(L"app");
  PutUserFiles(app_dir);
  std::uint64_t fetched = 0;
  // A cut is judged over two runs: the one it breaks and the one that resumes it.
  int failures_at_cut = FailedParts();
  bool lost_at_cut = false;
  for (std::size_t i = 0; i <= cuts.size(); ++i) {
    const int failures_now = FailedParts();
    server.ClearRequests();
    const Outcome outcome = RunWorker(app_dir);
    const std::vector<ServerRequest> requests = server.Requests();
    for (const ServerRequest& request : requests) {
      if (request.path != kManifestPath) fetched += request.bytes;
    }
    const Audit audit = AuditFolder(app_dir, release, nullptr, UserFiles());
    EXPECT_TRUE(audit.problems.empty()) << "run " << (i + 1) << ":" << audit.Describe();
    if (i > 0) {
      const Cut& before = cuts[i - 1];
      const ServerRequest* resumed = RequestFor(requests, before.file->url);
      EXPECT_NE(resumed, nullptr) << before.file->path << " was not asked for again";
      if (resumed) {
        EXPECT_EQ(resumed->range, "bytes=" + std::to_string(before.offset) + "-")
            << before.file->path << ": the resumed request should start where the cut was";
        EXPECT_EQ(resumed->status, 206);
      }
      std::ostringstream name;
      name << before.file->path << " cut at " << before.offset << " of " << before.file->bytes.size()
           << (before.reset ? " by a reset" : " by a close");
      RecordCase("server: dropped connections", name.str(), FailedParts() == failures_at_cut,
                 lost_at_cut || audit.data_lost);
    }
    failures_at_cut = failures_now;
    lost_at_cut = audit.data_lost;
    if (i < cuts.size()) {
      const Cut& cut = cuts[i];
      std::wstring part = StagedPart(app_dir, cut.file->path);
      EXPECT_EQ(outcome.Text(), kInterrupted)
          << cut.file->path << (cut.reset ? " reset" : " closed") << " after " << cut.offset;
      EXPECT_EQ(lbtest::FileSize(part), cut.offset) << cut.file->path << ": every byte that arrived is kept";
    } else {
      EXPECT_EQ(outcome.Text(), kSuccess);
      const Audit installed = VerifyInstalled(app_dir, release);
      EXPECT_TRUE(installed.problems.empty()) << installed.Describe();
    }
  }
  std::ostringstream figures;
  figures << "dropped connections: " << cuts.size() << " cuts (seed " << seed << "); release "
          << release.Size() << " bytes, fetched " << fetched << " (fetched again: "
          << (fetched > release.Size() ? fetched - release.Size() : 0) << ")";
  RecordFigures(figures.str());
  EXPECT_EQ(fetched, release.Size()) << "no byte is fetched twice after a reset or a close";
}

}  // namespace
