#pragma once
// Resource ids of the installer executable (res/installer.rc).

// The application icon group: 16 to 256 px, 32 bits per pixel.
#define IDI_APP_ICON 1
