// Processor time per party of a flood: the program's threads, the writer (the stand-in), the
// wineserver and the X server, sampled at moments and taken apart.
#pragma once

#include <map>

// Brings windows.h, after Winsock 2.
#include "tools/bench/measure_win.h"

namespace bench {

double thread_cpu_ms(HANDLE thread);

// Processor time of every party of a flood at one moment: the program's threads, the writer
// (the stand-in), the wineserver and the X server.
struct CpuSample {
  std::map<DWORD, double> program_threads;
  double writer = 0;
  double wineserver = 0;
  double x_server = 0;
};

CpuSample sample_cpu(DWORD program, DWORD writer);

// Processor time between two samples, ms: the program's UI thread, its busiest other thread (the
// console reader during a flood), its remaining threads, the writer, wineserver and X server.
struct CpuSpent {
  double ui = 0, reader = 0, other = 0, writer = 0, wineserver = 0, x_server = 0;
};

CpuSpent spent(const CpuSample& from, const CpuSample& to, DWORD ui_thread);

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

// One line of medians; `program` says whether the reader was the program's (or our drainer).
void print_cpu(const char* label, const CpuSeries& c, bool program);

}  // namespace bench
