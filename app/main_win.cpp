#include <windows.h>

#include <commctrl.h>
#include <ole2.h>

#include "app/app_win.h"
#include "tray/tray_icon_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // Drag and drop needs OLE on this thread.
  const bool ole = SUCCEEDED(OleInitialize(nullptr));
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);

  int code = 0;
  {
    // Program-wide objects, made before the window exists and gone when the program ends.
    tray::TrayIcon tray;
    App app(tray);
    code = app.run(instance);
  }
  if (ole) OleUninitialize();
  return code;
}
