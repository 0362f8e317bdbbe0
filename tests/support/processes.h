// The system's process list as the tests and the bench read it: who runs, under which parent.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

struct ProcessEntry {
  DWORD id;
  DWORD parent;
  std::string name;  // the executable's file name, without its folder
};

// One snapshot of every process; empty when none could be taken.
std::vector<ProcessEntry> processes();

// The first process of that name (any case), whatever its parent; 0 when none.
DWORD find_process(const std::string& name);
// The same among the children of `parent`.
DWORD find_child(DWORD parent, const std::string& name);
// Every child of pid: a process whose parent is pid, but pid itself and any process older than
// pid (a process id is soon used again, and the list keeps the id of a parent that has ended).
// parent_created: pid's creation time taken while it ran, for a pid that may have ended since.
std::vector<DWORD> child_ids(DWORD pid, ULONGLONG parent_created = 0);
// A process's creation time (FILETIME as a number); 0 when it cannot be asked.
ULONGLONG process_created(DWORD pid);

}  // namespace e2e
