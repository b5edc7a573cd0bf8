#pragma once
// Listing a release folder for the publisher tool. Main thread only.
#include <cstdint>
#include <string>
#include <vector>

struct ReleaseFolderFile {
  std::wstring relative;  // names below the folder joined with '\', exactly as on disk
  std::wstring path;      // extended-length absolute path (\\?\...), for opening
  std::uint64_t size = 0;
};

// Every file below `folder`, in no particular order. A folder named
// .install-staging, at any depth, is not entered: it holds an installer's
// partial downloads, never a release. Names, and the absolute paths in
// `excluded` (files left out), are compared as the installer compares files
// (SameFileKey). Throws ReleaseRefusal when `folder` is not a folder or a folder below
// it cannot be read, naming it.
std::vector<ReleaseFolderFile> ListReleaseFolder(const std::wstring& folder,
                                                 const std::vector<std::wstring>& excluded);
