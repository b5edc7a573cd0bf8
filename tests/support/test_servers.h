#pragma once
// Real HTTPS servers on loopback for the tests, started and stopped by the
// test itself (from inside Wine, as Linux processes):
//
//   FaultServer   tests/support/fault_server.py: python3, HTTP/1.1 keep-alive,
//                 Range, and per-path faults set with SetRule().
//   NginxServer   /usr/sbin/nginx with tests/support/nginx.conf.in: the
//                 realistic server (keep-alive, Range -> 206, sendfile).
//
// Both serve the files under Root(), log every request (Requests()), and stop
// in their destructor. They also end by themselves after
// ServerOptions::lifetime_seconds, and within about 15 seconds once the test
// process dies: a thread of the server object rewrites a heartbeat file that
// the server watches. So none outlives its test.
// A server on a fixed port waits (up to bind_wait_seconds) while another
// process holds that port, which serialises tests that use the update origin.
//
// Construct, use and destroy a server on one thread; Requests() and SetRule()
// may be called while a request runs on another thread.
#include <atomic>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace lbtest {

// The port of UpdateServerOrigin (443 when it names none).
std::uint16_t UpdateOriginPort();

// One request as the server logged it once it was answered.
struct ServerRequest {
  std::string path;        // request target as sent, query included
  std::string range;       // the Range header, empty when none was sent
  std::string user_agent;  // the User-Agent header
  int status = 0;          // status answered
  std::uint64_t bytes = 0; // body bytes handed to the socket
};

struct ServerOptions {
  std::uint16_t port = 0;                 // 0: a free port
  std::string certificate = "localhost";  // in CertsDir(): localhost, otherhost, expired, selfsigned
  std::wstring root;                      // folder to serve; empty: a fresh folder of the server's
  double lifetime_seconds = 600;          // the server exits by itself after this
  double bind_wait_seconds = 240;         // with a fixed port: how long to wait for it
};

// What is common to both servers.
class TestServer {
 public:
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;
  virtual ~TestServer();  // Stop()

  std::uint16_t Port() const { return port_; }
  std::wstring Origin() const;                    // L"https://localhost:<port>"
  std::wstring Url(const std::string& path) const;  // Origin() + path ("/a/b.bin?x=1")
  const std::wstring& Root() const { return root_; }      // Windows path of the served folder
  const std::wstring& Folder() const { return folder_; }  // the server's own folder (config, logs)

  // Writes `bytes` to Root()\<relative> ('/' separated), creating folders.
  void PutFile(const std::string& relative, const std::string& bytes) const;

  // Every request answered since start or the last ClearRequests(), in the
  // order they arrived. Waits (up to 10 s) for requests still being answered.
  std::vector<ServerRequest> Requests() const;
  // Forgets the requests logged so far.
  void ClearRequests();

  // Stops the server and waits for it to end; idempotent.
  void Stop();

 protected:
  TestServer(const std::string& kind, const ServerOptions& options);
  // Starts `script` (in tests/support) with `arguments` (already shell-quoted)
  // plus the common options, and waits until it reports its port.
  void Launch(const std::string& script, const std::string& arguments);
  // Reads the log and returns every entry, in file order.
  virtual std::vector<ServerRequest> ReadLog(bool& settled) const = 0;
  std::string UnixFolder() const;
  std::string CertificatePath(const char* extension) const;

  ServerOptions options_;
  std::wstring folder_;
  std::wstring root_;
  std::uint16_t port_ = 0;
  std::string pid_;
  std::size_t skipped_ = 0;  // entries hidden by ClearRequests()
  std::atomic<bool> beating_{false};
  std::thread heartbeat_;
};

// Per-path behaviour of the FaultServer; unset fields mean "as usual".
struct FaultRule {
  std::optional<int> status;                    // answer this status (body: the file or `body`)
  std::optional<std::string> body;              // body text sent with `status`
  std::optional<std::string> content;           // serve this other file (relative to the root)
  bool ignore_range = false;                    // always 200 with the whole file
  bool ignore_closed_range = false;             // 200 with the whole file to "bytes=A-B"
  std::optional<std::uint64_t> range_offset;    // 206 with the file from this offset
  bool chunked = false;                         // chunked transfer coding
  std::optional<std::uint64_t> chunk_size;      // bytes per send (and per chunk)
  std::optional<std::uint64_t> announce_length; // Content-Length to announce
  bool endless = false;                         // a body that never ends
  std::optional<std::uint64_t> endless_limit;   // ... until this many bytes
  std::optional<std::uint64_t> drop_after;      // reset the connection after N body bytes
  std::optional<std::uint64_t> close_after;     // close it cleanly after N body bytes
  std::optional<int> drop_delay_ms;             // pause before the drop (default 200)
  std::optional<std::string> redirect;          // Location (status default 302)
  std::optional<int> delay_ms;                  // wait before answering
  int count = 0;                                // only the next N requests (0: all)
};

class FaultServer : public TestServer {
 public:
  explicit FaultServer(ServerOptions options = {});

  // `path` is the request path, with or without its query ("/a.bin").
  void SetRule(const std::string& path, const FaultRule& rule);
  void ClearRule(const std::string& path);
  void ClearRules();

 private:
  std::vector<ServerRequest> ReadLog(bool& settled) const override;
  void WriteRules() const;

  std::map<std::string, FaultRule> rules_;
};

class NginxServer : public TestServer {
 public:
  explicit NginxServer(ServerOptions options = {});

 private:
  std::vector<ServerRequest> ReadLog(bool& settled) const override;
};

}  // namespace lbtest
