#pragma once
// Manifest documents shared by the manifest tests, the parse benchmark and the
// fuzzing seed corpus: builders for valid documents and the table of edge
// cases with their outcomes. Pure code (no <windows.h>, no GoogleTest), so the
// host fuzz build can include it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "manifest/update_manifest.h"
#include "tests/support/expected_texts.h"
#include "tests/support/test_release.h"

namespace manifest_cases {

namespace texts = lbtest::texts;

// Every text the reader and the manifest model may throw.
inline const std::vector<std::string_view>& ParseMessages() {
  static const std::vector<std::string_view> messages = {
      texts::kBadJson,    texts::kNoValue,      texts::kBadString,  texts::kUnterminated,
      texts::kBadEscape,  texts::kBadUnicode,   texts::kShortUnicode, texts::kBadNumber,
      texts::kIncompleteManifest, texts::kIncompleteEntry,
  };
  return messages;
}

inline bool IsParseMessage(std::string_view text) {
  for (std::string_view message : ParseMessages()) {
    if (message == text) return true;
  }
  return false;
}

// What ParseManifest promises of every manifest it returns.
inline bool IsValidEntry(const ManifestFile& file) {
  return !file.path.empty() && !file.url.empty() && file.hash.size() == 64 && file.size != 0;
}
inline bool IsValidManifest(const UpdateManifest& manifest) {
  if (manifest.version.empty() || manifest.build == 0 || manifest.files.empty()) return false;
  for (const ManifestFile& file : manifest.files) {
    if (!IsValidEntry(file)) return false;
  }
  return manifest.bootstrap_updater.path == "LanternbrookUpdater.exe" &&
         IsValidEntry(manifest.bootstrap_updater);
}

// 64 lower-case hex digits derived from `seed` (a stand-in digest).
inline std::string HashText(std::uint32_t seed) {
  static constexpr char hex[] = "0123456789abcdef";
  std::string hash;
  std::uint32_t state = seed * 2654435761u + 0x9E3779B9u;
  for (int i = 0; i < 64; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    hash.push_back(hex[state & 0x0F]);
  }
  return hash;
}

inline const std::string& EmulatorHash() {
  static const std::string hash = HashText(1);
  return hash;
}
inline const std::string& UpdaterHash() {
  static const std::string hash = HashText(2);
  return hash;
}

// The example release: one application file and the updater, with stand-in digests.
inline lbtest::Release ExampleRelease() {
  return {"1.4.2", 142,
          {{.path = "LanternbrookEmulator.exe", .hash = EmulatorHash(),
            .url = "/files/1.4.2/LanternbrookEmulator.exe", .size = 900}},
          {.path = "LanternbrookUpdater.exe", .hash = UpdaterHash(),
           .url = "/files/1.4.2/LanternbrookUpdater.exe", .size = 120}};
}
inline std::string EmulatorEntry() { return ExampleRelease().files[0].EntryJson(); }
inline std::string UpdaterEntry() { return ExampleRelease().updater.EntryJson(); }

// Expands the placeholders of a case text: $E the emulator entry, $U the
// updater entry, $H a 64-digit hash.
inline std::string Expand(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '$' && i + 1 < text.size()) {
      const char tag = text[i + 1];
      if (tag == 'E') { out += EmulatorEntry(); ++i; continue; }
      if (tag == 'U') { out += UpdaterEntry(); ++i; continue; }
      if (tag == 'H') { out += EmulatorHash(); ++i; continue; }
    }
    out.push_back(text[i]);
  }
  return out;
}

// The example release, as text and as the record it must parse into.
inline std::string ExampleJson() { return ExampleRelease().ManifestJson(); }
inline UpdateManifest ExampleManifest() { return ExampleRelease().Record(); }

