// What every end-to-end test needs: a fresh program folder, processes it started and always
// ends, and the means to find and read the program's windows from outside, as a user's tools
// would. Runs under Wine on a virtual display.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/processes.h"

namespace e2e {

// Keeps the desktop of a session alive while it lives, as a logged-on user's shell does on
// Windows. Wine's server closes a desktop one second after its last program outside the desktop
// process has gone, and its shell (the tray with it) ends; a program started during that close
// finds neither a tray nor a new shell, and one started after it waits for a new shell to start.
// Between two tests no program of ours may run, so the suite and the benchmark hold a hidden
// window of their own, on a thread that answers its messages.
class DesktopAnchor {
 public:
  DesktopAnchor();
  ~DesktopAnchor();
  DesktopAnchor(const DesktopAnchor&) = delete;
  DesktopAnchor& operator=(const DesktopAnchor&) = delete;

 private:
  HANDLE thread_ = nullptr;
  DWORD thread_id_ = 0;
};

// Folder of e2e_tests.exe; the program, the stand-in and the test tools are built beside it.
std::string build_dir();

// The text in double quotes, as a command line or the Run value writes a path.
std::string quoted(const std::string& text);

// Sets an environment variable for the processes started while it lives: the program passes its
// environment on to the shell and the server.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    SetEnvironmentVariableA(name, value.c_str());
  }
  ~ScopedVariable() { SetEnvironmentVariableA(name_, nullptr); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
};

// Polls until pred() holds or timeout_ms passes; answers pred() at the end. The default bound
// is generous: it costs time only when a test fails, and a loaded machine (a parallel build, a
// slow CI host) can take many seconds to start a Wine process.
bool wait_until(const std::function<bool()>& pred, DWORD timeout_ms = 30000);

// A new, empty folder for one test (C:\rmt-e2e\<test name>), removed again at the end.
class TestFolder {
 public:
  TestFolder();
  ~TestFolder();
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "\\" + name; }
  // Copies a file from the build folder into this folder, optionally under another name.
  std::string copy_in(const std::string& build_file, const std::string& as = "") const;
  std::string copy_program() const { return copy_in("RivermeshTools.exe"); }
  // The stand-in as the server ships: a 64-bit program.
  std::string copy_standin() const {
    return copy_in("x64\\rivermesh_windows_amd64.exe", "rivermesh_windows_amd64.exe");
  }
  void write_file(const std::string& name, const std::string& bytes) const;
  std::string read_file(const std::string& name) const;

 private:
  std::string path_;
};

// A process the test started. Ending it ends every process it started in turn (by id), so a
// test never leaves a program, shell or server behind.
class Process {
 public:
  Process() = default;
  ~Process() { kill(); }
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;

  // Starts exe with the given argument text in dir; stdout_pipe, when given, receives the
  // read end of a pipe that carries the child's standard output and error.
  static Process start(const std::string& exe, const std::string& args, const std::string& dir,
                       HANDLE* stdout_pipe = nullptr);

  DWORD id() const { return id_; }
  HANDLE handle() const { return handle_; }
  bool running() const;
  // Waits for the process to end; answers its exit code, or STILL_ACTIVE after the timeout.
  DWORD wait(DWORD timeout_ms = 10000) const;
  void kill();

 private:
  HANDLE handle_ = nullptr;
  DWORD id_ = 0;
};

// Whether process pid has ended within timeout_ms (or was gone already).
bool ended(DWORD pid, DWORD timeout_ms = 5000);

// Ends pid and every process below it in the parent chain.
void kill_tree(DWORD pid);

// The program's main window (by class name) owned by pid; null when none within the timeout.
HWND find_main_window(DWORD pid, DWORD timeout_ms = 10000);
// A control of the program's main window, at any depth, by control id.
HWND find_control(HWND main, int id);
std::string text_of(HWND w);
// Bytes of a status bar part (SB_GETTEXT through the other process's memory).
std::string status_text(HWND status_bar, int part);
bool visible(HWND w);
bool enabled(HWND w);
bool checked(HWND checkbox);
// Position of w's top-left corner in its parent's client coordinates, and its outer size.
RECT rect_in_parent(HWND w);

// A visible top-level window of that class owned by pid (a popup menu "#32768", a message box
// "#32770"); null when none.
HWND visible_window_of(const char* window_class, DWORD pid);

// Tray icons shown by Wine's stand-alone notification area.
int tray_icon_count();
// The same once it has stopped changing: icons of programs ended by earlier tests may linger
// until the tray notices, and a new program's icon takes a moment to appear.
int settled_tray_icon_count();
// What a failed count saw: the shell's window, the tray and each icon in it.
std::string tray_state();
// The text of the balloon the tray shows now (Wine's tray draws it as a balloon tooltip some two
// seconds after it was given); empty while none is shown.
std::string balloon_on_screen();

// Reads one key of a settings file; "<missing>" when the key is absent.
std::string ini_value(const std::string& file, const std::string& section, const std::string& key);
bool ini_has_key(const std::string& file, const std::string& section, const std::string& key);

// Moves the keyboard focus from one control of another process to another: attaches to the
// window's thread input for the moment of the change.
void focus(HWND w);

}  // namespace e2e

namespace e2e {

// The program running in a test folder. Started "from the shell" it is started by a copy of
// the launcher named explorer.exe, as a double click in the desktop shell would; otherwise the
// test program is its parent.
struct Program {
  Process process;  // the program, or the launcher above it; ends both
  DWORD id = 0;     // the program's own process id
  HWND main = nullptr;
};
// The loopback build (RivermeshTools-loopback.exe) checks for updates at 127.0.0.1 on the one
// fixed port RMT_TEST_PORT, where only the running test's own server may listen. A suite whose
// tests start it says so once at namespace scope, E2E_HOLDS_TEST_PORT(Suite); the runner finds
// these lines and never runs two such suites at once, and start_program refuses the loopback
// build to a test of any other suite: a forgotten line fails every time instead of now and then.
#define E2E_HOLDS_TEST_PORT(suite) \
  [[maybe_unused]] static const bool e2e_holds_test_port_##suite = e2e::hold_test_port(#suite)
bool hold_test_port(const char* suite);
constexpr char kLoopbackBuild[] = "RivermeshTools-loopback.exe";

// build_file: the executable in the build folder to run, copied in as RivermeshTools.exe;
// arguments: what follows the program's quoted path on its command line; timeout_ms: the bound
// for each step of the start (the program's process, its window, its first idle moment).
Program start_program(const TestFolder& folder, bool from_shell,
                      const std::string& build_file = "RivermeshTools.exe",
                      const std::string& arguments = "", DWORD timeout_ms = 10000);

// Returns once the program's UI thread has handled everything sent before.
bool sync(HWND main);

// A user's click on a tray menu entry or a button reaches the window as this command.
void post_command(HWND main, int id);

}  // namespace e2e
