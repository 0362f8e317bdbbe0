// A start decided by the server: started once its web port answers, failed when it ended first or
// never came, kept and reported when it runs without answering. The test build's bounds are
// seconds (RMT_TEST_APPEAR_MOST_MS, RMT_TEST_ANSWER_MOST_MS); the program users get waits 30 s
// and 60 s.
// Winsock 2 must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/layout.h"
#include "server/process_win.h"
#include "tests/e2e/server_fixture.h"
#include "tools/standin/standin_rules.h"

using namespace e2e;
using namespace layout;

namespace {

// Holds or lets go every thread of a process, as a machine busy at a login would hold a shell.
void suspend_threads(DWORD pid, bool suspend) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return;
  THREADENTRY32 te{};
  te.dwSize = sizeof te;
  for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te)) {
    if (te.th32OwnerProcessID != pid) continue;
    if (HANDLE t = OpenThread(THREAD_SUSPEND_RESUME, FALSE, te.th32ThreadID)) {
      if (suspend) {
        SuspendThread(t);
      } else {
        ResumeThread(t);
      }
      CloseHandle(t);
    }
  }
  CloseHandle(snap);
}

class StartDecided : public ServerFixture {};

// The starting look lasts as long as the server takes to listen; the running look comes once its
// port answers, and not before.
TEST_F(StartDecided, ASlowServerIsStartedOnceItsPortAnswers) {
  ScopedVariable mode(standin::kModeVariable, "listen-after:2000");
  start();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_starting() && running_server() != 0; }, 5000))
      << status();
  const DWORD began = GetTickCount();
  ASSERT_TRUE(wait_until([&] { return shows_running(); }, 15000)) << status() << log();
  EXPECT_GE(GetTickCount() - began, 1000u) << "shown running before the server listened";
  EXPECT_EQ(http_status(port_), 200) << "shown running, but the port does not answer";
  expect_server_under_shell();
}

// The shell held for 3 s as soon as it appears (a busy machine at a login): still started.
TEST_F(StartDecided, ASlowShellEndsInStartedNotFailed) {
  start();
  click(按钮_启动);
  DWORD shell = 0;
  ASSERT_TRUE(wait_until([&] { return (shell = child_named(program_.id, "cmd.exe")) != 0; }, 5000));
  suspend_threads(shell, true);
  Sleep(3000);  // the hold itself is what is tested, not a wait for a result
  suspend_threads(shell, false);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }, 15000)) << status() << log();
  EXPECT_EQ(http_status(port_), 200);
  expect_server_under_shell();
}

// A server that ends before its port answered: the start failed, with its exit code in the log,
// and nothing it made runs on. (It must never listen: one that listens for a moment may answer.)
TEST_F(StartDecided, AServerThatEndsBeforeItAnswersFailsTheStartAndLeavesNoShell) {
  ScopedVariable mode(standin::kModeVariable, "fail:5");
  start();
  click(按钮_启动);
  // The run's end line is the start's last step.
  ASSERT_TRUE(wait_until([&] { return ends_logged() == 1; }, 15000)) << status() << log();
  EXPECT_TRUE(wait_until([&] { return shows_not_running(); }, 5000)) << status();
  EXPECT_TRUE(wait_until([&] { return shells_left() == 0; }, 5000));
  EXPECT_EQ(running_server(), 0u);
  EXPECT_TRUE(log_shows("\r\n---- 启动失败：服务器程序已退出，退出码 5 ----\r\n")) << log();
  post_command(program_.main, 托盘_退出);
  ASSERT_TRUE(ended(program_.id));
  const std::string file = folder_.read_file("logs\\server.log");
  const std::vector<std::string> marks = marks_of(file);
  ASSERT_EQ(marks.size(), 2u) << file << "\n" << log();
  EXPECT_EQ(marks[1], "结束：退出码 5") << file;
}

