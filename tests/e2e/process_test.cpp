// The process utilities against real processes. The server and the desktop shell are played by
// copies: launcher.exe renamed explorer.exe, and this very test program renamed to the server's
// file name, where it runs the ProcessChild test in the role the environment gives it.
// Winsock 2 must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "server/process_win.h"
#include "tests/support/harness.h"
#include "tests/support/net.h"

namespace {

constexpr char kServerName[] = "rivermesh_windows_amd64.exe";
constexpr char kRoleVariable[] = "RMT_PROCESS_CHILD";

std::string role() {
  char value[64] = {};
  const DWORD n = ::GetEnvironmentVariableA(kRoleVariable, value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

// Sets the child role for processes started while it lives. A child runs its one test whatever
// shard of the suite this run is: GoogleTest's sharding variables, handed down, would give it a
// share of its one test, most often none.
class RoleForChildren {
 public:
  explicit RoleForChildren(const char* role) {
    ::SetEnvironmentVariableA(kRoleVariable, role);
    for (Saved& v : sharding_) {
      char value[32] = {};
      const DWORD n = ::GetEnvironmentVariableA(v.name, value, sizeof value);
      v.set = n > 0 && n < sizeof value;
      if (v.set) v.value.assign(value, n);
      ::SetEnvironmentVariableA(v.name, nullptr);
    }
  }
  ~RoleForChildren() {
    ::SetEnvironmentVariableA(kRoleVariable, nullptr);
    for (const Saved& v : sharding_) {
      if (v.set) ::SetEnvironmentVariableA(v.name, v.value.c_str());
    }
  }

 private:
  struct Saved {
    const char* name;
    bool set = false;
    std::string value;
  };
  Saved sharding_[2] = {{"GTEST_TOTAL_SHARDS", false, {}}, {"GTEST_SHARD_INDEX", false, {}}};
};

std::string child_args(const std::string& program) {
  return "\"" + program + "\" --gtest_filter=ProcessChild.*";
}

// A process id that was just in use and is free now.
DWORD ended_process_id(const e2e::TestFolder& folder) {
  RoleForChildren role("exit");
  e2e::Process child = e2e::Process::start(e2e::build_dir() + "\\e2e_tests.exe",
                                           "--gtest_filter=ProcessChild.*", folder.path());
  const DWORD id = child.id();
  child.wait();
  return id;
}

// A process id that no process carries. (Wine still opens and "terminates" an id whose process
// has ended, so ended_process_id does not serve here.)
DWORD unused_process_id() {
  DWORD highest = 0;
  for (const proc::ProcessRecord& r : proc::process_list())
    highest = std::max<DWORD>(highest, r.id);
  return highest + 4000;
}

// What a copy of this program does when another test starts it.
TEST(ProcessChild, PlaysItsRole) {
  const std::string mine = role();
  if (mine.empty()) GTEST_SKIP() << "only runs when started by the process tests";
  if (mine == "server") ::Sleep(60000);
  if (mine == "from-explorer") {
    EXPECT_TRUE(proc::started_by_explorer());
  } else if (mine == "from-elsewhere") {
    EXPECT_FALSE(proc::started_by_explorer());
  }
}

// The server under the desktop shell stand-in, as the stop request meets it.
class ServerUnderShell : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(proc::find_by_name(kServerName, false), 0u) << "a server is already running";
    const std::string shell = folder_.copy_in("launcher.exe", "explorer.exe");
    const std::string server = folder_.copy_in("e2e_tests.exe", kServerName);
    RoleForChildren role("server");
    shell_ = e2e::Process::start(shell, child_args(server), folder_.path());
    ASSERT_TRUE(shell_.running());
    ASSERT_TRUE(e2e::wait_until([] { return proc::find_by_name(kServerName, false) != 0; }));
    server_id_ = proc::find_by_name(kServerName, false);
  }

  e2e::TestFolder folder_;
  e2e::Process shell_;
  DWORD server_id_ = 0;
};

TEST_F(ServerUnderShell, FoundByNameInAnyAsciiCase) {
  EXPECT_EQ(proc::find_by_name("RiverMesh_Windows_AMD64.EXE", false), server_id_);
  EXPECT_EQ(proc::find_by_name("RiverMesh_Windows_AMD64.EXE", true), 0u);
  EXPECT_EQ(proc::find_by_name(kServerName, true), server_id_);
  EXPECT_EQ(proc::find_by_name("rivermesh_windows_amd64", false), 0u);
}

TEST_F(ServerUnderShell, ParentFoundByIdAndByName) {
  EXPECT_EQ(proc::parent_of(std::to_string(server_id_)), static_cast<long>(shell_.id()));
  EXPECT_EQ(proc::parent_of("RIVERMESH_windows_amd64.exe"), static_cast<long>(shell_.id()));
  EXPECT_EQ(proc::parent_id_by_name("RIVERMESH_windows_amd64.exe", 0), shell_.id());
  EXPECT_EQ(proc::parent_id_by_name("RIVERMESH_windows_amd64.exe", 1), 0u);
}

TEST_F(ServerUnderShell, TerminatedServerIsGoneAndItsShellReportsItsExit) {
  ASSERT_TRUE(proc::terminate(server_id_));
  EXPECT_TRUE(e2e::wait_until([] { return proc::find_by_name(kServerName, false) == 0; }));
  EXPECT_EQ(proc::parent_of(std::to_string(server_id_)), -1);
  // The shell stand-in stays until its child ends and passes the child's exit code on.
  EXPECT_EQ(shell_.wait(), 0u);
}

TEST(ProcessUtilities, BothProcessListsAgreeOnThisProcessesParent) {
  DWORD parent = 0;
  for (const proc::ProcessRecord& r : proc::process_list()) {
    if (r.id == ::GetCurrentProcessId()) parent = r.parent_id;
  }
  EXPECT_EQ(proc::parent_of(std::to_string(::GetCurrentProcessId())), static_cast<long>(parent));
}

TEST(ProcessUtilities, UnknownProcessesAreNeitherFoundNorTerminated) {
  e2e::TestFolder folder;
  const DWORD gone = ended_process_id(folder);
  ASSERT_NE(gone, 0u);
  EXPECT_EQ(proc::parent_of(std::to_string(gone)), -1);
  EXPECT_EQ(proc::parent_of("no_such_program.exe"), -1);
  EXPECT_FALSE(proc::terminate(unused_process_id()));
  EXPECT_FALSE(proc::terminate(0));
  EXPECT_EQ(proc::find_by_name("no_such_program.exe", false), 0u);
}

TEST(ProcessUtilities, ExplorerParentMeansStartedFromTheDesktopShell) {
  e2e::TestFolder folder;
  const std::string self = e2e::build_dir() + "\\e2e_tests.exe";
  {
    RoleForChildren role("from-explorer");
    e2e::Process shell = e2e::Process::start(folder.copy_in("launcher.exe", "Explorer.EXE"),
                                             child_args(self), folder.path());
    EXPECT_EQ(shell.wait(60000), 0u);
  }
  {
    RoleForChildren role("from-elsewhere");
    e2e::Process shell = e2e::Process::start(folder.copy_in("launcher.exe", "cmd.exe"),
                                             child_args(self), folder.path());
    EXPECT_EQ(shell.wait(60000), 0u);
  }
}

int g_posted_seen = 0;

LRESULT CALLBACK count_posted(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_APP + 7) ++g_posted_seen;
  return ::DefWindowProcA(w, m, wp, lp);
}

