// A start on the button of the main window.
#include "tools/bench/measure_win.h"

#include <algorithm>
#include <string>
#include <vector>

#include "app/layout.h"
#include "tests/support/harness.h"
#include "tests/support/processes.h"
#include "tools/bench/figures_win.h"

namespace bench {

// Clicks on the start button until the running look, which comes once the server's web port
// answered; beside it, when the server's process appeared (what the shell and the system take),
// and the window's longest answer to a message meanwhile. One program, a stop between the starts.
void figure_start(const Settings& settings) {
  Series started_ms, appeared_ms, answer_ms;
  std::vector<std::string> problems;
  e2e::TestFolder folder;
  prepare_folder(folder);
  e2e::Program program = e2e::start_program(folder, true);
  HWND start = program.main ? e2e::find_control(program.main, layout::按钮_启动) : nullptr;
  HWND status = program.main ? e2e::find_control(program.main, layout::状态条1) : nullptr;
  if (!program.main) problems.push_back("the program showed no window");
  for (int i = 0; program.main && i < settings.runs; ++i) {
    if (!e2e::wait_until([&] { return e2e::enabled(start) && server_gone(); }, 10000)) {
      problems.push_back("the start button stayed disabled or a server stayed behind");
      break;
    }
    const double clicked = now_ms();
    click(program.main, layout::按钮_启动);
    bool appeared = false;
    double longest = 0;
    double looked = 0;
    const auto running = [&] {
      // A process snapshot every millisecond would keep the wineserver busy: every 20 ms.
      if (!appeared && now_ms() - looked >= 20) {
        looked = now_ms();
        if (e2e::find_process(kServerExe) != 0) {
          appeared = true;
          appeared_ms.add(now_ms() - clicked);
        }
      }
      const double asked = now_ms();
      DWORD_PTR unused = 0;
      SendMessageTimeoutA(program.main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &unused);
      longest = std::max(longest, now_ms() - asked);
      return e2e::status_text(status, 0) == "   状态：正在运行";
    };
    if (!poll_until(running, 10000)) {
      problems.push_back("the running look did not come within 10 s of the start");
      break;
    }
    started_ms.add(now_ms() - clicked);
    answer_ms.add(longest);
    click(program.main, layout::按钮_停止);
  }
  say("\n[start]\n");
  print_problems(problems);
  print_series("start click -> server process seen", appeared_ms, "ms", "the shell's part");
  print_series("start click -> running look (port answered)", started_ms, "ms", "");
  print_series("window's longest answer during a start", answer_ms, "ms", "aim <= 50 ms");
}

}  // namespace bench
