#include "tools/bench/measure_win.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "app/layout.h"
#include "tests/support/harness.h"
#include "tests/support/net.h"
#include "tests/support/processes.h"
#include "tools/standin/standin_rules.h"

namespace bench {

using e2e::free_port;

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

double now_ms() {
  LARGE_INTEGER frequency, count;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&count);
  return static_cast<double>(count.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

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

void say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
  std::fflush(stdout);
}

Series over_runs(int runs,
                 const std::function<std::optional<double>(std::string& problem)>& measure,
                 std::vector<std::string>& problems) {
  Series series;
  for (int i = 0; i < runs; ++i) {
    std::string problem;
    if (const auto value = measure(problem)) series.add(*value);
    if (!problem.empty()) problems.push_back(problem);
  }
  return series;
}

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

void prepare_folder(const e2e::TestFolder& folder) {
  const std::string server = folder.copy_standin();
  folder.write_file("config.ini", "[BasisConfig]\r\nFile=" + server +
                                      "\r\nWeb port=" + std::to_string(free_port()) +
                                      "\r\nRun=false\r\n[ServerConfig]\r\nIP=127.0.0.1\r\n"
                                      "Access control=false\r\n");
  ::DeleteFileA(folder.file(kReportFile).c_str());
}

bool server_gone() { return e2e::find_process(kServerExe) == 0; }

bool running_shown(HWND main) {
  return e2e::status_text(e2e::find_control(main, layout::状态条1), 0) == "   状态：正在运行";
}

void click(HWND main, int id) {
  ::PostMessageA(main, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(e2e::find_control(main, id)));
}

void Pinger::run(HWND main) noexcept {
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

}  // namespace bench
