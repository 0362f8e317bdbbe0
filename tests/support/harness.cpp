#include "tests/support/harness.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace e2e {
namespace {

constexpr char kMainClass[] = "RivermeshToolsWindow";

void remove_tree(const std::string& dir) {
  WIN32_FIND_DATAA fd;
  HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &fd);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = fd.cFileName;
      if (name == "." || name == "..") continue;
      const std::string full = dir + "\\" + name;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        remove_tree(full);
      } else {
        SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(full.c_str());
      }
    } while (FindNextFileA(find, &fd));
    FindClose(find);
  }
  RemoveDirectoryA(dir.c_str());
}

// The suites marked with E2E_HOLDS_TEST_PORT; filled before main, hence a function's static.
std::set<std::string>& port_suites() {
  static std::set<std::string> suites;
  return suites;
}

std::string current_test_name() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  if (!info) return "outside";
  std::string name = std::string(info->test_suite_name()) + "_" + info->name();
  for (char& c : name) {
    if (c == '/' || c == '\\' || c == ':') c = '_';
  }
  return name;
}

}  // namespace

std::string build_dir() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s = path;
  return s.substr(0, s.find_last_of('\\'));
}

std::string quoted(const std::string& text) {
  std::string out(1, '"');
  out += text;
  out += '"';
  return out;
}

bool wait_until(const std::function<bool()>& pred, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < timeout_ms) {
    if (pred()) return true;
    Sleep(50);
  }
  return pred();
}

TestFolder::TestFolder() {
  CreateDirectoryA("C:\\rmt-e2e", nullptr);
  path_ = "C:\\rmt-e2e\\" + current_test_name();
  remove_tree(path_);
  CreateDirectoryA(path_.c_str(), nullptr);
}

namespace {

// Processes a test may have started: everything run from its folder, and command shells (the
// program's, or a server's parent).
std::vector<std::pair<DWORD, std::string>> started_from(const std::string& folder) {
  std::vector<std::pair<DWORD, std::string>> found;
  const std::string prefix = folder + "\\";
  for (const ProcessEntry& pe : processes()) {
    if (pe.id == GetCurrentProcessId()) continue;
    std::string image;
    if (HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pe.id)) {
      char path[MAX_PATH * 2] = {};
      DWORD size = sizeof path;
      if (QueryFullProcessImageNameA(h, 0, path, &size)) image.assign(path, size);
      CloseHandle(h);
    }
    const bool in_folder = image.size() > prefix.size() &&
                           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, image.c_str(),
                                          static_cast<int>(prefix.size()), prefix.c_str(),
                                          static_cast<int>(prefix.size())) == CSTR_EQUAL;
    if (in_folder || lstrcmpiA(pe.name.c_str(), "cmd.exe") == 0) found.emplace_back(pe.id, pe.name);
  }
  return found;
}

}  // namespace

TestFolder::~TestFolder() {
  // Every process a test started must be gone by its end; a leftover fails the test (and is
  // ended, so that the next test starts clean).
  if (!wait_until([&] { return started_from(path_).empty(); }, 3000)) {
    std::string names;
    for (const auto& [id, name] : started_from(path_)) {
      names += " " + name + "(" + std::to_string(id) + ")";
      kill_tree(id);
    }
    ADD_FAILURE() << "processes left running:" << names;
  }
  remove_tree(path_);
}

std::string TestFolder::copy_in(const std::string& build_file, const std::string& as) const {
  const std::string target = file(as.empty() ? build_file : as);
  CopyFileA((build_dir() + "\\" + build_file).c_str(), target.c_str(), FALSE);
  return target;
}

