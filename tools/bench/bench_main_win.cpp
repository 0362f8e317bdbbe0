// Benchmark driver, run by scripts/bench.sh under Wine on a virtual display. It measures what a
// user meets: the program's window after a double click, a start on the button, the exit from
// the tray menu, and a server that floods its console output with the log tab hidden and shown.
// Every figure is taken over several runs in one sitting and printed as min/median/max beside
// the aim; the flood runs take turns with a pipe that is only drained, so the ratio compares
// runs made a moment apart. It never passes or fails on time.
//   bench.exe [--bytes N] [--runs N] [--only program-start|start|exit|flood|ctrl-c]
// Output is ASCII so that it reads the same in any terminal.
#include "tools/bench/measure_win.h"

#include <exception>
#include <string>
#include <utility>

#include "tests/support/harness.h"
#include "tests/support/net.h"
#include "tools/bench/figures_win.h"

namespace bench {
namespace {

using e2e::Winsock;

int run(int argc, char** argv) {
  const Settings settings = read_settings(argc, argv);
  Winsock winsock;
  const e2e::DesktopAnchor anchor;
  say("Rivermesh Tools benchmark: min/median/max of %d runs each, no verdicts\n", settings.runs);
  const std::pair<const char*, void (*)(const Settings&)> figures[] = {
      {"program-start", figure_window_shown},
      {"start", figure_start},
      {"exit", figure_exit},
      {"flood", figure_flood},
      {"ctrl-c", figure_stop_and_exit_after_ctrl_c}};
  bool any = false;
  for (const auto& [name, figure] : figures) {
    if (!settings.only.empty() && settings.only != name) continue;
    figure(settings);
    any = true;
  }
  if (!any) say("no figure named %s\n", settings.only.c_str());
  return 0;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  try {
    return bench::run(argc, argv);
  } catch (const std::exception& e) {
    bench::say("benchmark stopped: %s\n", e.what());
    return 1;
  }
}
