#include "common/filesystem_error.h"

std::string FilesystemErrorText(std::string_view operation, const std::filesystem::path& path,
                                std::error_code error) {
  std::string text(operation);
  text += ": ";
  text += error.message();
  text += ": \"";
  std::u8string utf8 = path.u8string();
  text.append(utf8.begin(), utf8.end());
  text += '"';
  return text;
}

FilesystemError::FilesystemError(std::string_view operation, const std::filesystem::path& path,
                                 std::error_code error)
    : std::filesystem::filesystem_error(std::string(operation), path, error),
      text_(FilesystemErrorText(operation, path, error)) {}

void ThrowFilesystemError(std::string_view operation, const std::filesystem::path& path,
                          std::error_code error) {
  throw FilesystemError(operation, path, error);
}