void TestFolder::write_file(const std::string& name, const std::string& bytes) const {
  HANDLE f = CreateFileA(file(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(f);
}

std::string TestFolder::read_file(const std::string& name) const {
  HANDLE f = CreateFileA(file(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return {};
  std::string out;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
  CloseHandle(f);
  return out;
}

Process::Process(Process&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), id_(std::exchange(other.id_, 0)) {}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    kill();
    handle_ = std::exchange(other.handle_, nullptr);
    id_ = std::exchange(other.id_, 0);
  }
  return *this;
}

Process Process::start(const std::string& exe, const std::string& args, const std::string& dir,
                       HANDLE* stdout_pipe) {
  std::string cmd = quoted(exe);
  if (!args.empty()) cmd += " " + args;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  HANDLE write_end = nullptr;
  if (stdout_pipe) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE read_end = nullptr;
    CreatePipe(&read_end, &write_end, &sa, 0);
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    *stdout_pipe = read_end;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = write_end;
    si.hStdError = write_end;
  }
  PROCESS_INFORMATION pi{};
  Process p;
  if (CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, stdout_pipe != nullptr,
                     stdout_pipe ? CREATE_NO_WINDOW : 0, nullptr,
                     dir.empty() ? nullptr : dir.c_str(), &si, &pi)) {
    CloseHandle(pi.hThread);
    p.handle_ = pi.hProcess;
    p.id_ = pi.dwProcessId;
  }
  if (write_end) CloseHandle(write_end);
  return p;
}

bool Process::running() const { return handle_ && wait(0) == STILL_ACTIVE; }

DWORD Process::wait(DWORD timeout_ms) const {
  if (!handle_) return 0;
  if (WaitForSingleObject(handle_, timeout_ms) != WAIT_OBJECT_0) return STILL_ACTIVE;
  DWORD code = 0;
  GetExitCodeProcess(handle_, &code);
  return code;
}

void Process::kill() {
  if (!handle_) return;
  kill_tree(id_);
  WaitForSingleObject(handle_, 5000);
  CloseHandle(handle_);
  handle_ = nullptr;
  id_ = 0;
}

bool ended(DWORD pid, DWORD timeout_ms) {
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!h) return true;
  const bool done = WaitForSingleObject(h, timeout_ms) == WAIT_OBJECT_0;
  CloseHandle(h);
  return done;
}

void kill_tree(DWORD pid) {
  // Children first, collected before the parent goes, so that none is orphaned unseen.
  const ULONGLONG born = process_created(pid);
  for (DWORD child : child_ids(pid)) kill_tree(child);
  if (HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
    TerminateProcess(h, 1);
    WaitForSingleObject(h, 5000);
    CloseHandle(h);
  }
  // And those it made meanwhile: the program makes its shell suspended and puts it in its job
  // before it runs, so a shell made just before the end is in no job and ends with nobody.
  if (born != 0) {
    for (DWORD child : child_ids(pid, born)) kill_tree(child);
  }
}

HWND find_main_window(DWORD pid, DWORD timeout_ms) {
  HWND found = nullptr;
  wait_until(
      [&] {
        for (HWND w = FindWindowExA(nullptr, nullptr, kMainClass, nullptr); w;
             w = FindWindowExA(nullptr, w, kMainClass, nullptr)) {
          DWORD owner = 0;
          GetWindowThreadProcessId(w, &owner);
          if (owner == pid) {
            found = w;
            return true;
          }
        }
        return false;
      },
      timeout_ms);
  return found;
}

namespace {

struct ControlSearch {
  int id;
  HWND found;
};

BOOL CALLBACK match_control(HWND w, LPARAM lp) {
  auto* s = reinterpret_cast<ControlSearch*>(lp);
  if (GetDlgCtrlID(w) != s->id) return TRUE;
  s->found = w;
  return FALSE;
}

}  // namespace

