#include "common/folder_walk.h"

#include "common/paths.h"
#include "common/win_handles.h"

bool ListFolder(const std::wstring& folder, const std::function<void(const FolderEntry&)>& visit) {
  WIN32_FIND_DATAW data{};
  FindHandle find(::FindFirstFileExW(JoinPath(folder, L"*").c_str(), FindExInfoBasic, &data,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
  if (!find) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    visit({name, JoinPath(folder, name), data.dwFileAttributes,
           (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow});
  } while (::FindNextFileW(find.get(), &data));
  const DWORD error = ::GetLastError();
  find.reset();
  ::SetLastError(error);
  return error == ERROR_NO_MORE_FILES;
}
