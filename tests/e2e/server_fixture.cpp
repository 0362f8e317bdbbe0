#include "tests/e2e/server_fixture.h"

#include "server/process_win.h"

namespace e2e {

std::string config_text(const Settings& s) {
  return "[BasisConfig]\r\nFile=" + s.file + "\r\nWeb port=" + s.port +
         "\r\nRun=false\r\n[ServerConfig]\r\nIP=" + s.ip + "\r\nUser=" + s.user +
         "\r\nPassword=" + s.password +
         "\r\nAccess control=" + (s.access_control ? "true" : "false") + "\r\n";
}

DWORD parent_of(DWORD pid) {
  for (const proc::ProcessRecord& r : proc::process_list()) {
    if (r.id == pid) return r.parent_id;
  }
  return 0;
}

std::string name_of(DWORD pid) {
  for (const proc::ProcessRecord& r : proc::process_list()) {
    if (r.id == pid) return r.name;
  }
  return "";
}

// A line of its own that starts with "==== ", then 19 bytes of time stamp and a space.
std::vector<std::string> marks_of(const std::string& file) {
  std::vector<std::string> marks;
  for (std::size_t at = file.find("==== "); at != std::string::npos;
       at = file.find("==== ", at + 1)) {
    if (at != 0 && file[at - 1] != '\n') continue;
    const std::size_t end = file.find("\r\n", at);
    if (end == std::string::npos || end < at + 25) break;
    marks.push_back(file.substr(at + 25, end - at - 25));
  }
  return marks;
}

DWORD running_server() { return proc::find_by_name(kServerExe, false); }

DWORD child_named(DWORD parent, const std::string& name) {
  for (const proc::ProcessRecord& r : proc::process_list()) {
    if (r.parent_id == parent && proc::name_matches(r.name, name, false)) return r.id;
  }
  return 0;
}

namespace {

BOOL CALLBACK collect_static(HWND w, LPARAM lp) {
  char cls[32] = {};
  GetClassNameA(w, cls, sizeof cls);
  if (lstrcmpiA(cls, "Static") == 0) reinterpret_cast<std::string*>(lp)->append(text_of(w));
  return TRUE;
}

}  // namespace

Box message_box_of(DWORD pid, DWORD timeout_ms) {
  Box box;
  wait_until([&] { return (box.window = visible_window_of("#32770", pid)) != nullptr; },
             timeout_ms);
  if (!box.window) return box;
  box.caption = text_of(box.window);
  EnumChildWindows(box.window, collect_static, reinterpret_cast<LPARAM>(&box.text));
  return box;
}

void close_box(const Box& box) {
  PostMessageA(box.window, WM_COMMAND, IDOK, 0);
  wait_until([&] { return !IsWindow(box.window) || !IsWindowVisible(box.window); });
}

}  // namespace e2e
