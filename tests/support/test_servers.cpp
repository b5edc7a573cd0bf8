#include "tests/support/test_servers.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "common/text.h"
#include "common/win_handles.h"
#include "tests/support/test_support.h"
#include "transfer/update_origin.h"

namespace lbtest {
namespace {

// --- a reader for the flat JSON objects of the request logs -----------------

// Parses {"key": "text" | number | null, ...}; false when the line is not one.
bool ParseFlatObject(std::string_view line, std::map<std::string, std::string>& fields) {
  std::size_t i = 0;
  auto skip = [&] {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
  };
  auto string = [&](std::string& out) {
    if (i >= line.size() || line[i] != '"') return false;
    ++i;
    while (i < line.size() && line[i] != '"') {
      char c = line[i++];
      if (c != '\\') {
        out += c;
        continue;
      }
      if (i >= line.size()) return false;
      char e = line[i++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u': {
          if (i + 4 > line.size()) return false;
          unsigned code = std::stoul(std::string(line.substr(i, 4)), nullptr, 16);
          i += 4;
          AppendUtf8(out, static_cast<char32_t>(code));
          break;
        }
        default: out += e;
      }
    }
    if (i >= line.size()) return false;
    ++i;
    return true;
  };
  skip();
  if (i >= line.size() || line[i] != '{') return false;
  ++i;
  for (;;) {
    skip();
    if (i < line.size() && line[i] == '}') return true;
    std::string key, value;
    if (!string(key)) return false;
    skip();
    if (i >= line.size() || line[i] != ':') return false;
    ++i;
    skip();
    if (i < line.size() && line[i] == '"') {
      if (!string(value)) return false;
    } else {
      while (i < line.size() && line[i] != ',' && line[i] != '}') value += line[i++];
      while (!value.empty() && value.back() == ' ') value.pop_back();
      if (value == "null") value.clear();
    }
    fields[key] = value;
    skip();
    if (i < line.size() && line[i] == ',') {
      ++i;
      continue;
    }
    return i < line.size() && line[i] == '}';
  }
}

ServerRequest ToRequest(const std::map<std::string, std::string>& fields) {
  ServerRequest request;
  auto get = [&](const char* key) {
    auto it = fields.find(key);
    return it == fields.end() ? std::string() : it->second;
  };
  request.path = get("path");
  request.range = get("range");
  request.user_agent = get("user_agent");
  request.status = std::atoi(get("status").c_str());
  request.bytes = std::strtoull(get("bytes").c_str(), nullptr, 10);
  return request;
}

std::vector<std::string> ReadLines(const std::wstring& path) {
  std::vector<std::string> lines;
  std::ifstream in{std::filesystem::path(path), std::ios::binary};
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

std::string RuleJson(const FaultRule& rule) {
  std::string out;
  auto add = [&](const char* key, const std::string& value) {
    out += out.empty() ? "{" : ", ";
    out += JsonString(key) + ": " + value;
  };
  if (rule.status) add("status", std::to_string(*rule.status));
  if (rule.body) add("body", JsonString(*rule.body));
  if (rule.content) add("content", JsonString(*rule.content));
  if (rule.ignore_range) add("ignore_range", "true");
  if (rule.ignore_closed_range) add("ignore_closed_range", "true");
  if (rule.range_offset) add("range_offset", std::to_string(*rule.range_offset));
  if (rule.chunked) add("chunked", "true");
  if (rule.chunk_size) add("chunk_size", std::to_string(*rule.chunk_size));
  if (rule.announce_length) add("announce_length", std::to_string(*rule.announce_length));
  if (rule.endless) add("endless", "true");
  if (rule.endless_limit) add("endless_limit", std::to_string(*rule.endless_limit));
  if (rule.drop_after) add("drop_after", std::to_string(*rule.drop_after));
  if (rule.close_after) add("close_after", std::to_string(*rule.close_after));
  if (rule.drop_delay_ms) add("drop_delay_ms", std::to_string(*rule.drop_delay_ms));
  if (rule.redirect) add("redirect", JsonString(*rule.redirect));
  if (rule.delay_ms) add("delay_ms", std::to_string(*rule.delay_ms));
  if (rule.count) add("count", std::to_string(rule.count));
  return out.empty() ? "{}" : out + "}";
}

// Replaces `path` with `text` in one rename, so a reader never sees half a file.
void WriteFileAtomically(const std::wstring& path, const std::string& text) {
  const std::wstring temporary = path + L".tmp";
  WriteFileBytes(temporary, text);
  if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    ADD_FAILURE() << "cannot replace " << Narrow(path);
  }
}

// A shell test for a live (not zombie) process whose command line holds a
// text, usable as `alive <pid> <text>`: process ids come round again within a
// run, and a server that ended by itself must not have a stranger killed in
// its name.
constexpr char kAliveFunction[] =
    "alive() { grep -qaF -- \"$2\" /proc/$1/cmdline 2>/dev/null && "
    "! grep -q '^[0-9]* (.*) Z' /proc/$1/stat 2>/dev/null; }; ";

}  // namespace

