#include "tests/support/processes.h"

#include <tlhelp32.h>

#include "platform/handles_win.h"

namespace e2e {
namespace {

bool named(const ProcessEntry& p, const std::string& name) {
  return ::lstrcmpiA(p.name.c_str(), name.c_str()) == 0;
}

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
  for (const ProcessEntry& p : processes()) {
    if (p.parent == parent && named(p, name)) return p.id;
  }
  return 0;
}

std::vector<DWORD> child_ids(DWORD pid) {
  std::vector<DWORD> out;
  for (const ProcessEntry& p : processes()) {
    if (p.parent == pid && p.id != pid) out.push_back(p.id);
  }
  return out;
}

}  // namespace e2e
