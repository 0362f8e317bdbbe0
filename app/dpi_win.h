// The DPI a window is shown at, and the fonts that belong to a DPI. Windows before 10 lack the
// per-window calls; there every window is at the system's DPI.
#pragma once

#include <windows.h>

namespace dpi {

int system_dpi();
// The window's DPI; the system's where Windows cannot tell one per window.
int window_dpi(HWND window);
// The system's message font at dpi; null when Windows gives no metrics.
HFONT message_font(int dpi);

}  // namespace dpi
