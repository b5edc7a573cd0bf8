#include "install/progress.h"

#include "app/globals.h"
#include "app/messages.h"

namespace {

constexpr unsigned ProgressScale = 1000;

}  // namespace

unsigned ProgressPosition(std::uint64_t done, std::uint64_t total) noexcept {
  if (total == 0) return 0;
  // 128-bit product: done * 1000 cannot overflow for any 64-bit done.
  const unsigned __int128 scaled = static_cast<unsigned __int128>(done) * ProgressScale / total;
  return scaled > ProgressScale ? ProgressScale : static_cast<unsigned>(scaled);
}

void PostProgress(const std::wstring& status, const std::wstring& detail, std::uint64_t done,
                  std::uint64_t total) {
  std::wstring text;
  text.reserve(status.size() + 1 + detail.size());
  text += status;
  text += L'\n';
  text += detail;
  PostTextMessage(g_mainWindow, ProgressMessage, ProgressPosition(done, total), text);
}
