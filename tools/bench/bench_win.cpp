// Benchmark driver, run by scripts/bench.sh under Wine on a virtual display. It measures how the
// program copes with a server that floods its console output, how long a start and an exit take,
// and prints the figures beside the ratios we aim for. It never passes or fails on time: the
// figures of one run are compared with each other, never with fixed numbers.
//   bench.exe [--bytes N] [--starts N] [--log-runs N]
// Output is ASCII so that it reads the same in any terminal.
// Winsock 2 must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/layout.h"
#include "platform/handles_win.h"
#include "tests/e2e/harness.h"
#include "tests/e2e/net.h"
#include "tools/standin/standin_rules.h"

namespace {

using e2e::free_port;
using e2e::ScopedVariable;
using e2e::Winsock;

constexpr char kServerExe[] = "rivermesh_windows_amd64.exe";
constexpr char kReportFile[] = "report.txt";
// The presentation the program waits for after a start; the start figure is a ratio of it.
constexpr double kFixedStartWaitMs = 500;
constexpr double kMiB = 1024.0 * 1024.0;

struct Settings {
  std::size_t bytes = 20000000;
  int starts = 5;
  int log_runs = 3;
};

double now_ms() {
  LARGE_INTEGER frequency, count;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&count);
  return static_cast<double>(count.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// Like e2e::wait_until, but polls every millisecond: the start figure needs that resolution.
bool poll_until(const std::function<bool()>& pred, double timeout_ms) {
  const double started = now_ms();
  while (now_ms() - started < timeout_ms) {
    if (pred()) return true;
    ::Sleep(1);
  }
  return pred();
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
  std::fflush(stdout);
}

// A program folder as a user has it: the program, the server beside it, and settings that point
// at the server and a free port on the loopback address.
void prepare_folder(const e2e::TestFolder& folder) {
  const std::string server = folder.copy_standin();
  folder.write_file("config.ini", "[BasisConfig]\r\nFile=" + server +
                                      "\r\nWeb port=" + std::to_string(free_port()) +
                                      "\r\nRun=false\r\n[ServerConfig]\r\nIP=127.0.0.1\r\n"
                                      "Access control=false\r\n");
  ::DeleteFileA(folder.file(kReportFile).c_str());
}

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

struct ProcessEntry {
  DWORD id;
  DWORD parent;
  std::string name;
};

std::vector<ProcessEntry> processes() {
  std::vector<ProcessEntry> out;
  win::unique_file snap(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snap) return out;
  PROCESSENTRY32 pe{};
  pe.dwSize = sizeof pe;
  for (BOOL ok = ::Process32First(snap.get(), &pe); ok; ok = ::Process32Next(snap.get(), &pe)) {
    out.push_back({pe.th32ProcessID, pe.th32ParentProcessID, pe.szExeFile});
  }
  return out;
}

// The first process of that name (any case) whose parent is `parent`, or any parent when 0.
DWORD find_process(const std::string& name, DWORD parent = 0) {
  for (const ProcessEntry& p : processes()) {
    if ((parent == 0 || p.parent == parent) && ::lstrcmpiA(p.name.c_str(), name.c_str()) == 0) {
      return p.id;
    }
  }
  return 0;
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

 private:
  win::unique_handle process_;
  DWORD id_ = 0;
};

std::string flood_mode(std::size_t bytes) { return "flood:" + std::to_string(bytes); }

std::string standin_arguments() { return "-h \"127.0.0.1\" -p " + std::to_string(free_port()); }

// The stand-in's own figure for the flood with its output on the NUL device.
std::optional<double> flood_to_nul(std::size_t bytes) {
  e2e::TestFolder folder;
  prepare_folder(folder);
  ScopedVariable mode(standin::kModeVariable, flood_mode(bytes));
  ScopedVariable report(standin::kReportVariable, folder.file(kReportFile));
  win::unique_file nul(::CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
  Child server(folder.file(kServerExe), standin_arguments(), folder.path(), nul.get());
  if (!server.started()) return std::nullopt;
  return wait_for_report(folder, 120000);
}

// The same with its output on a pipe that a thread of ours only drains, `read_size` bytes at a
// time: what the pipe alone costs.
std::optional<double> flood_to_drained_pipe(std::size_t bytes, DWORD read_size) {
  e2e::TestFolder folder;
  prepare_folder(folder);
  ScopedVariable mode(standin::kModeVariable, flood_mode(bytes));
  ScopedVariable report(standin::kReportVariable, folder.file(kReportFile));
  win::unique_handle read_end, write_end;
  if (!::CreatePipe(read_end.put(), write_end.put(), nullptr, 0)) return std::nullopt;
  std::vector<char> buffer(read_size);
  std::thread drainer([h = read_end.get(), data = buffer.data(), read_size]() noexcept {
    DWORD got = 0;
    while (::ReadFile(h, data, read_size, &got, nullptr) && got > 0) {
    }
  });
  std::optional<double> write_ms;
  {
    Child server(folder.file(kServerExe), standin_arguments(), folder.path(), write_end.get());
    write_end.reset();  // the child's copy is the last: its end ends the drainer
    if (server.started()) write_ms = wait_for_report(folder, 120000);
  }
  drainer.join();
  return write_ms;
}

// Sends WM_NULL to the main window every 10 ms from its own thread and keeps the longest answer.
class Pinger {
 public:
  explicit Pinger(HWND main) : thread_([this, main]() noexcept { run(main); }) {}
  ~Pinger() { stop(); }
  Pinger(const Pinger&) = delete;
  Pinger& operator=(const Pinger&) = delete;

  void stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  // Read after stop().
  double worst_ms() const { return worst_ms_; }
  int sent() const { return sent_; }
  int unanswered() const { return unanswered_; }

 private:
  void run(HWND main) noexcept {
    while (!stop_) {
      const double started = now_ms();
      DWORD_PTR result = 0;
      const bool answered =
          ::SendMessageTimeoutA(main, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result) != 0;
      worst_ms_ = std::max(worst_ms_, now_ms() - started);
      ++sent_;
      if (!answered) ++unanswered_;
      ::Sleep(10);
    }
  }

  std::atomic<bool> stop_{false};
  double worst_ms_ = 0;
  int sent_ = 0;
  int unanswered_ = 0;
  std::thread thread_;  // last: it starts once everything above is ready
};

void click(HWND main, int id) {
  ::PostMessageA(main, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(e2e::find_control(main, id)));
}

void show_log_tab(HWND main) {
  HWND tab = e2e::find_control(main, layout::选择夹1);
  ::PostMessageA(tab, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(85, 10));  // "日志"
  ::PostMessageA(tab, WM_LBUTTONUP, 0, MAKELPARAM(85, 10));
  e2e::sync(main);
}

// The log ends with the flood's end line: the program has shown everything. The whole text is
// read rather than single lines: Wine's cross-process EM_GETLINE has been seen to end the
// receiving window's thread.
bool log_shows_flood_end(HWND log) {
  const std::string text = e2e::text_of(log);
  const std::string end = std::string(standin::kFloodEnd) + "\r\n";
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

struct Memory {
  double peak_working_set = 0;
  double peak_pagefile = 0;
};

std::optional<Memory> peak_memory(DWORD pid) {
  win::unique_handle process(
      ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  PROCESS_MEMORY_COUNTERS counters{};
  if (!process || !::GetProcessMemoryInfo(process.get(), &counters, sizeof counters)) {
    return std::nullopt;
  }
  return Memory{counters.PeakWorkingSetSize / kMiB, counters.PeakPagefileUsage / kMiB};
}

template <typename Run>
Run failed(const char* why) {
  Run run;
  run.problem = why;
  return run;
}

struct LogRun {
  std::string problem;  // empty when every figure was taken
  double write_ms = 0;
  double shown_after_ms = 0;  // from the click until the log's last line is the end line
  double worst_answer_ms = 0;
  int pings = 0;
  int unanswered = 0;
  std::optional<Memory> memory;
  std::size_t log_bytes = 0;
  bool tail_matches = false;
};

// The program starts the flooding stand-in on a click and shows its output.
LogRun flood_through_program(std::size_t bytes, bool log_visible) {
  LogRun run;
  e2e::TestFolder folder;
  prepare_folder(folder);
  ScopedVariable mode(standin::kModeVariable, flood_mode(bytes));
  ScopedVariable report(standin::kReportVariable, folder.file(kReportFile));
  e2e::Program program = e2e::start_program(folder, true);
  if (!program.main) return failed<LogRun>("the program showed no window");
  HWND log = e2e::find_control(program.main, layout::编辑框_日志);
  if (log_visible) {
    show_log_tab(program.main);
    if (!e2e::wait_until([&] { return e2e::visible(log); }, 5000)) {
      return failed<LogRun>("the log tab did not open");
    }
  }
  Pinger pinger(program.main);
  ::Sleep(100);  // a few answers from the idle window first
  const double clicked = now_ms();
  click(program.main, layout::按钮_启动);
  if (!e2e::wait_until([] { return find_process(kServerExe) != 0; }, 10000)) {
    return failed<LogRun>("no server process after the click on the start button");
  }
  const auto write_ms = wait_for_report(folder, 180000);
  if (!write_ms) return failed<LogRun>("the stand-in wrote no report within 180 s");
  run.write_ms = *write_ms;
  const bool shown = e2e::wait_until([&] { return log_shows_flood_end(log); }, 180000);
  run.shown_after_ms = now_ms() - clicked;
  pinger.stop();
  run.worst_answer_ms = pinger.worst_ms();
  run.pings = pinger.sent();
  run.unanswered = pinger.unanswered();
  run.memory = peak_memory(program.id);
  if (!shown) run.problem = "the log did not show the end line within 180 s";
  const std::string text = e2e::text_of(log);
  run.log_bytes = text.size();
  const std::string expected = standin::flood_text(bytes) + standin::kFloodEnd + "\r\n";
  const std::size_t compared = std::min<std::size_t>({text.size(), expected.size(), 256 * 1024});
  run.tail_matches = compared > 0 && text.compare(text.size() - compared, compared, expected,
                                                  expected.size() - compared, compared) == 0;
  return run;
}

struct StartRun {
  std::string problem;
  std::vector<double> start_ms;
  std::optional<Memory> memory;  // with the server running, no flood
  std::optional<double> exit_ms;
  std::string exit_note;
};

bool server_gone() { return find_process(kServerExe) == 0; }

StartRun starts_and_exit(int starts) {
  StartRun run;
  e2e::TestFolder folder;
  prepare_folder(folder);
  e2e::Program program = e2e::start_program(folder, true);
  if (!program.main) return failed<StartRun>("the program showed no window");
  HWND start = e2e::find_control(program.main, layout::按钮_启动);
  HWND stop = e2e::find_control(program.main, layout::按钮_停止);
  for (int i = 0; i < starts; ++i) {
    if (!e2e::wait_until([&] { return e2e::enabled(start) && server_gone(); }, 10000)) {
      run.problem = "the start button stayed disabled or a server stayed behind";
      return run;
    }
    const double clicked = now_ms();
    click(program.main, layout::按钮_启动);
    if (!poll_until([&] { return e2e::enabled(stop); }, 10000)) {
      run.problem = "the stop button was not enabled within 10 s of the start";
      return run;
    }
    run.start_ms.push_back(now_ms() - clicked);
    if (i + 1 < starts) click(program.main, layout::按钮_停止);
  }
  e2e::sync(program.main);
  run.memory = peak_memory(program.id);

  const DWORD shell = find_process("cmd.exe", program.id);
  const DWORD server = find_process(kServerExe, shell);
  if (!shell || !server)
    run.exit_note = "(the shell or the server was not found under the program)";
  std::vector<win::unique_handle> owned;
  std::vector<HANDLE> waited;
  for (DWORD pid : {program.id, shell, server}) {
    if (!pid) continue;
    owned.emplace_back(::OpenProcess(SYNCHRONIZE, FALSE, pid));
    if (owned.back()) waited.push_back(owned.back().get());
  }
  const double asked = now_ms();
  e2e::post_command(program.main, layout::托盘_退出);
  const DWORD ended =
      ::WaitForMultipleObjects(static_cast<DWORD>(waited.size()), waited.data(), TRUE, 10000);
  if (ended < WAIT_OBJECT_0 + waited.size()) run.exit_ms = now_ms() - asked;
  return run;
}

void print_memory(const char* label, const std::optional<Memory>& memory) {
  if (!memory) {
    say("  %s: not available\n", label);
    return;
  }
  say("  %s: peak working set %.1f MiB, peak pagefile usage %.1f MiB\n", label,
      memory->peak_working_set, memory->peak_pagefile);
}

void print_log_runs(const char* label, const std::vector<LogRun>& runs, double drain_ms,
                    double nul_ms, const std::optional<Memory>& quiet) {
  say("\n[log, %s]\n", label);
  std::vector<double> writes;
  double worst_answer = 0;
  std::optional<double> growth_ws, growth_pf;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const LogRun& run = runs[i];
    if (run.write_ms <= 0) {
      say("  run %u not measured: %s\n", static_cast<unsigned>(i + 1), run.problem.c_str());
      continue;
    }
    if (!run.problem.empty())
      say("  run %u: %s\n", static_cast<unsigned>(i + 1), run.problem.c_str());
    writes.push_back(run.write_ms);
    worst_answer = std::max(worst_answer, run.worst_answer_ms);
    say("  run %u: writing %.0f ms; log shown to its end %.0f ms after the click; worst answer "
        "%.0f ms of %d (%d unanswered); log %.2f MiB, end matches: %s\n",
        static_cast<unsigned>(i + 1), run.write_ms, run.shown_after_ms, run.worst_answer_ms,
        run.pings, run.unanswered, run.log_bytes / kMiB, run.tail_matches ? "yes" : "NO");
    if (run.memory) {
      say("         peak working set %.1f MiB, peak pagefile usage %.1f MiB\n",
          run.memory->peak_working_set, run.memory->peak_pagefile);
      if (quiet) {
        growth_ws = std::max(growth_ws.value_or(-1e9),
                             run.memory->peak_working_set - quiet->peak_working_set);
        growth_pf =
            std::max(growth_pf.value_or(-1e9), run.memory->peak_pagefile - quiet->peak_pagefile);
      }
    }
  }
  if (writes.empty()) return;
  const double write_ms = median(writes);
  if (drain_ms > 0) {
    say("  log ratio, median writing time / draining pipe: %.2f   aim <= 1.5\n",
        write_ms / drain_ms);
  }
  if (nul_ms > 0) say("  median writing time / NUL: %.1f\n", write_ms / nul_ms);
  say("  window answer, worst of all runs: %.0f ms   aim <= 50 ms\n", worst_answer);
  if (growth_ws) {
    say("  peak memory over the run without flood, largest: working set %+.1f MiB, pagefile "
        "%+.1f MiB   aim: a few MiB (the log keeps 1 MiB)\n",
        *growth_ws, *growth_pf);
  }
}

std::optional<double> median_of(int runs, const std::function<std::optional<double>()>& measure) {
  std::vector<double> values;
  for (int i = 0; i < runs; ++i) {
    if (const auto v = measure()) values.push_back(*v);
  }
  if (values.empty()) return std::nullopt;
  return median(values);
}

// Stop and exit of a server that ends on Ctrl+C and of one that ignores it: the first costs the
// server's own end, the second the whole grace (3 s for a stop, 2 s at exit) and the forced end.
void stop_and_exit_after_ctrl_c() {
  say("\n[stop and exit, the server asked with Ctrl+C first]\n");
  for (const char* mode : {"ctrl-c:0", "ignore-ctrl-c"}) {
    e2e::TestFolder folder;
    prepare_folder(folder);
    ScopedVariable answer(standin::kModeVariable, mode);
    e2e::Program program = e2e::start_program(folder, true);
    if (!program.main) {
      say("  %s: not measured, the program showed no window\n", mode);
      continue;
    }
    HWND start = e2e::find_control(program.main, layout::按钮_启动);
    HWND stop = e2e::find_control(program.main, layout::按钮_停止);
    const auto started = [&] {
      click(program.main, layout::按钮_启动);
      return poll_until([&] { return e2e::enabled(stop); }, 10000);
    };
    std::optional<double> stop_ms, exit_ms;
    if (started()) {
      const double asked = now_ms();
      click(program.main, layout::按钮_停止);
      if (poll_until([&] { return e2e::enabled(start) && server_gone(); }, 10000)) {
        stop_ms = now_ms() - asked;
      }
    }
    DWORD server_id = 0;
    if (stop_ms && started() &&
        poll_until([&] { return (server_id = find_process(kServerExe)) != 0; }, 5000)) {
      const win::unique_handle server(::OpenProcess(SYNCHRONIZE, FALSE, server_id));
      const win::unique_handle self(::OpenProcess(SYNCHRONIZE, FALSE, program.id));
      const HANDLE waited[] = {server.get(), self.get()};
      const double asked = now_ms();
      e2e::post_command(program.main, layout::托盘_退出);
      if (server && self && ::WaitForMultipleObjects(2, waited, TRUE, 10000) < WAIT_OBJECT_0 + 2) {
        exit_ms = now_ms() - asked;
      }
    }
    say("  %-14s stop until not running and the server gone: %5.0f ms; exit until the program "
        "and the server were gone: %5.0f ms\n",
        mode, stop_ms.value_or(-1), exit_ms.value_or(-1));
  }
  say("  aim: the clean end takes little more than the server's own end; the deaf server takes "
      "the grace (3000 / 2000 ms) and a forced end. -1: not measured\n");
}

Settings read_settings(int argc, char** argv) {
  Settings settings;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const long long value = std::atoll(argv[i + 1]);
    if (flag == "--bytes" && value > 0 &&
        static_cast<std::size_t>(value) <= standin::kMaxModeBytes) {
      settings.bytes = static_cast<std::size_t>(value);
    } else if (flag == "--starts" && value > 0 && value <= 100) {
      settings.starts = static_cast<int>(value);
    } else if (flag == "--log-runs" && value > 0 && value <= 20) {
      settings.log_runs = static_cast<int>(value);
    } else {
      say("unknown or out of range: %s %s\n", argv[i], argv[i + 1]);
    }
  }
  return settings;
}

int run(int argc, char** argv) {
  const Settings settings = read_settings(argc, argv);
  Winsock winsock;
  say("Rivermesh Tools benchmark: figures of one run, no verdicts (flood of %lu bytes)\n",
      static_cast<unsigned long>(settings.bytes));

  say("\n[stand-in alone, median of 3]\n");
  const auto nul_ms = median_of(3, [&] { return flood_to_nul(settings.bytes); });
  const auto drain_ms = median_of(3, [&] { return flood_to_drained_pipe(settings.bytes, 65536); });
  const auto drain260_ms = median_of(3, [&] { return flood_to_drained_pipe(settings.bytes, 260); });
  say("  to NUL: %.0f ms\n", nul_ms.value_or(0));
  say("  to a pipe drained 64 KiB a read: %.0f ms\n", drain_ms.value_or(0));
  say("  to a pipe drained 260 bytes a read: %.0f ms\n", drain260_ms.value_or(0));

  // Starts first: its run with the server up and no flood is the memory baseline.
  const StartRun starts = starts_and_exit(settings.starts);
  for (const bool shown : {false, true}) {
    std::vector<LogRun> runs;
    for (int i = 0; i < settings.log_runs; ++i) {
      runs.push_back(flood_through_program(settings.bytes, shown));
    }
    print_log_runs(shown ? "log tab shown" : "log tab hidden", runs, drain_ms.value_or(0),
                   nul_ms.value_or(0), starts.memory);
  }

  say("\n[start]\n");
  if (!starts.problem.empty()) say("  problem: %s\n", starts.problem.c_str());
  if (!starts.start_ms.empty()) {
    say("  click to running presentation:");
    for (double ms : starts.start_ms) say(" %.0f", ms);
    say(" ms\n  median ratio to the fixed %.0f ms wait: %.2f   aim <= 1.1\n", kFixedStartWaitMs,
        median(starts.start_ms) / kFixedStartWaitMs);
  }
  print_memory("memory with the server running, no flood", starts.memory);

  say("\n[exit with the server running]\n");
  if (starts.exit_ms) {
    say("  tray exit until program, shell and server were gone: %.0f ms   aim <= 300 ms\n",
        *starts.exit_ms);
    if (!starts.exit_note.empty()) say("  %s\n", starts.exit_note.c_str());
  } else {
    say("  not measured%s\n", starts.problem.empty() ? ": the processes outlived 10 s" : "");
  }
  stop_and_exit_after_ctrl_c();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    say("benchmark stopped: %s\n", e.what());
    return 1;
  }
}
