#include "tools/bench/cpu_time_win.h"

#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/handles_win.h"

namespace bench {
namespace {

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

double filetime_ms(const FILETIME& t) {
  return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) /
         10000.0;
}

}  // namespace

double thread_cpu_ms(HANDLE thread) {
  FILETIME created, exited, kernel, user;
  if (!::GetThreadTimes(thread, &created, &exited, &kernel, &user)) return 0;
  return filetime_ms(kernel) + filetime_ms(user);
}

namespace {

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

}  // namespace

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

}  // namespace bench