HWND find_control(HWND main, int id) {
  ControlSearch search{id, nullptr};
  EnumChildWindows(main, match_control, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string text_of(HWND w) {
  DWORD_PTR len = 0;
  SendMessageTimeoutA(w, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &len);
  std::string s(len + 1, '\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutA(w, WM_GETTEXT, s.size(), reinterpret_cast<LPARAM>(s.data()), SMTO_ABORTIFHUNG,
                      5000, &got);
  s.resize(got);
  return s;
}

std::string status_text(HWND status_bar, int part) {
  DWORD pid = 0;
  GetWindowThreadProcessId(status_bar, &pid);
  HANDLE proc = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!proc) return "<no access>";
  constexpr SIZE_T kSize = 1024;
  void* remote = VirtualAllocEx(proc, nullptr, kSize, MEM_COMMIT, PAGE_READWRITE);
  std::string out;
  if (remote) {
    DWORD_PTR r = 0;
    SendMessageTimeoutA(status_bar, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(remote),
                        SMTO_ABORTIFHUNG, 5000, &r);
    char buf[kSize] = {};
    SIZE_T got = 0;
    ReadProcessMemory(proc, remote, buf, kSize - 1, &got);
    out = buf;
    VirtualFreeEx(proc, remote, 0, MEM_RELEASE);
  }
  CloseHandle(proc);
  return out;
}

bool visible(HWND w) { return (GetWindowLongA(w, GWL_STYLE) & WS_VISIBLE) != 0; }
bool enabled(HWND w) { return (GetWindowLongA(w, GWL_STYLE) & WS_DISABLED) == 0; }

bool checked(HWND checkbox) {
  DWORD_PTR r = 0;
  SendMessageTimeoutA(checkbox, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &r);
  return r == BST_CHECKED;
}

RECT rect_in_parent(HWND w) {
  RECT r{};
  GetWindowRect(w, &r);
  MapWindowPoints(nullptr, GetParent(w), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

HWND visible_window_of(const char* window_class, DWORD pid) {
  for (HWND w = FindWindowExA(nullptr, nullptr, window_class, nullptr); w;
       w = FindWindowExA(nullptr, w, window_class, nullptr)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == pid && IsWindowVisible(w)) return w;
  }
  return nullptr;
}

int tray_icon_count() {
  HWND tray = FindWindowA("__winex11_standalone_tray", nullptr);
  if (!tray) return 0;
  int n = 0;
  for (HWND w = FindWindowExA(tray, nullptr, "__winex11_tray_icon", nullptr); w;
       w = FindWindowExA(tray, w, "__winex11_tray_icon", nullptr)) {
    if (IsWindowVisible(w)) ++n;
  }
  return n;
}

namespace {

DWORD WINAPI anchor_thread(void* ready) {
  // The window makes this thread a user of the desktop; it is never shown.
  HWND window = CreateWindowExA(0, "STATIC", "rmt-e2e desktop anchor", WS_POPUP, 0, 0, 1, 1,
                                nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  SetEvent(ready);
  MSG m;
  while (GetMessageA(&m, nullptr, 0, 0) > 0) DispatchMessageA(&m);
  if (window) DestroyWindow(window);
  return 0;
}

// The suite's desktop lives from the first test to the last.
class AnchoredDesktop : public ::testing::Environment {
 public:
  void SetUp() override { anchor_ = std::make_unique<DesktopAnchor>(); }
  void TearDown() override { anchor_.reset(); }

 private:
  std::unique_ptr<DesktopAnchor> anchor_;
};

[[maybe_unused]] const ::testing::Environment* const anchored_desktop =
    ::testing::AddGlobalTestEnvironment(new AnchoredDesktop);

std::string handle_text(HWND w) { return std::to_string(reinterpret_cast<std::uintptr_t>(w)); }

}  // namespace

DesktopAnchor::DesktopAnchor() {
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  thread_ = CreateThread(nullptr, 0, anchor_thread, ready, 0, &thread_id_);
  if (thread_) WaitForSingleObject(ready, 10000);
  CloseHandle(ready);
}

DesktopAnchor::~DesktopAnchor() {
  if (!thread_) return;
  PostThreadMessageA(thread_id_, WM_QUIT, 0, 0);
  WaitForSingleObject(thread_, 5000);
  CloseHandle(thread_);
}

std::string tray_state() {
  // Without the shell's window no program can add an icon: the shell has ended.
  std::string text = "shell window " + handle_text(FindWindowA("Shell_TrayWnd", nullptr));
  const HWND tray = FindWindowA("__winex11_standalone_tray", nullptr);
  text += ", tray " + handle_text(tray) + (tray && IsWindowVisible(tray) ? " shown" : " hidden");
  for (HWND w = tray ? FindWindowExA(tray, nullptr, "__winex11_tray_icon", nullptr) : nullptr; w;
       w = FindWindowExA(tray, w, "__winex11_tray_icon", nullptr)) {
    text += ", icon " + handle_text(w) + (visible(w) ? " shown" : " hidden");
  }
  return text;
}

std::string balloon_on_screen() {
  for (HWND w = FindWindowExA(nullptr, nullptr, TOOLTIPS_CLASSA, nullptr); w;
       w = FindWindowExA(nullptr, w, TOOLTIPS_CLASSA, nullptr)) {
    if (IsWindowVisible(w) && (GetWindowLongA(w, GWL_STYLE) & TTS_BALLOON)) return text_of(w);
  }
  return {};
}

int settled_tray_icon_count() {
  // The tray keeps the icon of a program that was killed until a mouse event for it finds the
  // owner gone; the next program's own sweep would then take it away while adding its icon, and
  // the count would not grow. A move over each icon clears such icons first.
  // The icons are listed first: a cleared icon's window is gone, and the next one could no
  // longer be found from it.
  const HWND tray = FindWindowA("__winex11_standalone_tray", nullptr);
  std::vector<HWND> icons;
  for (HWND w = tray ? FindWindowExA(tray, nullptr, "__winex11_tray_icon", nullptr) : nullptr; w;
       w = FindWindowExA(tray, w, "__winex11_tray_icon", nullptr)) {
    icons.push_back(w);
  }
  for (HWND w : icons) {
    // A send that times out still arrives later: the icon would then go after the count was
    // taken. A busy tray (many killed programs' icons, a loaded machine) needs the longer bound.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(w, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2), SMTO_ABORTIFHUNG, 5000, &ignored);
  }
  // An icon may come or go a few hundred milliseconds after its program's window: two equal
  // looks in a row are not enough, the count must hold for a while.
  constexpr DWORD kSteadyMs = 400;
  int last = -1;
  DWORD since = GetTickCount();
  wait_until(
      [&] {
        const int now = tray_icon_count();
        if (now != last) {
          last = now;
          since = GetTickCount();
        }
        return GetTickCount() - since >= kSteadyMs;
      },
      5000);
  return last;
}

std::string ini_value(const std::string& file, const std::string& section, const std::string& key) {
  std::string buf(20000, '\0');
  const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "<missing>", buf.data(),
                                           static_cast<DWORD>(buf.size()), file.c_str());
  buf.resize(n);
  return buf;
}

bool ini_has_key(const std::string& file, const std::string& section, const std::string& key) {
  return ini_value(file, section, key) != "<missing>";
}

void focus(HWND w) {
  HWND root = GetAncestor(w, GA_ROOT);
  const DWORD target = GetWindowThreadProcessId(w, nullptr);
  const DWORD self = GetCurrentThreadId();
  AttachThreadInput(self, target, TRUE);
  if (GetForegroundWindow() != root) {
    // Activation restores the window's own focus; it has to be over before the focus moves.
    SetForegroundWindow(root);
    SetActiveWindow(root);
    sync(root);
  }
  SetFocus(w);
  AttachThreadInput(self, target, FALSE);
  sync(root);
}

}  // namespace e2e

namespace e2e {

bool hold_test_port(const char* suite) { return port_suites().insert(suite).second; }

Program start_program(const TestFolder& folder, bool from_shell, const std::string& build_file,
                      const std::string& arguments, DWORD timeout_ms) {
  Program p;
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  if (build_file == kLoopbackBuild && test && !port_suites().count(test->test_suite_name())) {
    ADD_FAILURE() << test->test_suite_name() << " starts " << kLoopbackBuild
                  << " but does not hold the test port: add E2E_HOLDS_TEST_PORT("
                  << test->test_suite_name() << ") to its file";
    return p;
  }
  const std::string exe = folder.copy_in(build_file, "RivermeshTools.exe");
  const std::string line = arguments.empty() ? quoted(exe) : quoted(exe) + " " + arguments;
  if (from_shell) {
    const std::string shell = folder.copy_in("launcher.exe", "explorer.exe");
    p.process = Process::start(shell, line, folder.path());
    // By name as well: a process id is soon used again, and a process that an earlier holder of
    // the launcher's id started may still be listed as its child for a moment.
    wait_until([&] { return (p.id = find_child(p.process.id(), "RivermeshTools.exe")) != 0; },
               timeout_ms);
  } else {
    p.process = Process::start(exe, arguments, folder.path());
    p.id = p.process.id();
  }
  if (p.id) p.main = find_main_window(p.id, timeout_ms);
  // Start-up runs while the window is being created; the program idles once it is done.
  if (HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, p.id)) {
    WaitForInputIdle(h, timeout_ms);
    CloseHandle(h);
  }
  if (p.main) sync(p.main);
  return p;
}

bool sync(HWND main) {
  DWORD_PTR r = 0;
  return SendMessageTimeoutA(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 10000, &r) != 0;
}

void post_command(HWND main, int id) { PostMessageA(main, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

}  // namespace e2e
