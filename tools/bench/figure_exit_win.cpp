// Exit from the tray menu with the server running.
#include "tools/bench/measure_win.h"

#include <optional>
#include <string>
#include <vector>

#include "app/layout.h"
#include "platform/handles_win.h"
#include "tests/support/harness.h"
#include "tests/support/processes.h"
#include "tools/bench/figures_win.h"
#include "tray/notify_record.h"

namespace bench {
namespace {

// The tray icon's callback message and the menu's keys, as a user's clicks and keys reach them.
constexpr UINT kTrayCallback = tray::kCallbackMessage;

void press(HWND menu, UINT key) {
  ::PostMessageA(menu, WM_KEYDOWN, key, 0);
  ::PostMessageA(menu, WM_KEYUP, key, 0xC0000000);
}

// Exit with the server running: the tray menu opened with the right button, "退出" (its last
// entry) chosen with the keys; timed from the Enter key until the program, its shell and the
// server are all gone.
std::optional<double> exit_from_tray_menu(std::string& problem) {
  e2e::TestFolder folder;
  prepare_folder(folder);
  e2e::Program program = e2e::start_program(folder, true);
  if (!program.main) {
    problem = "the program showed no window";
    return std::nullopt;
  }
  click(program.main, layout::按钮_启动);
  if (!e2e::wait_until([&] { return running_shown(program.main); }, 10000)) {
    problem = "the server did not start";
    return std::nullopt;
  }
  const DWORD shell = e2e::find_child(program.id, "cmd.exe");
  const DWORD server = e2e::find_child(shell, kServerExe);
  if (!shell || !server) {
    problem = "no shell or server under the program";
    return std::nullopt;
  }
  std::vector<win::unique_handle> owned;
  std::vector<HANDLE> waited;
  for (DWORD pid : {program.id, shell, server}) {
    owned.emplace_back(::OpenProcess(SYNCHRONIZE, FALSE, pid));
    if (owned.back()) waited.push_back(owned.back().get());
  }
  ::PostMessageA(program.main, kTrayCallback, 1, WM_RBUTTONUP);
  HWND menu = nullptr;
  if (!e2e::wait_until(
          [&] { return (menu = e2e::visible_window_of("#32768", program.id)) != nullptr; }, 5000)) {
    problem = "the tray menu did not open";
    return std::nullopt;
  }
  press(menu, VK_UP);
  const double asked = now_ms();
  press(menu, VK_RETURN);
  const DWORD ended =
      ::WaitForMultipleObjects(static_cast<DWORD>(waited.size()), waited.data(), TRUE, 10000);
  if (ended >= WAIT_OBJECT_0 + waited.size()) {
    problem = "the processes outlived 10 s";
    return std::nullopt;
  }
  return now_ms() - asked;
}

}  // namespace

void figure_exit(const Settings& settings) {
  std::vector<std::string> problems;
  const Series exit_ms = over_runs(settings.runs, exit_from_tray_menu, problems);
  say("\n[exit with the server running]\n");
  print_problems(problems);
  print_series("tray menu 'exit' -> program, shell, server gone", exit_ms, "ms", "aim <= 300 ms");
}

}  // namespace bench
