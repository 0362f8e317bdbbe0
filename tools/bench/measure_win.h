// What every figure of the benchmark shares: the command line's settings, a clock, the polls
// and the printing of a series of runs, and the means to set up and drive one program folder.
#pragma once

// Winsock 2 must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/harness.h"

namespace bench {

inline constexpr char kServerExe[] = "rivermesh_windows_amd64.exe";
inline constexpr char kReportFile[] = "report.txt";

struct Settings {
  std::size_t bytes = 20000000;
  int runs = 5;
  std::string only;  // one figure's name, or empty for all
};

// The settings of bench.exe's command line; out-of-range values are said and left at the default.
Settings read_settings(int argc, char** argv);

double now_ms();
// Like e2e::wait_until, but polls every millisecond: the start figure needs that resolution.
bool poll_until(const std::function<bool()>& pred, double timeout_ms);
double median(std::vector<double> values);
// printf to standard output, flushed at once: a long sitting shows its progress.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Values of one figure over the runs of a sitting.
struct Series {
  std::vector<double> values;
  void add(double v) { values.push_back(v); }
  bool empty() const { return values.empty(); }
  double med() const { return median(values); }
};

// Takes one measurement `runs` times: the values of the runs that gave one, and each problem a
// run reported (a run may report one and still give a value).
Series over_runs(int runs,
                 const std::function<std::optional<double>(std::string& problem)>& measure,
                 std::vector<std::string>& problems);

void print_series(const char* label, const Series& s, const char* unit, const char* aim);
void print_problems(const std::vector<std::string>& problems);

// A program folder as a user has it: the program, the server beside it, and settings that point
// at the server and a free port on the loopback address.
void prepare_folder(const e2e::TestFolder& folder);
bool server_gone();
// The running look: shown once the server's web port answered (the stop button is enabled
// earlier, while a start waits).
bool running_shown(HWND main);
// A click on a button of the main window, as the button itself reports it.
void click(HWND main, int id);

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
  void run(HWND main) noexcept;

  std::atomic<bool> stop_{false};
  std::atomic<double> worst_ms_{0};
  std::atomic<int> unanswered_{0};
  std::thread thread_;  // last: it starts once everything above is ready
};

}  // namespace bench
