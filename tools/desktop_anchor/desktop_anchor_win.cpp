// Test tool: holds the desktop of a Wine prefix while it runs, as a logged-on user's shell does on
// Windows (e2e::DesktopAnchor says why a desktop needs it). The test runner starts one in each of
// its prefixes, so that the desktop and its tray do not end in the moment between two test
// programs, when none of ours runs; a program started in that moment would find no tray. It runs
// until its wineserver ends it.
#include <windows.h>

#include "tests/support/harness.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const e2e::DesktopAnchor anchor;
  ::Sleep(INFINITE);
  return 0;
}
