// The program's window after a double click in the desktop shell.
#include "tools/bench/measure_win.h"

#include <optional>
#include <string>
#include <vector>

#include "app/layout.h"
#include "tests/support/harness.h"
#include "tests/support/processes.h"
#include "tools/bench/figures_win.h"

namespace bench {
namespace {

// A double click in the desktop shell: the launcher, copied as explorer.exe, starts the program
// (or the floor, a bare program with the same manifest that shows a window with a tab control and
// a status bar); timed until its main window is visible. The wait looks at the window list only,
// once a millisecond: a process snapshot that often kept the wineserver, which the starting
// program needs for nearly every call, so busy that it doubled the figure it took. Whose the
// window is is asked once it shows.
std::optional<double> window_after_double_click(bool floor, std::string& problem) {
  e2e::TestFolder folder;
  prepare_folder(folder);
  const std::string exe = floor ? folder.copy_in("floor.exe", "floor.exe") : folder.copy_program();
  const char* const window_class = floor ? "RivermeshFloorWindow" : "RivermeshToolsWindow";
  const std::string shell = folder.copy_in("launcher.exe", "explorer.exe");
  const double started = now_ms();
  e2e::Process launcher =
      e2e::Process::start(shell, e2e::quoted(exe) + (floor ? " window" : ""), folder.path());
  DWORD program = 0;
  HWND main = nullptr;
  const bool shown = poll_until(
      [&] {
        for (HWND w = ::FindWindowExA(nullptr, nullptr, window_class, nullptr); w;
             w = ::FindWindowExA(nullptr, w, window_class, nullptr)) {
          if (::IsWindowVisible(w)) {
            main = w;
            return true;
          }
        }
        return false;
      },
      20000);
  const double took = now_ms() - started;
  if (!shown) {
    problem = "no window within 20 s";
    return std::nullopt;
  }
  ::GetWindowThreadProcessId(main, &program);
  if (program != e2e::find_child(launcher.id(), floor ? "floor.exe" : "RivermeshTools.exe")) {
    problem = "the window shown is not the started program's";
    return std::nullopt;
  }
  if (floor) {
    ::PostMessageA(main, WM_CLOSE, 0, 0);
  } else {
    e2e::post_command(main, layout::托盘_退出);
  }
  if (!e2e::ended(program, 10000)) problem = "the program outlived its exit";
  return took;
}

}  // namespace

void figure_window_shown(const Settings& settings) {
  std::vector<std::string> problems;
  // The program and its floor take turns, so that each ratio compares runs a moment apart.
  Series shown_ms, floor_ms, ratio;
  for (int i = 0; i < settings.runs; ++i) {
    std::string problem;
    const std::optional<double> bare = window_after_double_click(true, problem);
    if (bare) floor_ms.add(*bare);
    const std::optional<double> ours = window_after_double_click(false, problem);
    if (ours) shown_ms.add(*ours);
    if (bare && ours && *bare > 0) ratio.add(*ours / *bare);
    if (!problem.empty()) problems.push_back(problem);
  }
  say("\n[program start]\n");
  print_problems(problems);
  print_series("double click in the shell -> window shown", shown_ms, "ms", "");
  print_series("floor: a bare window with tabs and status bar", floor_ms, "ms", "");
  print_series("program / floor", ratio, "x", "aim <= 1.25");
}

}  // namespace bench
