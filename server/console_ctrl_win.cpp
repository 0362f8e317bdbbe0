#include "server/console_ctrl_win.h"

namespace console {
namespace {

// The event reaches this process too, on a thread of its own that may start only after the
// console was left and the ignore flag cleared again: without a handler of ours it would end
// the program.
BOOL WINAPI swallow_ctrl_c(DWORD event) { return event == CTRL_C_EVENT ? TRUE : FALSE; }

}  // namespace

bool send_ctrl_c(DWORD shell_id) {
  static const bool handler_installed = ::SetConsoleCtrlHandler(swallow_ctrl_c, TRUE) != FALSE;
  if (!handler_installed) return false;
  // A window program has no console, except under Wine, which hands down the console of a
  // console program that started it: that one is let go, ours is another.
  if (!::AttachConsole(shell_id)) {
    if (::GetLastError() != ERROR_ACCESS_DENIED || !::FreeConsole() || !::AttachConsole(shell_id)) {
      return false;
    }
  }
  ::SetConsoleCtrlHandler(nullptr, TRUE);
  // Group 0: every process on the console. Ctrl+Break is not delivered that way everywhere.
  const bool sent = ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != FALSE;
  ::FreeConsole();
  // The ignore flag is inherited: the next shell must take Ctrl+C as usual.
  ::SetConsoleCtrlHandler(nullptr, FALSE);
  return sent;
}

}  // namespace console