// The look-up runs inside the server control's steps: a window message handled during it would
// run into the control in the middle of one.
TEST(ProcessUtilities, ParentLookupLeavesWindowMessagesAlone) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = count_posted;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.lpszClassName = "RmtProcessTestSink";
  ::RegisterClassA(&wc);
  const HWND sink = ::CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      wc.hInstance, nullptr);
  ASSERT_NE(sink, nullptr);
  g_posted_seen = 0;
  ::PostMessageA(sink, WM_APP + 7, 0, 0);
  EXPECT_EQ(proc::parent_of("no_such_program.exe"), -1);
  EXPECT_EQ(g_posted_seen, 0);
  MSG m{};
  EXPECT_TRUE(::PeekMessageA(&m, sink, WM_APP + 7, WM_APP + 7, PM_REMOVE));
  ::DestroyWindow(sink);
}

TEST(ProcessUtilities, WideNamesBecomeGbk) {
  const wchar_t name[] = L"\u670D\u52A1.exe";  // 服务.exe
  EXPECT_EQ(proc::wide_name_to_gbk(name, 12), "服务.exe");
  EXPECT_EQ(proc::wide_name_to_gbk(name, 13), "服务.exe");  // the odd byte is no character
  EXPECT_EQ(proc::wide_name_to_gbk(name, 0), "");
}

TEST(ProcessUtilities, RunsOn64BitWindows) { EXPECT_TRUE(proc::is_64bit_windows()); }

// The server as it ships is a 64-bit program, seen here from a 32-bit one: found by name, its
// parent found through the system's process information, and terminated.
TEST(ProcessAcrossTheBoundary, SixtyFourBitServerIsFoundTracedAndEnded) {
  e2e::TestFolder folder;
  ASSERT_EQ(proc::find_by_name(kServerName, false), 0u) << "a server is already running";
  const std::string server = folder.copy_standin();
  const std::string shell = folder.copy_in("launcher.exe", "explorer.exe");
  e2e::Process parent =
      e2e::Process::start(shell, "\"" + server + "\" -h \"127.0.0.1\" -p 1 -l", folder.path());
  ASSERT_TRUE(e2e::wait_until([] { return proc::find_by_name(kServerName, false) != 0; }));
  const DWORD id = proc::find_by_name(kServerName, false);
  EXPECT_EQ(proc::parent_of(std::to_string(id)), static_cast<long>(parent.id()));
  EXPECT_EQ(proc::parent_of(kServerName), static_cast<long>(parent.id()));
  EXPECT_TRUE(proc::terminate(id));
  EXPECT_TRUE(e2e::wait_until([] { return proc::find_by_name(kServerName, false) == 0; }));
}

}  // namespace