// A release of `entries` files in nested folders, padded with an unknown
// string member to exactly `total_bytes` when that is larger than the
// entries need. `expected`, when given, receives the record it parses into.
inline std::string LargeManifestJson(std::size_t entries, std::size_t total_bytes,
                                     UpdateManifest* expected = nullptr) {
  lbtest::Release release{"7.0.1-large", 70001, {},
                          {.path = "LanternbrookUpdater.exe", .hash = UpdaterHash(),
                           .url = "/files/7.0.1/LanternbrookUpdater.exe", .size = 4096}};
  for (std::size_t i = 0; i < entries; ++i) {
    const std::string index = std::to_string(100000 + i).substr(1);
    const std::string path = "data/pack-" + index.substr(0, 3) + "/asset-" + index + ".bin";
    release.files.push_back({.path = path, .hash = HashText(static_cast<std::uint32_t>(i + 10)),
                             .url = "/files/7.0.1/" + path, .size = 1000 + i * 37});
  }
  std::string json = release.ManifestJson();
  json.resize(json.size() - 2);  // "\n}"
  const std::string padding_open = ",\"padding\":\"";
  const std::size_t fixed = json.size() + padding_open.size() + 2;  // '"' and '}'
  if (total_bytes > fixed) json += padding_open + std::string(total_bytes - fixed, 'p') + '"';
  if (expected) *expected = release.Record();
  return json + '}';
}

// One document and its outcome: `error` is the message it must fail with, or
// null when it must parse into ExampleManifest() changed by `adjust`.
struct ManifestCase {
  const char* name;
  std::string text;  // with the placeholders of Expand()
  const char* error = nullptr;
  void (*adjust)(UpdateManifest&) = nullptr;
};

// The document of a case, placeholders expanded.
inline std::string Document(const ManifestCase& c) { return Expand(c.text); }

inline constexpr const char* Incomplete = texts::kIncompleteManifest;
inline constexpr const char* BadEntry = texts::kIncompleteEntry;
inline constexpr const char* BadJson = texts::kBadJson;
inline constexpr const char* BadString = texts::kBadString;
inline constexpr const char* BadNumber = texts::kBadNumber;

