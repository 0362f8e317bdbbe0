// Every custom window message of the program's main window, in one place. The program's own are
// counted from WM_APP; the hand-over of work to the UI thread uses a message that the system
// registers (ui_task::message()), so the lowest layer needs no number from here.
#pragma once

#include <windows.h>

#include "tray/notify_record.h"

namespace msg {

// The tray icon's callback message is the notification record's (tray::kCallbackMessage): in the
// WM_USER range below WM_APP, apart from every number below.
static_assert(tray::kCallbackMessage >= WM_USER && tray::kCallbackMessage < WM_APP);

// The console reader has output for the log, sent to the log box itself: wParam names the
// launch's inbox, which the box asks for the text.
constexpr UINT kConsoleOutput = WM_APP + 2;

// The watched server process has ended: wParam is the watch's token.
constexpr UINT kServerEnded = WM_APP + 3;

}  // namespace msg