// 停止 is enabled while a start waits, and a stop then leaves nothing behind.
TEST_F(StartDecided, AStopDuringTheWaitLeavesNothing) {
  ScopedVariable mode(standin::kModeVariable, "no-listen");
  start();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_starting() && running_server() != 0; }, 10000))
      << status();
  click(按钮_停止);
  ASSERT_TRUE(wait_until([&] { return shows_not_running(); }, 10000)) << status();
  EXPECT_TRUE(wait_until([&] { return running_server() == 0 && shells_left() == 0; }, 5000));
  EXPECT_FALSE(wait_until([&] { return !shows_not_running(); }, 1000)) << status();
}

// The server file gone: the start fails at once and its shell ends with it. The shell never
// hears of the server, so the log tab names the file itself.
TEST_F(StartDecided, AMissingServerFailsTheStartAtOnceAndEndsItsShell) {
  // Beside the program the server would be found in place of the configured one.
  DeleteFileA(folder_.file(kServerExe).c_str());
  CreateDirectoryA(folder_.file("empty").c_str(), nullptr);
  settings_.file = folder_.file("empty\\rivermesh_windows_amd64.exe");
  start();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return ends_logged() == 1; }, 5000)) << status();
  EXPECT_TRUE(wait_until([&] { return shows_not_running(); }, 5000)) << status();
  EXPECT_TRUE(wait_until([&] { return shells_left() == 0; }, 5000));
  EXPECT_EQ(folder_.read_file("empty\\run.bat"),
            "rivermesh_windows_amd64.exe -h \"127.0.0.1\" -p " + settings_.port + " -l");
  EXPECT_TRUE(log_shows("\r\n---- 启动失败：找不到服务器程序 " + settings_.file + " ----\r\n"))
      << log();
  post_command(program_.main, 托盘_退出);
  ASSERT_TRUE(ended(program_.id));
  const std::vector<std::string> marks = marks_of(folder_.read_file("logs\\server.log"));
  ASSERT_EQ(marks.size(), 2u);
  EXPECT_EQ(marks[1], "结束：启动失败");
}

// The bounds, in the test build (whose update check aims at the test port).
E2E_HOLDS_TEST_PORT(StartBounds);

class StartBounds : public ServerFixture {
 protected:
  void start_test_build() {
    folder_.write_file("config.ini", config_text(settings_));
    program_ = start_program(folder_, true, kLoopbackBuild);
    ASSERT_NE(program_.main, nullptr);
  }
};

// A server that runs but never listens is kept, watched and shown running once the bound passed.
TEST_F(StartBounds, AServerThatNeverAnswersIsKeptAtTheBound) {
  ScopedVariable mode(standin::kModeVariable, "no-listen");
  start_test_build();
  // It runs longer than a restart needs: only its end is looked for here, not a restart.
  WritePrivateProfileStringA("BasisConfig", "Auto restart", "false",
                             folder_.file("config.ini").c_str());
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_starting() && running_server() != 0; }, 10000));
  const DWORD seen = GetTickCount();
  const DWORD server = running_server();
  ASSERT_TRUE(wait_until([&] { return shows_running(); }, RMT_TEST_ANSWER_MOST_MS + 10000))
      << status();
  EXPECT_GE(GetTickCount() - seen, RMT_TEST_ANSWER_MOST_MS - 1500u);
  EXPECT_EQ(running_server(), server) << "a slow server is not killed";
  // It is watched: its end is noticed.
  proc::terminate(server);
  EXPECT_TRUE(wait_until([&] { return shows_not_running(); }, 5000)) << status();
}

// A server file that does not run: nothing appears, and the start fails at the bound.
TEST_F(StartBounds, AServerThatNeverAppearsFailsAtTheBound) {
  folder_.write_file(kServerExe, "not a program");
  start_test_build();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_starting(); }, 5000)) << status();
  ASSERT_TRUE(wait_until([&] { return shows_not_running(); }, RMT_TEST_APPEAR_MOST_MS + 10000))
      << status();
  EXPECT_TRUE(wait_until([&] { return shells_left() == 0; }, 5000));
  EXPECT_TRUE(log_shows("---- 启动失败：" + std::to_string(RMT_TEST_APPEAR_MOST_MS / 1000) +
                        " 秒内未见服务器程序运行 ----"))
      << log();
}

}  // namespace
