// The figures bench.exe takes, one file each; bench_main_win.cpp names them on its command line.
#pragma once

#include "tools/bench/measure_win.h"

namespace bench {

void figure_window_shown(const Settings& settings);                // program-start
void figure_start(const Settings& settings);                       // start
void figure_exit(const Settings& settings);                        // exit
void figure_flood(const Settings& settings);                       // flood
void figure_stop_and_exit_after_ctrl_c(const Settings& settings);  // ctrl-c

}  // namespace bench
