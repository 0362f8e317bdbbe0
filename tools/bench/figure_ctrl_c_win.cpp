// Stop and exit of a server asked to end with Ctrl+C first.
#include "tools/bench/measure_win.h"

#include <optional>
#include <string>
#include <vector>

#include "app/layout.h"
#include "platform/handles_win.h"
#include "tests/support/harness.h"
#include "tests/support/processes.h"
#include "tools/bench/figures_win.h"
#include "tools/standin/standin_rules.h"

namespace bench {
namespace {

using e2e::find_process;
using e2e::ScopedVariable;

// Stop and exit of a server that ends on Ctrl+C and of one that ignores it, each from the user's
// click (stop) or tray menu command (exit) until the server is gone: the first costs the server's
// own end, the second the whole grace (3 s for a stop, 2 s at exit) and the forced end.
// Beside each, the main window's longest answer to WM_NULL while it went on: the start's check,
// and the stop's and the exit's grace run while the window keeps answering.
struct StopExitRun {
  std::optional<double> stop_ms, exit_ms;
  std::optional<double> start_answer_ms, stop_answer_ms, exit_answer_ms;
};

StopExitRun stop_and_exit(const char* mode, std::string& problem) {
  StopExitRun run;
  e2e::TestFolder folder;
  prepare_folder(folder);
  ScopedVariable answer(standin::kModeVariable, mode);
  e2e::Program program = e2e::start_program(folder, true);
  if (!program.main) {
    problem = "the program showed no window";
    return run;
  }
  HWND start = e2e::find_control(program.main, layout::按钮_启动);
  Pinger pinger(program.main);
  const auto started = [&] {
    click(program.main, layout::按钮_启动);
    return poll_until([&] { return running_shown(program.main); }, 10000);
  };
  pinger.take_worst_ms();
  if (!started()) {
    problem = "the server did not start";
  } else {
    run.start_answer_ms = pinger.take_worst_ms();
    const double asked = now_ms();
    click(program.main, layout::按钮_停止);
    if (poll_until([&] { return e2e::enabled(start) && server_gone(); }, 10000)) {
      run.stop_ms = now_ms() - asked;
      run.stop_answer_ms = pinger.take_worst_ms();
    }
  }
  DWORD server_id = 0;
  if (run.stop_ms && started() &&
      poll_until([&] { return (server_id = find_process(kServerExe)) != 0; }, 5000)) {
    const win::unique_handle server(::OpenProcess(SYNCHRONIZE, FALSE, server_id));
    const win::unique_handle self(::OpenProcess(SYNCHRONIZE, FALSE, program.id));
    const HANDLE waited[] = {server.get(), self.get()};
    pinger.take_worst_ms();
    const double asked = now_ms();
    e2e::post_command(program.main, layout::托盘_退出);
    if (server && self && ::WaitForMultipleObjects(2, waited, TRUE, 10000) < WAIT_OBJECT_0 + 2) {
      run.exit_ms = now_ms() - asked;
      // Answers end with the window; asking a window that is gone fails at once.
      run.exit_answer_ms = pinger.take_worst_ms();
    }
  }
  pinger.stop();
  if (problem.empty() && !run.exit_ms) problem = "the stop or the exit outlived 10 s";
  return run;
}

}  // namespace

void figure_stop_and_exit_after_ctrl_c(const Settings& settings) {
  for (const char* mode : {"ctrl-c:0", "ignore-ctrl-c"}) {
    Series stop_ms, exit_ms, start_answer, stop_answer, exit_answer;
    std::vector<std::string> problems;
    for (int i = 0; i < settings.runs; ++i) {
      std::string problem;
      const StopExitRun run = stop_and_exit(mode, problem);
      if (run.stop_ms) stop_ms.add(*run.stop_ms);
      if (run.exit_ms) exit_ms.add(*run.exit_ms);
      if (run.start_answer_ms) start_answer.add(*run.start_answer_ms);
      if (run.stop_answer_ms) stop_answer.add(*run.stop_answer_ms);
      if (run.exit_answer_ms) exit_answer.add(*run.exit_answer_ms);
      if (!problem.empty()) problems.push_back(problem);
    }
    say("\n[stop and exit, the server asked with Ctrl+C first: %s]\n", mode);
    print_problems(problems);
    const bool deaf = std::string(mode) == "ignore-ctrl-c";
    print_series("stop click -> not running, server gone", stop_ms, "ms",
                 deaf ? "the 3000 ms grace, then forced" : "the server's own end");
    print_series("tray menu 'exit' -> program and server gone", exit_ms, "ms",
                 deaf ? "the 2000 ms grace, then forced" : "the server's own end");
    print_series("longest WM_NULL answer during the start", start_answer, "ms", "aim <= 50 ms");
    print_series("longest WM_NULL answer during the stop", stop_answer, "ms", "aim <= 50 ms");
    print_series("longest WM_NULL answer during the exit", exit_answer, "ms", "aim <= 50 ms");
  }
}

}  // namespace bench
