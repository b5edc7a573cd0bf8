#include "tools/release_command_line.h"

#include <map>
#include <optional>
#include <string_view>
#include <utility>

#include "common/text.h"
#include "tools/release_errors.h"
#include "tools/release_text.h"

const char ReleaseUsageText[] =
    "Usage:\n"
    "  lanternbrook-release make <release folder> --version <text> --build <number>\n"
    "                            --url-base <base> [--output <manifest file>]\n"
    "                            [--sign-key <private key file>] [--no-blocks]\n"
    "  lanternbrook-release check <manifest file> --folder <release folder>\n"
    "                             [--public-key <public key file>]\n"
    "  lanternbrook-release check <manifest file> --base-url <https://host[:port]>\n"
    "                             [--public-key <public key file>]\n"
    "  lanternbrook-release diff <old manifest> <new manifest>\n"
    "  lanternbrook-release keygen <private key file> <public key file>\n"
    "  lanternbrook-release sign <manifest file> --sign-key <private key file>\n"
    "  lanternbrook-release --help | -h | /?\n"
    "\n"
    "make   Writes the update manifest of a release folder. Every file below the\n"
    "       folder is listed with its size and SHA-256, sorted by path, with '/'\n"
    "       between names; LanternbrookUpdater.exe at the top of the folder becomes\n"
    "       \"bootstrap_updater\". Each url is <base>/<percent-encoded path>, where\n"
    "       <base> is a path starting with \"/\" (fetched from the installer's update\n"
    "       server) or an absolute https:// address. The manifest goes to\n"
    "       <release folder>\\manifest.json unless --output names another file; the\n"
    "       manifest itself and any .install-staging folder are never listed.\n"
    "       With --sign-key, <manifest>.sig is written beside it: the signature\n"
    "       an installer built with the matching public key requires.\n"
    "       Refused: an empty file, a missing LanternbrookUpdater.exe, a path the\n"
    "       installer would refuse, a name that is not valid UTF-8, two names that\n"
    "       differ only in letter case, a manifest larger than 2097152 bytes.\n"
    "       Every file of 1 MiB or more gets a block list beside it, <file>.lbblocks\n"
    "       (named in its \"blocks\" member), from which installers that hold an\n"
    "       older copy fetch only the blocks that changed; --no-blocks writes none.\n"
    "       Files named *.lbblocks are never listed.\n"
    "\n"
    "check  Reads a manifest (a file or an https:// address) with the installer's\n"
    "       own parser and path and URL rules, then verifies every entry's size\n"
    "       and SHA-256: against the files of a folder (--folder), or against what\n"
    "       the server sends for each url (--base-url; urls starting with \"/\" are\n"
    "       fetched from that origin, https:// urls as written). Prints every\n"
    "       problem: a mismatch, two paths that are one file for Windows (TWICE).\n"
    "       Against a server it also asks for the second half of every file as\n"
    "       the installer does to resume (NORANGE: the answer is not a 206 from\n"
    "       that offset with the rest of the file), and it names the cause of a\n"
    "       failed connection.\n"
    "       LONGPATH: the file's staging path would be longer than 259 characters\n"
    "       in a typical installation.\n"
    "       With --public-key, <manifest>.sig (a file beside it, or the address\n"
    "       followed by .sig) must hold a signature by that key, as the installer\n"
    "       verifies it (SIGNATURE: why none does).\n"
    "\n"
    "diff   What users of the old release download to get the new one. Both\n"
    "       manifests (files, or https:// addresses) are read with the installer's\n"
    "       parser and rules. Each file of the new one, and its updater, is FETCH\n"
    "       (new, or another size or digest) or KEEP; LEFT names a file of the old\n"
    "       release that the new one no longer lists (the installer leaves it in\n"
    "       place). The last line is: fetch N of M files, B of T bytes.\n"
    "\n"
    "keygen Makes a release signing key pair (RSA-3072). Neither file may exist;\n"
    "       the private key file is readable by the current user alone. Keep it\n"
    "       off the update server; build the installer with the public key file\n"
    "       (LANTERNBROOK_RELEASE_PUBLIC_KEY).\n"
    "\n"
    "sign   Adds a signature of the manifest by another key to <manifest>.sig\n"
    "       (made when missing; a signature by the same key is replaced): during\n"
    "       a key rotation the manifest carries both the old and the new key's.\n"
    "\n"
    "Exit status: 0 success; 1 refused, or a check found a problem;\n"
    "             2 the command line is wrong.\n";