std::uint16_t UpdateOriginPort() {
  const std::wstring_view origin(UpdateServerOrigin);
  const std::size_t host = origin.find(L"://");
  const std::size_t colon = origin.find(L':', host == std::wstring_view::npos ? 0 : host + 3);
  if (colon == std::wstring_view::npos) return 443;
  return static_cast<std::uint16_t>(std::wcstoul(std::wstring(origin.substr(colon + 1)).c_str(),
                                                 nullptr, 10));
}

// --- TestServer --------------------------------------------------------------

TestServer::TestServer(const std::string& kind, const ServerOptions& options) : options_(options) {
  static std::atomic<int> counter{0};
  folder_ = TestRunDir() + L"\\servers\\" + Widen(kind) + L"-" +
            std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(folder_), ignored);
  std::filesystem::create_directories(std::filesystem::path(folder_));
  root_ = options_.root.empty() ? folder_ + L"\\root" : options_.root;
  std::filesystem::create_directories(std::filesystem::path(root_), ignored);
}

TestServer::~TestServer() {
  Stop();
  if (!::testing::Test::HasFailure()) {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(folder_), ignored);
  }
}

std::wstring TestServer::Origin() const { return L"https://localhost:" + std::to_wstring(port_); }

std::wstring TestServer::Url(const std::string& path) const { return Origin() + Widen(path); }

void TestServer::PutFile(const std::string& relative, const std::string& bytes) const {
  WriteFileBytes(InFolder(root_, relative), bytes);
}

std::string TestServer::UnixFolder() const { return WindowsToUnixPath(folder_); }

std::string TestServer::CertificatePath(const char* extension) const {
  return WindowsToUnixPath(CertsDir()) + "/" + options_.certificate + extension;
}

