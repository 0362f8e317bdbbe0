// The flood: a server that floods its console output, with the program's log tab hidden and
// shown, each run beside a pipe that is only drained.
#include "tools/bench/measure_win.h"

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/layout.h"
#include "platform/handles_win.h"
#include "tests/support/harness.h"
#include "tests/support/net.h"
#include "tests/support/processes.h"
#include "tools/bench/cpu_time_win.h"
#include "tools/bench/figures_win.h"
#include "tools/standin/standin_rules.h"

namespace bench {
namespace {

using e2e::find_process;
using e2e::free_port;
using e2e::ScopedVariable;

constexpr double kMiB = 1024.0 * 1024.0;

std::optional<double> wait_for_report(const e2e::TestFolder& folder, DWORD timeout_ms) {
  std::optional<double> write_ms;
  e2e::wait_until(
      [&] {
        const std::string text = folder.read_file(kReportFile);
        if (text.rfind("write_ms=", 0) != 0 || text.find('\n') == std::string::npos) return false;
        write_ms = std::atof(text.c_str() + 9);
        return true;
      },
      timeout_ms);
  return write_ms;
}

// A child started with its standard output on a handle of ours; ends with its tree.
class Child {
 public:
  Child(const std::string& exe, const std::string& args, const std::string& dir, HANDLE out) {
    std::string command = "\"" + exe + "\" " + args;
    ::SetHandleInformation(out, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out;
    si.hStdError = out;
    PROCESS_INFORMATION pi{};
    if (::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                         dir.c_str(), &si, &pi)) {
      ::CloseHandle(pi.hThread);
      process_.reset(pi.hProcess);
      id_ = pi.dwProcessId;
    }
  }
  ~Child() {
    if (!process_) return;
    e2e::kill_tree(id_);
    ::WaitForSingleObject(process_.get(), 5000);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  bool started() const { return static_cast<bool>(process_); }
  DWORD id() const { return id_; }

 private:
  win::unique_handle process_;
  DWORD id_ = 0;
};

std::string flood_mode(std::size_t bytes) { return "flood:" + std::to_string(bytes); }

std::string standin_arguments() { return "-h \"127.0.0.1\" -p " + std::to_string(free_port()); }

void show_log_tab(HWND main) {
  HWND tab = e2e::find_control(main, layout::选择夹1);
  ::PostMessageA(tab, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(85, 10));  // "日志"
  ::PostMessageA(tab, WM_LBUTTONUP, 0, MAKELPARAM(85, 10));
  e2e::sync(main);
}

// Waits until the log ends with the flood's end line: the program has shown everything; answers
// when the box last changed. Reading a log of 1 MiB holds the window for milliseconds and moves
// megabytes through the wineserver, which the figures would count, so the whole text is read only
// once its length stayed the same for a poll; the length itself costs next to nothing. (Single
// lines are not read: Wine's cross-process EM_GETLINE has been seen to end the receiving window's
// thread.)
std::optional<double> wait_for_flood_end(HWND log, double timeout_ms) {
  const std::string end = std::string(standin::kFloodEnd) + "\r\n";
  const double started = now_ms();
  DWORD_PTR length = 0, last_length = ~DWORD_PTR{0};
  double changed_at = started;
  while (now_ms() - started < timeout_ms) {
    ::Sleep(50);
    ::SendMessageTimeoutA(log, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length);
    if (length != last_length) {
      last_length = length;
      changed_at = now_ms();
      continue;
    }
    const std::string text = e2e::text_of(log);
    if (text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0) {
      return changed_at;
    }
  }
  return std::nullopt;
}

std::optional<double> peak_working_set_mib(DWORD pid) {
  win::unique_handle process(
      ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  PROCESS_MEMORY_COUNTERS counters{};
  if (!process || !::GetProcessMemoryInfo(process.get(), &counters, sizeof counters)) {
    return std::nullopt;
  }
  return counters.PeakWorkingSetSize / kMiB;
}

// The stand-in's flood with its output on a pipe that a thread of ours only drains, 64 KiB a
// read, as the program's reader reads: what the pipe alone costs.
struct DrainRun {
  std::optional<double> write_ms;
  CpuSpent cpu;
};

DrainRun flood_to_drained_pipe(std::size_t bytes) {
  constexpr DWORD kReadSize = 64 * 1024;
  DrainRun run;
  e2e::TestFolder folder;
  prepare_folder(folder);
  ScopedVariable mode(standin::kModeVariable, flood_mode(bytes));
  ScopedVariable report(standin::kReportVariable, folder.file(kReportFile));
  win::unique_handle read_end, write_end;
  if (!::CreatePipe(read_end.put(), write_end.put(), nullptr, 0)) return run;
  std::vector<char> buffer(kReadSize);
  std::atomic<double> drainer_ms{0};
  std::atomic<bool> drainer_ready{false};
  std::thread drainer([&, h = read_end.get()]() noexcept {
    const HANDLE self = ::GetCurrentThread();
    drainer_ready = true;
    DWORD got = 0;
    bool first = true;
    while (::ReadFile(h, buffer.data(), kReadSize, &got, nullptr) && got > 0) {
      if (first) drainer_ms = -thread_cpu_ms(self);
      first = false;
    }
    drainer_ms = drainer_ms + thread_cpu_ms(self);
  });
  {
    Child server(folder.file(kServerExe), standin_arguments(), folder.path(), write_end.get());
    write_end.reset();  // the child's copy is the last: its end ends the drainer
    const CpuSample before = sample_cpu(0, server.id());
    if (server.started()) run.write_ms = wait_for_report(folder, 120000);
    run.cpu = spent(before, sample_cpu(0, server.id()), 0);
  }
  drainer.join();
  run.cpu.reader = drainer_ms;
  return run;
}

// The program starts the flooding stand-in on a click and shows its output.
struct FloodRun {
  std::string problem;  // empty when every figure was taken
  std::optional<double> write_ms;
  double worst_answer_ms = 0;  // while the stand-in writes
  double tail_answer_ms = 0;   // after it, until the log shows the end
  double idle_answer_ms = 0;   // in the second before the click
  double shown_after_ms = 0;   // from the end of the writing until the log ends with the end line
  std::optional<double> peak_mib;
  bool tail_matches = false;
  CpuSpent flood_cpu;  // while the stand-in writes
  CpuSpent tail_cpu;   // from then until the log shows the end
};

FloodRun failed(const char* why) {
  FloodRun run;
  run.problem = why;
  return run;
}

FloodRun flood_through_program(std::size_t bytes, bool log_shown) {
  FloodRun run;
  e2e::TestFolder folder;
  prepare_folder(folder);
  ScopedVariable mode(standin::kModeVariable, flood_mode(bytes));
  ScopedVariable report(standin::kReportVariable, folder.file(kReportFile));
  e2e::Program program = e2e::start_program(folder, true);
  if (!program.main) return failed("the program showed no window");
  HWND log = e2e::find_control(program.main, layout::编辑框_日志);
  if (log_shown) {
    show_log_tab(program.main);
    if (!e2e::wait_until([&] { return e2e::visible(log); }, 5000)) {
      return failed("the log tab did not open");
    }
  }
  const DWORD ui_thread = ::GetWindowThreadProcessId(program.main, nullptr);
  Pinger pinger(program.main);
  // The idle window's answers first: what the machine's own noise adds to every answer.
  ::Sleep(1000);
  run.idle_answer_ms = pinger.take_worst_ms();
  click(program.main, layout::按钮_启动);
  DWORD writer = 0;
  if (!poll_until([&] { return (writer = find_process(kServerExe)) != 0; }, 10000)) {
    return failed("no server process after the click on the start button");
  }
  const CpuSample started = sample_cpu(program.id, writer);
  run.write_ms = wait_for_report(folder, 180000);
  if (!run.write_ms) return failed("the stand-in wrote no report within 180 s");
  const CpuSample written = sample_cpu(program.id, writer);
  run.worst_answer_ms = pinger.take_worst_ms();
  const double written_at = now_ms();
  const auto shown = wait_for_flood_end(log, 180000);
  run.shown_after_ms = shown.value_or(now_ms()) - written_at;
  pinger.stop();
  run.flood_cpu = spent(started, written, ui_thread);
  run.tail_cpu = spent(written, sample_cpu(program.id, writer), ui_thread);
  run.tail_answer_ms = pinger.take_worst_ms();
  if (pinger.unanswered() > 0) run.problem = "the window left a WM_NULL unanswered for 10 s";
  run.peak_mib = peak_working_set_mib(program.id);
  if (!shown) run.problem = "the log did not show the end line within 180 s";
  const std::string text = e2e::text_of(log);
  const std::string expected = standin::flood_text(bytes) + standin::kFloodEnd + "\r\n";
  const std::size_t compared = std::min<std::size_t>({text.size(), expected.size(), 256 * 1024});
  run.tail_matches = compared > 0 && text.compare(text.size() - compared, compared, expected,
                                                  expected.size() - compared, compared) == 0;
  return run;
}

struct FloodFigures {
  Series ratio, worst_answer, tail_answer, idle_answer, shown_after, peak_mib;
  CpuSeries flood_cpu, tail_cpu;
  std::vector<std::string> problems;
};

void add_flood_run(FloodFigures& f, const FloodRun& run, const std::optional<double>& drain_ms) {
  if (!run.problem.empty()) f.problems.push_back(run.problem);
  if (!run.write_ms) return;
  if (drain_ms && *drain_ms > 0) f.ratio.add(*run.write_ms / *drain_ms);
  f.worst_answer.add(run.worst_answer_ms);
  f.tail_answer.add(run.tail_answer_ms);
  f.idle_answer.add(run.idle_answer_ms);
  f.shown_after.add(run.shown_after_ms);
  if (run.peak_mib) f.peak_mib.add(*run.peak_mib);
  if (!run.tail_matches) f.problems.push_back("the log's end is not the stand-in's output");
  f.flood_cpu.add(run.flood_cpu);
  f.tail_cpu.add(run.tail_cpu);
}

void print_flood(const char* label, const FloodFigures& f) {
  say("\n[flood, log tab %s]\n", label);
  print_problems(f.problems);
  print_series("writing through the program / draining pipe", f.ratio, "x", "aim <= 1.5");
  print_series("longest WM_NULL answer (every 10 ms) in the flood", f.worst_answer, "ms",
               "aim <= 50 ms");
  print_series("the same after it, until the log shows the end", f.tail_answer, "ms",
               "aim <= 50 ms");
  print_series("the same in the idle second before the click", f.idle_answer, "ms", "");
  print_series("end of writing -> log shows the end line", f.shown_after, "ms", "");
  print_series("program's peak working set", f.peak_mib, "MiB", "the log keeps 1 MiB");
  print_cpu("while the stand-in writes", f.flood_cpu, true);
  print_cpu("after it, until the log shows the end", f.tail_cpu, true);
}

}  // namespace

// The flood: each round drains a pipe, then floods the program with the log tab hidden, then
// with it shown; each ratio is taken against the drain of its own round.
void figure_flood(const Settings& settings) {
  Series drain_ms;
  CpuSeries drain_cpu;
  FloodFigures hidden, shown;
  for (int i = 0; i < settings.runs; ++i) {
    const DrainRun drain = flood_to_drained_pipe(settings.bytes);
    if (drain.write_ms) {
      drain_ms.add(*drain.write_ms);
      drain_cpu.add(drain.cpu);
    }
    add_flood_run(hidden, flood_through_program(settings.bytes, false), drain.write_ms);
    add_flood_run(shown, flood_through_program(settings.bytes, true), drain.write_ms);
  }
  say("\n[flood of %lu bytes: a pipe that is only drained]\n",
      static_cast<unsigned long>(settings.bytes));
  print_series("stand-in's writing time", drain_ms, "ms", "");
  print_cpu("while the stand-in writes", drain_cpu, false);
  print_flood("hidden", hidden);
  print_flood("shown", shown);
}

}  // namespace bench