namespace {

bool IsHelp(std::wstring_view argument) {
  return argument == L"--help" || argument == L"-h" || argument == L"/?";
}

std::string Shown(std::wstring_view text) { return DescribeName(text); }

// The arguments of one command: positionals and --name value options.
struct SplitArguments {
  std::vector<std::wstring> positionals;
  std::map<std::wstring, std::wstring> options;
};

// `flags` are options without a value; they are kept with an empty one.
SplitArguments Split(const std::vector<std::wstring>& arguments, std::size_t first,
                     const std::vector<std::wstring_view>& known,
                     const std::vector<std::wstring_view>& flags = {}) {
  SplitArguments split;
  for (std::size_t i = first; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    if (!argument.starts_with(L"--")) {
      split.positionals.push_back(argument);
      continue;
    }
    std::wstring name = argument;
    std::optional<std::wstring> value;
    if (auto equals = argument.find(L'='); equals != std::wstring::npos) {
      name = argument.substr(0, equals);
      value = argument.substr(equals + 1);
    }
    bool is_known = false;
    bool is_flag = false;
    for (std::wstring_view k : known) is_known = is_known || name == k;
    for (std::wstring_view f : flags) is_flag = is_flag || name == f;
    if (is_flag) {
      if (value) throw UsageError(Shown(name) + " takes no value");
      value = L"";
    } else if (!is_known) {
      throw UsageError("unknown option " + Shown(name));
    }
    if (!value) {
      if (i + 1 >= arguments.size()) throw UsageError(Shown(name) + " needs a value");
      value = arguments[++i];
    }
    if (!split.options.emplace(name, *value).second) {
      throw UsageError(Shown(name) + " is given twice");
    }
  }
  return split;
}

std::wstring OneFolder(const SplitArguments& split, const char* what) {
  if (split.positionals.empty()) throw UsageError(std::string("missing the ") + what);
  if (split.positionals.size() > 1) {
    throw UsageError("unexpected argument " + Shown(split.positionals[1]));
  }
  if (split.positionals[0].empty()) throw UsageError(std::string("the ") + what + " is empty");
  return split.positionals[0];
}

const std::wstring* Find(const SplitArguments& split, const wchar_t* name) {
  auto it = split.options.find(name);
  return it == split.options.end() ? nullptr : &it->second;
}

const std::wstring& Require(const SplitArguments& split, const wchar_t* name) {
  const std::wstring* value = Find(split, name);
  if (!value) throw UsageError("missing " + Shown(name));
  return *value;
}

// An argument that goes into the manifest as UTF-8.
std::string ManifestText(const std::wstring& value, const char* option) {
  if (FindUnreadableNameChar(value) != std::wstring::npos) {
    throw UsageError(std::string(option) + " \"" + Shown(value) + "\" is not valid UTF-8 text");
  }
  return WideToUtf8(value);
}

MakeCommand ParseMake(const std::vector<std::wstring>& arguments) {
  SplitArguments split =
      Split(arguments, 1, {L"--version", L"--build", L"--url-base", L"--output", L"--sign-key"},
            {L"--no-blocks"});
  MakeCommand make;
  make.folder = OneFolder(split, "release folder");
  make.version = ManifestText(Require(split, L"--version"), "--version");
  if (make.version.empty()) throw UsageError("--version is empty: the installer refuses it");
  make.build = ParseBuildNumber(ManifestText(Require(split, L"--build"), "--build"));
  make.url_base = CheckUrlBase(ManifestText(Require(split, L"--url-base"), "--url-base"));
  if (const std::wstring* output = Find(split, L"--output")) {
    if (output->empty()) throw UsageError("--output is empty");
    make.output = *output;
  }
  if (const std::wstring* key = Find(split, L"--sign-key")) {
    if (key->empty()) throw UsageError("--sign-key is empty");
    make.sign_key = *key;
  }
  make.blocks = !Find(split, L"--no-blocks");
  return make;
}

CheckCommand ParseCheck(const std::vector<std::wstring>& arguments) {
  SplitArguments split = Split(arguments, 1, {L"--folder", L"--base-url", L"--public-key"});
  CheckCommand check;
  check.manifest = OneFolder(split, "manifest file");
  const std::wstring* folder = Find(split, L"--folder");
  const std::wstring* base_url = Find(split, L"--base-url");
  if (!folder == !base_url) throw UsageError("check needs exactly one of --folder and --base-url");
  if (folder) {
    if (folder->empty()) throw UsageError("--folder is empty");
    check.folder = *folder;
  } else {
    std::string base = ManifestText(*base_url, "--base-url");
    if (!base.starts_with("https://")) {
      throw UsageError("--base-url \"" + base + "\": must be an https:// address");
    }
    check.base_url = CheckUrlBase(base);
  }
  if (const std::wstring* key = Find(split, L"--public-key")) {
    if (key->empty()) throw UsageError("--public-key is empty");
    check.public_key = *key;
  }
  return check;
}

// The verb's two names and nothing else (no options). Throws UsageError with
// `missing` when there are fewer, and `empty` when one of them is empty.
std::pair<std::wstring, std::wstring> TwoNames(const std::vector<std::wstring>& arguments,
                                               const char* missing, const char* empty) {
  SplitArguments split = Split(arguments, 1, {});
  if (split.positionals.size() < 2) throw UsageError(missing);
  if (split.positionals.size() > 2) {
    throw UsageError("unexpected argument " + Shown(split.positionals[2]));
  }
  if (split.positionals[0].empty() || split.positionals[1].empty()) throw UsageError(empty);
  return {split.positionals[0], split.positionals[1]};
}

DiffCommand ParseDiff(const std::vector<std::wstring>& arguments) {
  auto [old_manifest, new_manifest] =
      TwoNames(arguments, "diff needs the old and the new manifest", "a manifest name is empty");
  return DiffCommand{old_manifest, new_manifest};
}

KeygenCommand ParseKeygen(const std::vector<std::wstring>& arguments) {
  auto [private_key, public_key] = TwoNames(
      arguments, "keygen needs the private and the public key file", "a key file name is empty");
  return KeygenCommand{private_key, public_key};
}

SignCommand ParseSign(const std::vector<std::wstring>& arguments) {
  SplitArguments split = Split(arguments, 1, {L"--sign-key"});
  SignCommand sign;
  sign.manifest = OneFolder(split, "manifest file");
  sign.sign_key = Require(split, L"--sign-key");
  if (sign.sign_key.empty()) throw UsageError("--sign-key is empty");
  return sign;
}

}  // namespace

ReleaseCommand ParseReleaseCommandLine(const std::vector<std::wstring>& arguments) {
  for (const std::wstring& argument : arguments) {
    if (IsHelp(argument)) return HelpCommand{};
  }
  if (arguments.empty()) {
    throw UsageError("missing the command (make, check, diff, keygen or sign)");
  }
  if (arguments[0] == L"make") return ParseMake(arguments);
  if (arguments[0] == L"check") return ParseCheck(arguments);
  if (arguments[0] == L"diff") return ParseDiff(arguments);
  if (arguments[0] == L"keygen") return ParseKeygen(arguments);
  if (arguments[0] == L"sign") return ParseSign(arguments);
  throw UsageError("unknown command " + Shown(arguments[0]) +
                   " (expected make, check, diff, keygen or sign)");
}
