// Every custom window message of the program's main window, in one place. The program's own are
// counted from WM_APP; the hand-over of work to the UI thread uses a message that the system
// registers (ui_task::message()), so the lowest layer needs no number from here.
#pragma once

#include <windows.h>

namespace msg {

// The tray icon's callback message. Its number is fixed (0x2DA5) because the notification
// record carries it; it lies in the WM_USER range below WM_APP, apart from every number below.
constexpr UINT kTrayCallback = 0x2DA5;
static_assert(kTrayCallback >= WM_USER && kTrayCallback < WM_APP);

// The console reader has output for the log: wParam names the launch's inbox, which the UI
// thread asks for the text.
constexpr UINT kConsoleOutput = WM_APP + 2;

// The watched server process has ended: wParam is the watch's token.
constexpr UINT kServerEnded = WM_APP + 3;

}  // namespace msg
