#include <windows.h>

#include <commctrl.h>

#include "app/app_win.h"
#include "app/instance.h"
#include "platform/delay_load_win.h"
#include "platform/handles_win.h"
#include "platform/program_win.h"
#include "tray/tray_icon_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  platform::search_system_folder_only();
  static_assert(instance::kErrorAccessDenied == ERROR_ACCESS_DENIED);
  static_assert(instance::kErrorAlreadyExists == ERROR_ALREADY_EXISTS);
  // One copy per program folder: a second one would add an icon and fight over the server.
  const std::string key = instance::key(program::listed_path(program::path()));
  const UINT show_request = RegisterWindowMessageA(instance::show_message_name(key).c_str());
  const win::unique_handle running(CreateMutexA(nullptr, FALSE, instance::mutex_name(key).c_str()));
  const DWORD created = GetLastError();
  if (instance::already_running(static_cast<bool>(running), created)) {
    // A double click on the program means "show me the program": the copy that runs does.
    if (started_from_desktop_shell()) {
      AllowSetForegroundWindow(ASFW_ANY);
      PostMessageA(HWND_BROADCAST, show_request, 0, 0);
    }
    return 0;
  }

  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);

  int code = 0;
  {
    // Program-wide objects, made before the window exists and gone when the program ends.
    tray::TrayIcon tray;
    App app(tray, show_request);
    code = app.run(instance);
  }
  return code;
}
