// Every custom window message of the program, in one place, counted from WM_APP.
#pragma once

#include <windows.h>

namespace msg {

// The tray icon's callback message. Its number is fixed (0x2DA5) because the notification
// record carries it; it lies above WM_APP, so nothing else here may take it.
constexpr UINT kTrayCallback = 0x2DA5;

// A worker hands a heap payload to the UI thread: wParam is a std::function<void()>* that the
// UI thread runs and deletes.
constexpr UINT kRunOnUiThread = WM_APP + 1;

// The console reader has output for the log: wParam names the launch's inbox, which the UI
// thread asks for the text.
constexpr UINT kConsoleOutput = WM_APP + 2;

// The watched server process has ended: wParam is the watch's token.
constexpr UINT kServerEnded = WM_APP + 3;

}  // namespace msg
