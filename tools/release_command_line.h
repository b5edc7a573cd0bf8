#pragma once
// The command line of lanternbrook-release. Pure code (no <windows.h>);
// called once, on the main thread.
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

// lanternbrook-release --help | -h | /?
struct HelpCommand {};

// lanternbrook-release make <folder> --version V --build N --url-base B [--output F]
//                           [--sign-key K]
struct MakeCommand {
  std::wstring folder;
  std::string version;      // UTF-8, not empty
  std::uint64_t build = 0;  // not 0
  std::string url_base;     // as CheckUrlBase returns it
  std::wstring output;      // empty: <folder>\manifest.json
  std::wstring sign_key;    // private key file; empty: no <manifest>.sig is written
  bool blocks = true;       // block lists for files of BlockListMinSize and more (--no-blocks: none)
};

// lanternbrook-release check <manifest> (--folder D | --base-url https://...)
//                            [--public-key P]
struct CheckCommand {
  std::wstring manifest;
  std::wstring public_key;  // set: <manifest>.sig must hold a signature by this key
  std::wstring folder;   // set for a check against a folder
  std::string base_url;  // set for a check against a server; no trailing '/'
};

// lanternbrook-release diff <old manifest> <new manifest>
struct DiffCommand {
  std::wstring old_manifest;  // a file, or an https:// address
  std::wstring new_manifest;
};

// lanternbrook-release keygen <private key file> <public key file>
struct KeygenCommand {
  std::wstring private_key;
  std::wstring public_key;
};

// lanternbrook-release sign <manifest> --sign-key <private key file>
struct SignCommand {
  std::wstring manifest;
  std::wstring sign_key;
};

using ReleaseCommand = std::variant<HelpCommand, MakeCommand, CheckCommand, DiffCommand,
                                    KeygenCommand, SignCommand>;

// Parses the arguments after the program name. Options take their value as
// the next argument or after '=' (--build=7). Throws UsageError with a
// message naming the argument at fault.
ReleaseCommand ParseReleaseCommandLine(const std::vector<std::wstring>& arguments);

// The --help text (UTF-8, ends with a line feed).
extern const char ReleaseUsageText[];