void TestServer::Launch(const std::string& script, const std::string& arguments) {
  // The server lives while this file keeps changing.
  const std::wstring heartbeat = folder_ + L"\\heartbeat";
  beating_ = true;
  heartbeat_ = std::thread([this, heartbeat] {
    for (unsigned beat = 0; beating_; ++beat) {
      FileHandle file(CreateFileW(heartbeat.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
      DWORD written = 0;
      if (file) WriteFile(file.get(), &beat, sizeof beat, &written, nullptr);
      file.reset();
      for (int i = 0; i < 10 && beating_; ++i) Sleep(50);
    }
  });
  const std::string folder = UnixFolder();
  const std::string port_file = folder + "/port";
  std::ostringstream command;
  command << "setsid /usr/bin/python3 " << ShellQuote(std::string(LB_TEST_SUPPORT_DIR) + "/" + script)
          << " --port " << options_.port << " --port-file " << ShellQuote(port_file)
          << " --bind-wait " << (options_.port ? options_.bind_wait_seconds : 0)
          << " --lifetime " << options_.lifetime_seconds << " --heartbeat "
          << ShellQuote(folder + "/heartbeat")
          << " --cert " << ShellQuote(CertificatePath(".pem"))
          << " --key " << ShellQuote(CertificatePath(".key")) << " " << arguments
          << " </dev/null >" << ShellQuote(folder + "/server.out") << " 2>&1 & echo $! >"
          << ShellQuote(folder + "/pid");
  if (RunUnix(command.str()) != 0) throw std::runtime_error("cannot start " + script);
  pid_ = ReadFileBytes(folder_ + L"\\pid");
  while (!pid_.empty() && (pid_.back() == '\n' || pid_.back() == '\r')) pid_.pop_back();

  const std::wstring port_path = folder_ + L"\\port";
  const DWORD limit_ms = static_cast<DWORD>((options_.port ? options_.bind_wait_seconds : 0) * 1000) + 30000;
  const DWORD start = GetTickCount();
  DWORD last_check = start;
  for (;;) {
    if (PathExists(port_path)) {
      port_ = static_cast<std::uint16_t>(std::atoi(ReadFileBytes(port_path).c_str()));
      if (port_ != 0) return;
    }
    const DWORD now = GetTickCount();
    if (now - last_check >= 1000) {
      last_check = now;
      if (RunUnix(std::string(kAliveFunction) + "alive " + pid_ + " " + ShellQuote(folder)) != 0) break;
    }
    if (now - start >= limit_ms) break;
    Sleep(20);
  }
  const std::string output = ReadFileBytes(folder_ + L"\\server.out");
  Stop();
  throw std::runtime_error(script + " did not start: " + output);
}

void TestServer::Stop() {
  beating_ = false;
  if (heartbeat_.joinable()) heartbeat_.join();
  if (pid_.empty()) return;
  // The server's folder is in its command line (--port-file).
  const std::string self = pid_ + " " + ShellQuote(UnixFolder());
  RunUnix(std::string(kAliveFunction) + "alive " + self + " && kill -TERM " + pid_ +
          " 2>/dev/null; i=0; while alive " + self + "; do i=$((i+1)); if [ $i -gt 400 ]; then kill -KILL " +
          pid_ + " 2>/dev/null; break; fi; sleep 0.05; done");
  pid_.clear();
}

std::vector<ServerRequest> TestServer::Requests() const {
  std::vector<ServerRequest> entries;
  const DWORD start = GetTickCount();
  for (;;) {
    bool settled = true;
    entries = ReadLog(settled);
    if (settled || GetTickCount() - start > 10000) break;
    Sleep(20);
  }
  if (skipped_ >= entries.size()) return {};
  return std::vector<ServerRequest>(entries.begin() + static_cast<std::ptrdiff_t>(skipped_),
                                    entries.end());
}

void TestServer::ClearRequests() {
  skipped_ = 0;
  skipped_ = Requests().size();
}

// --- FaultServer -------------------------------------------------------------

FaultServer::FaultServer(ServerOptions options) : TestServer("fault", options) {
  WriteRules();
  const std::string folder = UnixFolder();
  Launch("fault_server.py", "--root " + ShellQuote(WindowsToUnixPath(root_)) + " --rules " +
                                ShellQuote(folder + "/rules.json") + " --log " +
                                ShellQuote(folder + "/requests.jsonl"));
}

void FaultServer::SetRule(const std::string& path, const FaultRule& rule) {
  rules_[path] = rule;
  WriteRules();
}

void FaultServer::ClearRule(const std::string& path) {
  rules_.erase(path);
  WriteRules();
}

void FaultServer::ClearRules() {
  rules_.clear();
  WriteRules();
}

void FaultServer::WriteRules() const {
  std::string text = "{";
  for (const auto& [path, rule] : rules_) {
    if (text.size() > 1) text += ",\n ";
    text += JsonString(path) + ": " + RuleJson(rule);
  }
  WriteFileAtomically(folder_ + L"\\rules.json", text + "}\n");
}

std::vector<ServerRequest> FaultServer::ReadLog(bool& settled) const {
  // "begin" lines mark requests still being answered; "end" lines carry the entry.
  std::map<long, ServerRequest> answered;
  std::size_t begun = 0;
  for (const std::string& line : ReadLines(folder_ + L"\\requests.jsonl")) {
    std::map<std::string, std::string> fields;
    if (!ParseFlatObject(line, fields)) continue;
    const long id = std::atol(fields["id"].c_str());
    if (fields["event"] == "begin") ++begun;
    else answered[id] = ToRequest(fields);
  }
  settled = answered.size() >= begun;
  std::vector<ServerRequest> entries;
  for (auto& [id, request] : answered) entries.push_back(std::move(request));
  return entries;
}

// --- NginxServer -------------------------------------------------------------

NginxServer::NginxServer(ServerOptions options) : TestServer("nginx", options) {
  Launch("nginx_server.py", "--prefix " + ShellQuote(UnixFolder() + "/nginx") + " --root " +
                                ShellQuote(WindowsToUnixPath(root_)));
}

std::vector<ServerRequest> NginxServer::ReadLog(bool& settled) const {
  // nginx writes an entry as it finishes a response; wait until the log is still.
  static constexpr int kQuietReads = 2;
  std::vector<std::string> lines = ReadLines(folder_ + L"\\nginx\\access.log");
  for (int quiet = 0; quiet < kQuietReads;) {
    Sleep(30);
    std::vector<std::string> again = ReadLines(folder_ + L"\\nginx\\access.log");
    if (again == lines) ++quiet;
    else quiet = 0, lines.swap(again);
  }
  settled = true;
  std::vector<ServerRequest> entries;
  for (const std::string& line : lines) {
    std::map<std::string, std::string> fields;
    if (ParseFlatObject(line, fields)) entries.push_back(ToRequest(fields));
  }
  return entries;
}

}  // namespace lbtest
