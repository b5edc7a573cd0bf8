#pragma once
// Filesystem errors as the user sees them:
//   <operation>: <system message>: "<path>"
// e.g.  create_directories: Access denied.: "C:\Users\ana\Desktop\Lanternbrook"
// No <windows.h>; thread-safe.
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

// A std::filesystem::filesystem_error whose what() is the text above (UTF-8).
class FilesystemError : public std::filesystem::filesystem_error {
 public:
  FilesystemError(std::string_view operation, const std::filesystem::path& path,
                  std::error_code error);
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  std::string text_;
};

// Builds the text above. The path is written as UTF-8.
std::string FilesystemErrorText(std::string_view operation, const std::filesystem::path& path,
                                std::error_code error);

// Throws FilesystemError. `operation` is "exists", "create_directories" or "remove".
[[noreturn]] void ThrowFilesystemError(std::string_view operation,
                                       const std::filesystem::path& path, std::error_code error);
