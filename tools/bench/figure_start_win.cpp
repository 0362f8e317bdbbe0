// A start on the button of the main window.
#include "tools/bench/measure_win.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app/layout.h"
#include "tests/support/harness.h"
#include "tests/support/net.h"
#include "tests/support/processes.h"
#include "tools/bench/figures_win.h"

namespace bench {
namespace {

// The floor of a start: a bare program that starts the same shell in the same kind of folder,
// types the same two lines and knocks at the web port every 5 ms until it answers (tools/floor).
// It runs in a folder of its own beside the program's: a second test folder of the same name would
// be the program's own, and wiping it would end the program.
std::optional<double> floor_start(const e2e::TestFolder& beside, std::string& problem) {
  const std::string folder = beside.file("floor");
  ::CreateDirectoryA(folder.c_str(), nullptr);
  const std::string built = e2e::build_dir() + "\\";
  ::CopyFileA((built + "x64\\rivermesh_windows_amd64.exe").c_str(),
              (folder + "\\rivermesh_windows_amd64.exe").c_str(), FALSE);
  ::CopyFileA((built + "floor.exe").c_str(), (folder + "\\floor.exe").c_str(), FALSE);
  const unsigned short port = e2e::free_port();
  beside.write_file("floor\\run.bat", "rivermesh_windows_amd64.exe -h \"127.0.0.1\" -p " +
                                          std::to_string(port) + " -l");
  e2e::Process run = e2e::Process::start(
      folder + "\\floor.exe",
      "start " + std::to_string(port) + " " + e2e::quoted(folder + "\\floor.txt"), folder);
  if (run.wait(20000) != 0) {
    problem = "the floor's server did not answer";
    return std::nullopt;
  }
  return std::atof(beside.read_file("floor\\floor.txt").c_str());
}

}  // namespace

// Clicks on the start button until the running look, which comes once the server's web port
// answered; beside it, when the server's process appeared (what the shell and the system take),
// and the window's longest answer to a message meanwhile. One program, a stop between the starts.
void figure_start(const Settings& settings) {
  Series started_ms, appeared_ms, answer_ms, floor_ms, above_floor;
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
      problems.push_back("the running look did not come within 10 s of the start (status \"" +
                         e2e::status_text(status, 0) + "\")");
      break;
    }
    const double took = now_ms() - clicked;
    started_ms.add(took);
    answer_ms.add(longest);
    click(program.main, layout::按钮_停止);
    // The floor takes its turn once the program's server is gone.
    if (!e2e::wait_until([&] { return server_gone(); }, 10000)) continue;
    std::string problem;
    if (const std::optional<double> bare = floor_start(folder, problem)) {
      floor_ms.add(*bare);
      above_floor.add(took - *bare);
    } else {
      problems.push_back(problem);
    }
  }
  say("\n[start]\n");
  print_problems(problems);
  print_series("start click -> server process seen", appeared_ms, "ms", "the shell's part");
  print_series("start click -> running look (port answered)", started_ms, "ms", "");
  print_series("floor: the same shell, lines and knocks, bare", floor_ms, "ms", "");
  print_series("program - floor", above_floor, "ms", "aim <= 50 ms");
  print_series("window's longest answer during a start", answer_ms, "ms", "aim <= 50 ms");
}

}  // namespace bench
