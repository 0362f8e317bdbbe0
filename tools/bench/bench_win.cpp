// Benchmark driver, run by scripts/bench.sh under Wine on a virtual display. It measures what a
// user meets: the program's window after a double click, a start on the button, the exit from
// the tray menu, and a server that floods its console output with the log tab hidden and shown.
// Every figure is taken over several runs in one sitting and printed as min/median/max beside
// the aim; the flood runs take turns with a pipe that is only drained, so the ratio compares
// runs made a moment apart. It never passes or fails on time.
//   bench.exe [--bytes N] [--runs N]
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
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/layout.h"
#include "platform/handles_win.h"
#include "tests/support/harness.h"
#include "tests/support/net.h"
#include "tools/standin/standin_rules.h"
#include "tray/notify_record.h"

namespace {

using e2e::free_port;
using e2e::ScopedVariable;
using e2e::Winsock;

constexpr char kServerExe[] = "rivermesh_windows_amd64.exe";
constexpr char kReportFile[] = "report.txt";
constexpr double kMiB = 1024.0 * 1024.0;

struct Settings {
  std::size_t bytes = 20000000;
  int runs = 5;
  std::string only;  // one figure's name, or empty for all
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
  DWORD id() const { return id_; }

 private:
  win::unique_handle process_;
  DWORD id_ = 0;
};

std::string flood_mode(std::size_t bytes) { return "flood:" + std::to_string(bytes); }

std::string standin_arguments() { return "-h \"127.0.0.1\" -p " + std::to_string(free_port()); }

bool server_gone() { return find_process(kServerExe) == 0; }

// A whole file read by path, also one whose size is not known beforehand (Z:\proc).
std::string read_whole(const std::string& path) {
  win::unique_file file(::CreateFileA(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (file && ::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
    text.append(buffer, got);
  }
  return text;
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
  // The longest answer since the last call: the figures of one phase of a run.
  double take_worst_ms() { return worst_ms_.exchange(0); }
  int unanswered() const { return unanswered_; }

 private:
  void run(HWND main) noexcept {
    while (!stop_) {
      const double started = now_ms();
      DWORD_PTR result = 0;
      const bool answered =
          ::SendMessageTimeoutA(main, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result) != 0;
      const double took = now_ms() - started;
      double worst = worst_ms_;
      while (took > worst && !worst_ms_.compare_exchange_weak(worst, took)) {
      }
      if (!answered) ++unanswered_;
      ::Sleep(10);
    }
  }

  std::atomic<bool> stop_{false};
  std::atomic<double> worst_ms_{0};
  std::atomic<int> unanswered_{0};
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

// ---- Processor time per thread ----

double filetime_ms(const FILETIME& t) {
  return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) /
         10000.0;
}

double thread_cpu_ms(HANDLE thread) {
  FILETIME created, exited, kernel, user;
  if (!::GetThreadTimes(thread, &created, &exited, &kernel, &user)) return 0;
  return filetime_ms(kernel) + filetime_ms(user);
}

double process_cpu_ms(DWORD pid) {
  win::unique_handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  FILETIME created, exited, kernel, user;
  if (!process || !::GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) return 0;
  return filetime_ms(kernel) + filetime_ms(user);
}

// A Linux process beside Wine (the wineserver, the X server), read through the Z: drive; its
// pid comes from scripts/bench.sh. 0 when unknown.
double linux_cpu_ms(const char* variable) {
  const char* pid = std::getenv(variable);
  if (pid == nullptr || *pid == '\0') return 0;
  const std::string text = read_whole(std::string("Z:\\proc\\") + pid + "\\stat");
  const std::size_t name_end = text.rfind(')');
  if (name_end == std::string::npos) return 0;
  // After the name: state, then fields 4..; utime and stime are fields 14 and 15, in 1/100 s.
  unsigned long long fields[13] = {};
  if (std::sscanf(text.c_str() + name_end + 1,
                  " %*c %llu %llu %llu %llu %llu %llu %llu %llu %llu %llu %llu %llu", &fields[0],
                  &fields[1], &fields[2], &fields[3], &fields[4], &fields[5], &fields[6],
                  &fields[7], &fields[8], &fields[9], &fields[10], &fields[11]) != 12) {
    return 0;
  }
  return static_cast<double>(fields[10] + fields[11]) * 10.0;
}

// Processor time of every party of a flood at one moment: the program's threads, the writer
// (the stand-in), the wineserver and the X server.
struct CpuSample {
  std::map<DWORD, double> program_threads;
  double writer = 0;
  double wineserver = 0;
  double x_server = 0;
};

CpuSample sample_cpu(DWORD program, DWORD writer) {
  CpuSample s;
  win::unique_file snap(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 te{};
  te.dwSize = sizeof te;
  for (BOOL ok = snap && program && ::Thread32First(snap.get(), &te); ok;
       ok = ::Thread32Next(snap.get(), &te)) {
    if (te.th32OwnerProcessID != program) continue;
    win::unique_handle thread(
        ::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, te.th32ThreadID));
    if (thread) s.program_threads[te.th32ThreadID] = thread_cpu_ms(thread.get());
  }
  if (writer) s.writer = process_cpu_ms(writer);
  s.wineserver = linux_cpu_ms("RMT_BENCH_WINESERVER_PID");
  s.x_server = linux_cpu_ms("RMT_BENCH_XSERVER_PID");
  return s;
}

// Processor time between two samples, ms: the program's UI thread, its busiest other thread (the
// console reader during a flood), its remaining threads, the writer, wineserver and X server.
struct CpuSpent {
  double ui = 0, reader = 0, other = 0, writer = 0, wineserver = 0, x_server = 0;
};

CpuSpent spent(const CpuSample& from, const CpuSample& to, DWORD ui_thread) {
  CpuSpent d;
  for (const auto& [tid, ms] : to.program_threads) {
    const auto before = from.program_threads.find(tid);
    const double used = ms - (before == from.program_threads.end() ? 0 : before->second);
    if (tid == ui_thread) {
      d.ui = used;
    } else if (used > d.reader) {
      d.other += d.reader;
      d.reader = used;
    } else {
      d.other += used;
    }
  }
  d.writer = to.writer - from.writer;
  d.wineserver = to.wineserver - from.wineserver;
  d.x_server = to.x_server - from.x_server;
  return d;
}

// ---- Figures over several runs ----

// Values of one figure over the runs of a sitting.
struct Series {
  std::vector<double> values;
  void add(double v) { values.push_back(v); }
  bool empty() const { return values.empty(); }
  double med() const { return median(values); }
};

void print_series(const char* label, const Series& s, const char* unit, const char* aim) {
  if (s.empty()) {
    say("  %-46s not measured\n", label);
    return;
  }
  const auto [lo, hi] = std::minmax_element(s.values.begin(), s.values.end());
  say("  %-46s min %7.2f  median %7.2f  max %7.2f %-3s (%u runs)  %s\n", label, *lo, s.med(), *hi,
      unit, static_cast<unsigned>(s.values.size()), aim);
}

void print_problems(const std::vector<std::string>& problems) {
  for (const std::string& p : problems) say("  problem: %s\n", p.c_str());
}

// Processor time per party, medians over the runs.
struct CpuSeries {
  Series ui, reader, other, writer, wineserver, x_server;
  void add(const CpuSpent& d) {
    ui.add(d.ui);
    reader.add(d.reader);
    other.add(d.other);
    writer.add(d.writer);
    wineserver.add(d.wineserver);
    x_server.add(d.x_server);
  }
};

void print_cpu(const char* label, const CpuSeries& c, bool program) {
  if (c.writer.empty()) return;
  say("  %s, processor ms (median):", label);
  if (program) {
    say(" UI thread %.0f, reader %.0f, other threads %.0f,", c.ui.med(), c.reader.med(),
        c.other.med());
  } else {
    say(" drainer %.0f,", c.reader.med());
  }
  say(" writer %.0f, wineserver %.0f, X server %.0f\n", c.writer.med(), c.wineserver.med(),
      c.x_server.med());
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
  HWND stop = e2e::find_control(program.main, layout::按钮_停止);
  click(program.main, layout::按钮_启动);
  if (!e2e::wait_until([&] { return e2e::enabled(stop); }, 10000)) {
    {
      problem = "the server did not start";
      return std::nullopt;
    }
  }
  const DWORD shell = find_process("cmd.exe", program.id);
  const DWORD server = find_process(kServerExe, shell);
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
    {
      problem = "the tray menu did not open";
      return std::nullopt;
    }
  }
  press(menu, VK_UP);
  const double asked = now_ms();
  press(menu, VK_RETURN);
  const DWORD ended =
      ::WaitForMultipleObjects(static_cast<DWORD>(waited.size()), waited.data(), TRUE, 10000);
  if (ended >= WAIT_OBJECT_0 + waited.size()) {
    {
      problem = "the processes outlived 10 s";
      return std::nullopt;
    }
  }
  return now_ms() - asked;
}

void figure_exit(const Settings& settings) {
  Series exit_ms;
  std::vector<std::string> problems;
  for (int i = 0; i < settings.runs; ++i) {
    std::string problem;
    if (const auto ms = exit_from_tray_menu(problem)) exit_ms.add(*ms);
    if (!problem.empty()) problems.push_back(problem);
  }
  say("\n[exit with the server running]\n");
  print_problems(problems);
  print_series("tray menu 'exit' -> program, shell, server gone", exit_ms, "ms", "aim <= 300 ms");
}

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
        if (find_process(kServerExe) != 0) {
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

// A double click in the desktop shell: the launcher, copied as explorer.exe, starts the program;
// timed until its main window is visible. The wait looks at the window list only, once a
// millisecond: a process snapshot that often kept the wineserver, which the starting program needs
// for nearly every call, so busy that it doubled the figure it took. Whose the window is is asked
// once it shows.
std::optional<double> window_after_double_click(std::string& problem) {
  e2e::TestFolder folder;
  prepare_folder(folder);
  const std::string exe = folder.copy_program();
  const std::string shell = folder.copy_in("launcher.exe", "explorer.exe");
  const double started = now_ms();
  e2e::Process launcher = e2e::Process::start(shell, e2e::quoted(exe), folder.path());
  DWORD program = 0;
  HWND main = nullptr;
  const bool shown = poll_until(
      [&] {
        for (HWND w = ::FindWindowExA(nullptr, nullptr, "RivermeshToolsWindow", nullptr); w;
             w = ::FindWindowExA(nullptr, w, "RivermeshToolsWindow", nullptr)) {
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
  if (program != find_process("RivermeshTools.exe", launcher.id())) {
    problem = "the window shown is not the started program's";
    return std::nullopt;
  }
  e2e::post_command(main, layout::托盘_退出);
  if (!e2e::ended(program, 10000)) problem = "the program outlived its exit";
  return took;
}

void figure_window_shown(const Settings& settings) {
  Series shown_ms;
  std::vector<std::string> problems;
  for (int i = 0; i < settings.runs; ++i) {
    std::string problem;
    if (const auto ms = window_after_double_click(problem)) shown_ms.add(*ms);
    if (!problem.empty()) problems.push_back(problem);
  }
  say("\n[program start]\n");
  print_problems(problems);
  print_series("double click in the shell -> window shown", shown_ms, "ms", "");
}

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
  HWND stop = e2e::find_control(program.main, layout::按钮_停止);
  Pinger pinger(program.main);
  const auto started = [&] {
    click(program.main, layout::按钮_启动);
    return poll_until([&] { return e2e::enabled(stop); }, 10000);
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

Settings read_settings(int argc, char** argv) {
  Settings settings;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const long long value = std::atoll(argv[i + 1]);
    if (flag == "--only") {
      settings.only = argv[i + 1];
    } else if (flag == "--bytes" && value > 0 &&
               static_cast<std::size_t>(value) <= standin::kMaxModeBytes) {
      settings.bytes = static_cast<std::size_t>(value);
    } else if (flag == "--runs" && value >= 5 && value <= 50) {
      settings.runs = static_cast<int>(value);
    } else {
      say("unknown or out of range (runs: 5 to 50): %s %s\n", argv[i], argv[i + 1]);
    }
  }
  return settings;
}

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

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    say("benchmark stopped: %s\n", e.what());
    return 1;
  }
}