inline const std::vector<ManifestCase>& ManifestCases() {
  static const std::vector<ManifestCase> cases = {
      // Accepted documents.
      {"example", ExampleJson()},
      {"members_reversed",
       R"({"bootstrap_updater":{"size":120,"hash":")" + UpdaterHash() +
           R"(","url":"/files/1.4.2/LanternbrookUpdater.exe","path":"LanternbrookUpdater.exe"},)"
           R"("files":[{"size":900,"hash":")" + EmulatorHash() +
           R"(","url":"/files/1.4.2/LanternbrookEmulator.exe","path":"LanternbrookEmulator.exe"}],)"
           R"("total_size":900,"build":142,"version":"1.4.2"})"},
      {"extra_members_of_every_kind",
       R"({"channel":"stable","version":"1.4.2","flags":[true,false,null,{"files":[]}],)"
       R"("build":142,"ratio":-1.5e3,"total_size":900,"notes":{"a":{"b":[1,2,],},"c":"\"}"},)"
       R"("files":[{"mode":"0755","path":"LanternbrookEmulator.exe","tags":[],)"
       R"("url":"/files/1.4.2/LanternbrookEmulator.exe","hash":"$H","size":900,"x":null}],)"
       R"("bootstrap_updater":{"signed":true,"path":"LanternbrookUpdater.exe",)"
       R"("url":"/files/1.4.2/LanternbrookUpdater.exe","hash":")" + UpdaterHash() +
           R"(","size":120,"bytes":[1,2,3]},"empty":{},"list":[]})"},
      {"trailing_commas_everywhere",
       R"({"version":"1.4.2","build":142,"total_size":900,)"
       R"("files":[{"path":"LanternbrookEmulator.exe","url":"/files/1.4.2/LanternbrookEmulator.exe",)"
       R"("hash":"$H","size":900,},],"bootstrap_updater":{"path":"LanternbrookUpdater.exe",)"
       R"("url":"/files/1.4.2/LanternbrookUpdater.exe","hash":")" + UpdaterHash() +
           R"(","size":120,},})"},
      {"all_six_whitespace_bytes_between_tokens",
       Expand(" \t\n\v\f\r{ \v\"version\"\f:\r\"1.4.2\"\t,\n\"build\" \v: 142 \f,\"total_size\":900,"
              "\"files\"\v:\f[\v$E\f]\v,\"bootstrap_updater\":\r$U\v}\f \t\n\r")},
      {"leading_zeros_in_numbers",
       Expand(R"({"version":"1.4.2","build":000142,"total_size":0900,"files":[$E],"bootstrap_updater":$U})")},
      {"total_size_absent",
       Expand(R"({"version":"1.4.2","build":142,"files":[$E],"bootstrap_updater":$U})"),
       nullptr, [](UpdateManifest& m) { m.total_size = 0; }},
      {"second_files_member_replaces_the_first",
       Expand(R"({"version":"1.4.2","build":142,"total_size":900,"files":[$E,$E],"bootstrap_updater":$U,)"
              R"("files":[{"path":"b.dat","url":"https://cdn.example.test/b.dat","hash":"$H","size":5},$E]})"),
       nullptr,
       [](UpdateManifest& m) {
         m.files.insert(m.files.begin(), ManifestFile{"b.dat", EmulatorHash(),
                                                      "https://cdn.example.test/b.dat", 5});
       }},
      {"later_scalar_member_wins",
       Expand(R"({"version":"0.9","build":9,"total_size":1,"files":[$E],"bootstrap_updater":$U,)"
              R"("version":"1.4.2","build":142,"total_size":900})")},
      {"second_bootstrap_updater_wins",
       Expand(R"({"version":"1.4.2","build":142,"total_size":900,"files":[$E],)"
              R"("bootstrap_updater":{"path":"old.exe","url":"/o","hash":"$H","size":1},"bootstrap_updater":$U})")},
      {"escaped_keys_match_after_decoding",
       Expand(R"({"\u0076ersion":"1.4.2","bu\u0069ld":142,"total_size":900,"files":[$E],"bootstrap\u005Fupdater":$U})")},
      {"escaped_path_stored_as_utf8",
       Expand(R"({"version":"1.4.2","build":142,"total_size":900,"bootstrap_updater":$U,)"
              R"("files":[{"path":"caf\u00e9/\u20AC.txt","url":"/f","hash":"$H","size":900}]})"),
       nullptr,
       [](UpdateManifest& m) {
         m.files[0].path = "caf\xC3\xA9/\xE2\x82\xAC.txt";
         m.files[0].url = "/f";
       }},
      {"upper_case_and_non_hex_hashes_pass_here",
       Expand(R"({"version":"1.4.2","build":142,"total_size":900,"bootstrap_updater":$U,"files":[)"
              R"({"path":"A","url":"/a","hash":"ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789","size":1},)"
              R"({"path":"Z","url":"/z","hash":"zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz","size":2}]})"),
       nullptr,
       [](UpdateManifest& m) {
         m.files = {{"A", "ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789", "/a", 1},
                    {"Z", std::string(64, 'z'), "/z", 2}};
       }},
      {"largest_numbers",
       Expand(R"({"version":"1.4.2","build":18446744073709551615,"total_size":18446744073709551615,)"
              R"("files":[$E],"bootstrap_updater":$U})"),
       nullptr, [](UpdateManifest& m) { m.build = m.total_size = 18446744073709551615u; }},
      {"files_in_document_order",
       Expand(R"({"version":"1.4.2","build":142,"total_size":900,"files":[)"
              R"({"path":"c","url":"/3","hash":"$H","size":3},{"path":"a","url":"/1","hash":"$H","size":1},)"
              R"({"path":"b","url":"/2","hash":"$H","size":2}],"bootstrap_updater":$U})"),
       nullptr,
       [](UpdateManifest& m) {
         m.files = {{"c", EmulatorHash(), "/3", 3}, {"a", EmulatorHash(), "/1", 1},
                    {"b", EmulatorHash(), "/2", 2}};
       }},
      {"entry_with_a_block_list",
       Expand(R"({"version":"1.4.2","build":142,"total_size":900,"bootstrap_updater":$U,"files":[)"
              R"({"path":"LanternbrookEmulator.exe","url":"/files/1.4.2/LanternbrookEmulator.exe",)"
              R"("hash":"$H","size":900,"blocks":{"size":56,"x":[1],"url":"/b/e.blocks","hash":"$H",}}]})"),
       nullptr,
       [](UpdateManifest& m) { m.files[0].blocks = BlockListEntry{"/b/e.blocks", EmulatorHash(), 56}; }},
      {"later_block_list_member_replaces_the_earlier",
       Expand(R"({"version":"1.4.2","build":142,"total_size":900,"bootstrap_updater":$U,"files":[)"
              R"({"path":"LanternbrookEmulator.exe","url":"/files/1.4.2/LanternbrookEmulator.exe",)"
              R"("hash":"$H","size":900,"blocks":{"url":"/a","hash":"$H","size":1},)"
              R"("blocks":{"url":"https://cdn.example.test/e.blocks","hash":"$H","size":56}}]})"),
       nullptr,
       [](UpdateManifest& m) {
         m.files[0].blocks = BlockListEntry{"https://cdn.example.test/e.blocks", EmulatorHash(), 56};
       }},
      {"deep_unknown_member_within_the_bound",
       Expand(R"({"version":"1.4.2","build":142,"total_size":900,"files":[$E],"bootstrap_updater":$U,"deep":)") +
           std::string(MaxJsonSkipDepth, '[') + std::string(MaxJsonSkipDepth, ']') + "}"},

      // Incomplete documents: reported after the closing brace.
      {"second_document_after_the_brace", ExampleJson() + "{}", Incomplete},
      {"example_twice", ExampleJson() + ExampleJson(), Incomplete},
      {"garbage_after_the_brace", ExampleJson() + " x", Incomplete},
      {"nul_after_the_brace", ExampleJson() + std::string(1, '\0'), Incomplete},
      {"empty_object", "{}", Incomplete},
      {"build_zero",
       Expand(R"({"version":"1.4.2","build":0,"files":[$E],"bootstrap_updater":$U})"), Incomplete},
      {"build_absent", Expand(R"({"version":"1.4.2","files":[$E],"bootstrap_updater":$U})"), Incomplete},
      {"version_empty",
       Expand(R"({"version":"","build":142,"files":[$E],"bootstrap_updater":$U})"), Incomplete},
      {"version_absent", Expand(R"({"build":142,"files":[$E],"bootstrap_updater":$U})"), Incomplete},
      {"files_empty",
       Expand(R"({"version":"1.4.2","build":142,"files":[],"bootstrap_updater":$U})"), Incomplete},
      {"files_absent", Expand(R"({"version":"1.4.2","build":142,"bootstrap_updater":$U})"), Incomplete},
      {"updater_absent", Expand(R"({"version":"1.4.2","build":142,"files":[$E]})"), Incomplete},
      {"updater_path_other_case",
       Expand(R"({"version":"1.4.2","build":142,"files":[$E],)"
              R"("bootstrap_updater":{"path":"lanternbrookupdater.exe","url":"/u","hash":"$H","size":120}})"),
       Incomplete},
      {"updater_path_with_directory",
       Expand(R"({"version":"1.4.2","build":142,"files":[$E],)"
              R"("bootstrap_updater":{"path":"bin/LanternbrookUpdater.exe","url":"/u","hash":"$H","size":120}})"),
       Incomplete},
      {"updater_path_with_backslash_directory",
       Expand(R"({"version":"1.4.2","build":142,"files":[$E],)"
              R"("bootstrap_updater":{"path":".\\LanternbrookUpdater.exe","url":"/u","hash":"$H","size":120}})"),
       Incomplete},
      {"updater_path_with_trailing_blank",
       Expand(R"({"version":"1.4.2","build":142,"files":[$E],)"
              R"("bootstrap_updater":{"path":"LanternbrookUpdater.exe ","url":"/u","hash":"$H","size":120}})"),
       Incomplete},
      {"capitalised_key_is_skipped",
       Expand(R"({"Version":"1.4.2","build":142,"files":[$E],"bootstrap_updater":$U})"), Incomplete},
      {"capitalised_files_key_is_skipped",
       Expand(R"({"version":"1.4.2","build":142,"Files":[$E],"bootstrap_updater":$U})"), Incomplete},
      {"updater_given_inside_files_only",
       Expand(R"({"version":"1.4.2","build":142,"files":[$E,$U]})"), Incomplete},

      // Invalid entries: reported while the entry is read.
      {"hash_63_bytes",
       Expand(R"({"version":"1.4.2","build":142,"bootstrap_updater":$U,"files":[{"path":"a","url":"/a","hash":")") +
           std::string(63, 'a') + R"(","size":1}]})",
       BadEntry},
      {"hash_65_bytes",
       Expand(R"({"version":"1.4.2","build":142,"bootstrap_updater":$U,"files":[{"path":"a","url":"/a","hash":")") +
           std::string(65, 'a') + R"(","size":1}]})",
       BadEntry},
      {"hash_absent",
       Expand(R"({"version":"1.4.2","build":142,"bootstrap_updater":$U,"files":[{"path":"a","url":"/a","size":1}]})"),
       BadEntry},
      {"url_absent",
       Expand(R"({"version":"1.4.2","build":142,"bootstrap_updater":$U,"files":[{"path":"a","hash":"$H","size":1}]})"),
       BadEntry},
      {"url_empty",
       Expand(R"({"version":"1.4.2","build":142,"bootstrap_updater":$U,"files":[{"path":"a","url":"","hash":"$H","size":1}]})"),
       BadEntry},
      {"path_absent",
       Expand(R"({"version":"1.4.2","build":142,"bootstrap_updater":$U,"files":[{"url":"/a","hash":"$H","size":1}]})"),
       BadEntry},
      {"path_empty",
       Expand(R"({"version":"1.4.2","build":142,"bootstrap_updater":$U,"files":[{"path":"","url":"/a","hash":"$H","size":1}]})"),
       BadEntry},
      {"size_zero",
       Expand(R"({"version":"1.4.2","build":142,"bootstrap_updater":$U,"files":[{"path":"a","url":"/a","hash":"$H","size":0}]})"),
       BadEntry},
      {"size_absent",
       Expand(R"({"version":"1.4.2","build":142,"bootstrap_updater":$U,"files":[{"path":"a","url":"/a","hash":"$H"}]})"),
       BadEntry},
      {"empty_entry", Expand(R"({"version":"1.4.2","build":142,"bootstrap_updater":$U,"files":[{}]})"), BadEntry},
      {"updater_size_zero_before_top_level_checks",
       Expand(R"({"files":[$E],"bootstrap_updater":{"path":"LanternbrookUpdater.exe","url":"/u","hash":"$H","size":0}})"),
       BadEntry},
      {"block_list_url_empty",
       Expand(R"({"version":"1.4.2","build":142,"bootstrap_updater":$U,"files":[{"path":"a","url":"/a",)"
              R"("hash":"$H","size":1,"blocks":{"url":"","hash":"$H","size":56}}]})"),
       BadEntry},
      {"block_list_url_absent",
       Expand(R"({"version":"1.4.2","build":142,"bootstrap_updater":$U,"files":[{"path":"a","url":"/a",)"
              R"("hash":"$H","size":1,"blocks":{"hash":"$H","size":56}}]})"),
       BadEntry},
      {"block_list_hash_63_bytes",
       Expand(R"({"version":"1.4.2","build":142,"bootstrap_updater":$U,"files":[{"path":"a","url":"/a",)"
              R"("hash":"$H","size":1,"blocks":{"url":"/b","size":56,"hash":")") +
           std::string(63, 'a') + R"("}}]})",
       BadEntry},
      {"block_list_size_zero",
       Expand(R"({"version":"1.4.2","build":142,"bootstrap_updater":$U,"files":[{"path":"a","url":"/a",)"
              R"("hash":"$H","size":1,"blocks":{"url":"/b","hash":"$H","size":0}}]})"),
       BadEntry},
      {"block_list_empty_object",
       Expand(R"({"version":"1.4.2","build":142,"bootstrap_updater":$U,"files":[{"path":"a","url":"/a",)"
              R"("hash":"$H","size":1,"blocks":{}}]})"),
       BadEntry},
      {"invalid_entry_in_replaced_files_member",
       Expand(R"({"version":"1.4.2","build":142,"bootstrap_updater":$U,"files":[{"path":"a"}],"files":[$E]})"),
       BadEntry},

      // Values of the wrong kind fail in the reader, before the top-level checks.
      {"size_quoted",
       Expand(R"({"version":"1.4.2","build":142,"bootstrap_updater":$U,"files":[{"path":"a","url":"/a","hash":"$H","size":"900"}]})"),
       BadNumber},
      {"size_with_fraction",
       Expand(R"({"version":"1.4.2","build":142,"bootstrap_updater":$U,"files":[{"path":"a","url":"/a","hash":"$H","size":900.5}]})"),
       BadJson},
      {"size_with_exponent",
       Expand(R"({"version":"1.4.2","build":142,"bootstrap_updater":$U,"files":[{"path":"a","url":"/a","hash":"$H","size":9e2}]})"),
       BadJson},
      {"size_negative",
       Expand(R"({"version":"1.4.2","build":142,"bootstrap_updater":$U,"files":[{"path":"a","url":"/a","hash":"$H","size":-1}]})"),
       BadNumber},
      {"size_beyond_64_bits",
       Expand(R"({"version":"1.4.2","build":142,"bootstrap_updater":$U,"files":[{"path":"a","url":"/a","hash":"$H","size":18446744073709551616}]})"),
       BadNumber},
      {"build_quoted_before_missing_version", R"({"build":"142"})", BadNumber},
      {"total_size_null", Expand(R"({"version":"1.4.2","build":142,"total_size":null,"files":[$E],"bootstrap_updater":$U})"),
       BadNumber},
      {"version_a_number", R"({"version":142})", BadString},
      {"path_a_number", R"({"files":[{"path":1}]})", BadString},
      {"url_null", R"({"files":[{"url":null}]})", BadString},
      {"hash_an_array", R"({"bootstrap_updater":{"hash":["a"]}})", BadString},
      {"files_an_object", R"({"files":{"path":"a"}})", BadJson},
      {"files_element_a_string", R"({"files":["a"]})", BadJson},
      {"files_element_an_array", R"({"files":[[]]})", BadJson},
      {"block_list_a_string", R"({"files":[{"blocks":"/b"}]})", BadJson},
      {"block_list_size_quoted", R"({"files":[{"blocks":{"size":"56"}}]})", BadNumber},
      {"updater_a_string", R"({"bootstrap_updater":"LanternbrookUpdater.exe"})", BadJson},
      {"document_an_array", "[" + ExampleJson() + "]", BadJson},
      {"document_empty", "", BadJson},
      {"document_whitespace_only", " \t\r\n\v\f", BadJson},
      {"document_with_byte_order_mark", "\xEF\xBB\xBF" + ExampleJson(), BadJson},
      {"missing_colon", R"({"version" "1.4.2"})", BadJson},
      {"missing_comma_between_members", R"({"version":"1.4.2" "build":142})", BadJson},
      {"missing_comma_between_entries", Expand(R"({"files":[$E $E]})"), BadJson},
      {"double_comma_between_entries", Expand(R"({"files":[$E,,$E]})"), BadJson},
      {"object_opens_with_comma", R"({,"version":"1.4.2"})", BadString},
      {"double_comma_between_members", R"({"version":"1.4.2",,"build":1})", BadString},
      {"key_not_a_string", R"({version:"1.4.2"})", BadString},
      {"truncated_after_a_value", R"({"version":"1.4.2")", BadJson},
      {"truncated_inside_a_string", R"({"version":"1.4)", texts::kUnterminated},
      {"truncated_inside_files", Expand(R"({"files":[$E,)"), BadJson},
      {"unknown_member_without_value", R"({"x":)", texts::kNoValue},
      {"bad_escape_in_path", R"({"files":[{"path":"a\x"}]})", texts::kBadEscape},
      {"short_unicode_escape_in_url", R"({"files":[{"url":"\u00"}]})", texts::kBadUnicode},
      {"unknown_member_nested_beyond_the_bound",
       R"({"version":"1.4.2","deep":)" + std::string(MaxJsonSkipDepth + 1, '[') +
           std::string(MaxJsonSkipDepth + 1, ']') + "}",
       BadJson},
  };
  return cases;
}

}  // namespace manifest_cases
