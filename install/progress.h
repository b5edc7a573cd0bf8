#pragma once
// Progress reports from the run to the window. Worker thread.
#include <cstdint>
#include <string>

// Bar position: 0 when total is 0, else done * 1000 / total (exact for all
// 64-bit values), capped at 1000.
unsigned ProgressPosition(std::uint64_t done, std::uint64_t total) noexcept;

// Posts a ProgressMessage to g_mainWindow with text status + L'\n' + detail.
void PostProgress(const std::wstring& status, const std::wstring& detail, std::uint64_t done,
                  std::uint64_t total);
