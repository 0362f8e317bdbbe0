#include "tests/support/processes.h"

#include <tlhelp32.h>

#include "platform/handles_win.h"

namespace e2e {
namespace {

bool named(const ProcessEntry& p, const std::string& name) {
  return ::lstrcmpiA(p.name.c_str(), name.c_str()) == 0;
}

// When the process was created; 0 where that cannot be asked.
ULONGLONG created_at(DWORD pid) {
  const win::unique_handle h(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!h || !::GetProcessTimes(h.get(), &created, &exited, &kernel, &user)) return 0;
  return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// Tells the children of one process. The list keeps the id of a parent that has ended, and ids
// are soon used again: a process older than the one that has its parent's id now is not that
// one's child. (Wine's desktop shell is such a process, started by the first program of a prefix:
// ending the "children" of a later process that took that id ended the desktop, its shell and
// tray.) The parent's age is asked once, when a process first names it as its parent.
class ChildOf {
 public:
  explicit ChildOf(DWORD parent) : parent_(parent) {}
  // A parent that may have ended: its age as it was taken while it ran.
  ChildOf(DWORD parent, ULONGLONG created)
      : parent_(parent), parent_created_(created), asked_(true) {}
  bool operator()(const ProcessEntry& p) {
    if (p.parent != parent_ || p.id == parent_) return false;
    if (!asked_) {
      parent_created_ = created_at(parent_);
      asked_ = true;
    }
    if (parent_created_ == 0) return true;
    const ULONGLONG created = created_at(p.id);
    return created == 0 || created >= parent_created_;
  }

 private:
  DWORD parent_;
  ULONGLONG parent_created_ = 0;
  bool asked_ = false;
};

}  // namespace

std::vector<ProcessEntry> processes() {
  std::vector<ProcessEntry> out;
  const win::unique_file snap(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snap) return out;
  PROCESSENTRY32 pe{};
  pe.dwSize = sizeof pe;
  for (BOOL ok = ::Process32First(snap.get(), &pe); ok; ok = ::Process32Next(snap.get(), &pe)) {
    out.push_back({pe.th32ProcessID, pe.th32ParentProcessID, pe.szExeFile});
  }
  return out;
}

DWORD find_process(const std::string& name) {
  for (const ProcessEntry& p : processes()) {
    if (named(p, name)) return p.id;
  }
  return 0;
}

DWORD find_child(DWORD parent, const std::string& name) {
  ChildOf child_of(parent);
  for (const ProcessEntry& p : processes()) {
    if (named(p, name) && child_of(p)) return p.id;
  }
  return 0;
}

std::vector<DWORD> child_ids(DWORD pid, ULONGLONG parent_created) {
  std::vector<DWORD> out;
  ChildOf child_of = parent_created != 0 ? ChildOf(pid, parent_created) : ChildOf(pid);
  for (const ProcessEntry& p : processes()) {
    if (child_of(p)) out.push_back(p.id);
  }
  return out;
}

ULONGLONG process_created(DWORD pid) { return created_at(pid); }

}  // namespace e2e
