#pragma once
// The update server's HTTPS origin, compiled in from the build setting
// LANTERNBROOK_UPDATE_ORIGIN ("https://host" or "https://host:port", no
// trailing slash). There is no runtime switch.
#include "transfer/update_origin_value.h"

inline constexpr wchar_t UpdateServerOrigin[] = LANTERNBROOK_UPDATE_ORIGIN_W;
