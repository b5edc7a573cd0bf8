#pragma once
// Filesystem errors as the user sees them:
//   <operation>: <system message>: "<path>"
// e.g.  create_directories: Caminho nao encontrado.: "C:\Users\ana\Desktop\Lanternbrook"
// The system's message is Windows' own text for the failed call's error, in
// the user's language; the whole text is UTF-8. Thread-safe.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

class FilesystemError : public std::runtime_error {
 public:
  // `error` is the Win32 error code of the failed call (GetLastError()).
  FilesystemError(std::string_view operation, std::wstring_view path, std::uint32_t error);
};

// Builds the text above.
std::string FilesystemErrorText(std::string_view operation, std::wstring_view path,
                                std::uint32_t error);

// Windows' message for a Win32 error code in the user's language, without the
// line break at its end ("Erro <code>" when the system has none).
std::wstring SystemErrorMessage(std::uint32_t error);

// SystemErrorMessage(GetLastError()) in UTF-8, for messages built around it.
std::string LastErrorText();
