#include "manifest/release_key_files.h"

#include <stdexcept>

namespace {

constexpr char kPublicHeader[] = "lanternbrook-release public key";
constexpr char kPrivateHeader[] = "lanternbrook-release private key";
constexpr char kSignaturesHeader[] = "lanternbrook-release signatures";

[[noreturn]] void Fail(const std::string& reason) { throw std::runtime_error(reason); }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Lower-case hex of exactly `bytes` bytes (any length when `bytes` is 0).
std::string FromHex(std::string_view hex, std::size_t bytes, const char* what) {
  if (hex.empty() || hex.size() % 2 != 0 || (bytes != 0 && hex.size() != bytes * 2)) {
    Fail(std::string(what) + " has the wrong length");
  }
  std::string raw;
  raw.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexValue(hex[i]);
    const int low = HexValue(hex[i + 1]);
    if (high < 0 || low < 0) Fail(std::string(what) + " is not lower-case hex");
    raw += static_cast<char>(high * 16 + low);
  }
  return raw;
}

// The lines of `text`; each must end with a line feed.
std::vector<std::string_view> Lines(std::string_view text) {
  if (text.empty()) Fail("the file is empty");
  if (text.back() != '\n') Fail("the last line does not end with a line feed");
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end + 1);
  }
  return lines;
}

// The rest of `line` after `label` and one blank.
std::string_view After(std::string_view line, std::string_view label, const char* what) {
  if (!line.starts_with(label) || line.size() <= label.size() || line[label.size()] != ' ') {
    Fail(std::string("expected the ") + what + " line");
  }
  return line.substr(label.size() + 1);
}

}  // namespace

std::string HexOf(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

std::string FormatReleaseKeyFile(ReleaseKeyKind kind, const ReleaseKeyFile& key) {
  return std::string(kind == ReleaseKeyKind::kPublic ? kPublicHeader : kPrivateHeader) +
         "\nalgorithm " + ReleaseSignatureAlgorithm + "\nkey-id " + HexOf(key.key_id) + "\nkey " +
         HexOf(key.blob) + "\n";
}

ReleaseKeyFile ParseReleaseKeyFile(ReleaseKeyKind kind, std::string_view text) {
  const std::vector<std::string_view> lines = Lines(text);
  const char* header = kind == ReleaseKeyKind::kPublic ? kPublicHeader : kPrivateHeader;
  if (lines[0] != header) Fail(std::string("the first line is not \"") + header + "\"");
  if (lines.size() != 4) Fail("expected 4 lines, found " + std::to_string(lines.size()));
  if (After(lines[1], "algorithm", "algorithm") != ReleaseSignatureAlgorithm) {
    Fail(std::string("the algorithm is not ") + ReleaseSignatureAlgorithm);
  }
  ReleaseKeyFile key;
  key.key_id = FromHex(After(lines[2], "key-id", "key-id"), ReleaseKeyIdBytes, "the key id");
  key.blob = FromHex(After(lines[3], "key", "key"), 0, "the key");
  return key;
}

std::string ReleaseSignaturesHeader() { return std::string(kSignaturesHeader) + "\n"; }

std::string FormatReleaseSignature(const ReleaseSignature& signature) {
  return std::string("signature ") + ReleaseSignatureAlgorithm + " " + HexOf(signature.key_id) +
         " " + HexOf(signature.signature) + "\n";
}

std::vector<ReleaseSignature> ParseReleaseSignatures(std::string_view text) {
  if (text.size() > MaxSignatureFileBytes) {
    Fail("the file is larger than " + std::to_string(MaxSignatureFileBytes) + " bytes");
  }
  const std::vector<std::string_view> lines = Lines(text);
  if (lines[0] != kSignaturesHeader) {
    Fail(std::string("the first line is not \"") + kSignaturesHeader + "\"");
  }
  if (lines.size() < 2) Fail("the file holds no signature");
  std::vector<ReleaseSignature> signatures;
  const std::string prefix = std::string(ReleaseSignatureAlgorithm) + " ";
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::string_view rest = After(lines[i], "signature", "signature");
    if (!rest.starts_with(prefix)) {
      Fail("line " + std::to_string(i + 1) + ": the algorithm is not " + ReleaseSignatureAlgorithm);
    }
    rest.remove_prefix(prefix.size());
    const std::size_t blank = rest.find(' ');
    if (blank == std::string_view::npos) Fail("line " + std::to_string(i + 1) + ": no signature");
    ReleaseSignature signature;
    signature.key_id = FromHex(rest.substr(0, blank), ReleaseKeyIdBytes, "a key id");
    signature.signature = FromHex(rest.substr(blank + 1), ReleaseSignatureBytes, "a signature");
    signatures.push_back(std::move(signature));
  }
  return signatures;
}
