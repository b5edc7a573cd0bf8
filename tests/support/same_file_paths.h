#pragma once
// Pairs of manifest paths, and whether Windows takes the two for one file.
// Both the installer and the publisher tool must refuse a manifest that lists
// such a pair.
#include <string>
#include <vector>

namespace lbtest {

struct SameFilePair {
  const char* name;
  std::string first;   // UTF-8, as in the manifest
  std::string second;  // "LanternbrookUpdater.exe": the updater's own entry
  bool same;
};

inline std::vector<SameFilePair> SameFilePairs() {
  return {
      {"LetterCase", "Data/X.bin", "data/x.bin", true},
      {"TrailingDot", "a.bin", "a.bin.", true},
      {"TrailingBlanksAndDots", "a.bin", "a.bin . .", true},
      {"DotName", "x/./y", "x/y", true},
      {"OtherSeparator", "x\\y", "x/y", true},
      {"FolderWithTrailingDot", "dir./a.bin", "DIR/a.bin", true},
      {"NonAsciiLetterCase", "dados/\xC3\x81REA.bin", "dados/\xC3\xA1rea.bin", true},
      {"GreekLetterCase", "\xCE\xA9.bin", "\xCF\x89.bin", true},
      {"TheUpdatersEntry", "lanternbrookupdater.EXE", "LanternbrookUpdater.exe", true},
      {"LongerName", "a.bin", "a.bin2", false},
      {"AccentMatters", "dados/\xC3\xA1rea.bin", "dados/area.bin", false},
      {"SharpSIsNotDoubleS", "stra\xC3\x9F" "e.bin", "STRASSE.bin", false},
      {"InnerDotsStay", "a..bin", "a.bin", false},
  };
}

}  // namespace lbtest
