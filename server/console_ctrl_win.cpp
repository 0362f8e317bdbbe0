#include "server/console_ctrl_win.h"

#include "server/graceful_stop.h"

namespace console {
namespace {

BOOL WINAPI swallow_ctrl_c(DWORD event) { return event == CTRL_C_EVENT ? TRUE : FALSE; }

class WinConsole final : public graceful::ConsoleApi {
 public:
  Attach attach(std::uint32_t process_id) override {
    if (::AttachConsole(process_id)) return Attach::Attached;
    return ::GetLastError() == ERROR_ACCESS_DENIED ? Attach::HasConsole : Attach::Failed;
  }
  bool free() override { return ::FreeConsole() != FALSE; }
  void add_handler() override { ::SetConsoleCtrlHandler(swallow_ctrl_c, TRUE); }
  void remove_handler() override { ::SetConsoleCtrlHandler(swallow_ctrl_c, FALSE); }
  void ignore_ctrl_c(bool ignore) override { ::SetConsoleCtrlHandler(nullptr, ignore); }
  // Group 0: every process on the console. Ctrl+Break is not delivered that way everywhere.
  bool generate_ctrl_c() override { return ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != FALSE; }
};

}  // namespace

void before_shell() {
  WinConsole console;
  graceful::before_shell(console);
}

bool send_ctrl_c(DWORD shell_id) {
  WinConsole console;
  return graceful::send_ctrl_c(console, shell_id);
}

}  // namespace console
