// Starting and stopping the server as a user does it: the start button, the tray entries and the
// start at login; the launch script on disk, the server as the hidden shell's child, its page on
// the web port and its output in the log tab; the stop, the exit and the end of a session.
// Winsock 2 must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/layout.h"
#include "server/console_text.h"
#include "server/process_win.h"
#include "tests/e2e/server_fixture.h"
#include "tools/standin/standin_rules.h"

using namespace e2e;
using namespace layout;

namespace {

using ServerControl = ServerFixture;

TEST_F(ServerControl, StartStopAndStartAgainWithTheButtons) {
  start();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); })) << status();
  EXPECT_EQ(folder_.read_file("run.bat"),
            "rivermesh_windows_amd64.exe -h \"127.0.0.1\" -p " + settings_.port + " -l");
  expect_server_under_shell();
  const DWORD first_shell = parent_of(running_server());

  EXPECT_EQ(http_status(port_, "/from-the-test"), 200);
  // The stand-in's start line arrives with its Chinese text intact, then the request's line.
  EXPECT_TRUE(log_shows(kStartedPrefix + "127.0.0.1:" + settings_.port)) << log();
  EXPECT_TRUE(log_shows(kStandIn));
  EXPECT_TRUE(log_shows("GET /from-the-test 200")) << log();

  const DWORD server = running_server();
  click(按钮_停止);
  EXPECT_TRUE(wait_until([&] { return shows_not_running(); })) << status();
  EXPECT_TRUE(ended(server));
  EXPECT_TRUE(ended(first_shell));

  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }));
  expect_server_under_shell();
  EXPECT_NE(parent_of(running_server()), first_shell);
  EXPECT_TRUE(log_shows(kStartedPrefix));
  EXPECT_EQ(log().find("/from-the-test"), std::string::npos) << "the new launch clears the log";
}

TEST_F(ServerControl, TrayEntryStartsWithAccessControlAndExitEndsEverything) {
  settings_.access_control = true;
  settings_.user = "用户";
  settings_.password = "pa ss";
  start();
  post_command(program_.main, 托盘_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }));
  EXPECT_EQ(folder_.read_file("run.bat"), "rivermesh_windows_amd64.exe -h \"127.0.0.1\" -p " +
                                              settings_.port + " -a \"用户:pa ss\" -l");
  expect_server_under_shell();
  // The server was given the account: it wants credentials.
  EXPECT_EQ(http_status(port_), 401);

  const DWORD server = running_server();
  const DWORD shell = parent_of(server);
  post_command(program_.main, 托盘_退出);
  EXPECT_TRUE(ended(program_.id));
  EXPECT_TRUE(ended(server));
  EXPECT_TRUE(ended(shell));
}

TEST_F(ServerControl, StartedByAnotherProgramItStartsTheServerAtOnce) {
  start(false);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }));
  expect_server_under_shell();
  EXPECT_FALSE(visible(program_.main));
  EXPECT_EQ(http_status(port_), 200);
}

TEST_F(ServerControl, SessionEndEndsProgramShellAndServer) {
  start();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }));
  const DWORD server = running_server();
  const DWORD shell = parent_of(server);
  DWORD_PTR answer = 0;
  SendMessageTimeoutA(program_.main, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP, SMTO_ABORTIFHUNG,
                      5000, &answer);
  SendMessageTimeoutA(program_.main, WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP, SMTO_ABORTIFHUNG,
                      5000, &answer);
  EXPECT_TRUE(ended(program_.id));
  EXPECT_TRUE(ended(server));
  EXPECT_TRUE(ended(shell));
}

TEST_F(ServerControl, StopAfterTheServerEndedSaysSoThenShowsNotRunning) {
  start();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }));
  // The program notices a server's end by itself; a stop reaches it first only when the user
  // asked before the program could tell. Hold its UI thread while both happen.
  HANDLE ui =
      OpenThread(THREAD_SUSPEND_RESUME, FALSE, GetWindowThreadProcessId(program_.main, nullptr));
  ASSERT_NE(ui, nullptr);
  SuspendThread(ui);
  post_command(program_.main, 托盘_停止);
  kill_tree(running_server());
  const bool gone = wait_until([] { return running_server() == 0; });
  ResumeThread(ui);
  CloseHandle(ui);
  ASSERT_TRUE(gone);

  const Box box = message_box_of(program_.id);
  ASSERT_NE(box.window, nullptr);
  EXPECT_EQ(box.caption, "信息：");
  EXPECT_EQ(box.text, "Rivermesh 进程似乎不存在！");
  EXPECT_EQ(GetWindow(box.window, GW_OWNER), program_.main);
  EXPECT_TRUE(shows_running()) << "the look changes once the message is closed";
  close_box(box);
  EXPECT_TRUE(wait_until([&] { return shows_not_running(); }));
}

TEST_F(ServerControl, StopEndsAServerStartedElsewhereButNotItsParent) {
  start();
  // The test program plays the user's own terminal here: it must survive the stop.
  Process outside = Process::start(folder_.file(kServerExe),
                                   "-h \"127.0.0.1\" -p " + settings_.port + " -l", folder_.path());
  ASSERT_TRUE(wait_until([&] { return http_status(port_) == 200; }));
  click(按钮_停止);
  EXPECT_TRUE(wait_until([&] { return !outside.running(); }));
  EXPECT_TRUE(wait_until([&] { return shows_not_running(); }));
  EXPECT_EQ(message_box_of(program_.id, 500).window, nullptr);
}

TEST_F(ServerControl, MissingServerLeavesTheLookAndTheShellEndsWith3389AtExit) {
  // Beside the program the server would be found in place of the configured one.
  DeleteFileA(folder_.file(kServerExe).c_str());
  CreateDirectoryA(folder_.file("empty").c_str(), nullptr);
  settings_.file = folder_.file("empty\\rivermesh_windows_amd64.exe");
  start();
  click(按钮_启动);
  // The shell says it cannot find the program; no server comes up.
  ASSERT_TRUE(log_shows(kServerExe)) << log();
  const DWORD shell = [] {
    for (const proc::ProcessRecord& r : proc::process_list()) {
      if (r.name == "cmd.exe") return static_cast<DWORD>(r.id);
    }
    return DWORD{0};
  }();
  ASSERT_NE(shell, 0u);
  EXPECT_EQ(parent_of(shell), program_.id);
  HANDLE shell_handle = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, shell);
  ASSERT_NE(shell_handle, nullptr);
  sync(program_.main);
  EXPECT_TRUE(shows_not_running());
  EXPECT_EQ(running_server(), 0u);
  EXPECT_EQ(folder_.read_file("empty\\run.bat"),
            "rivermesh_windows_amd64.exe -h \"127.0.0.1\" -p " + settings_.port + " -l");

  post_command(program_.main, 托盘_退出);
  EXPECT_TRUE(ended(program_.id));
  EXPECT_EQ(WaitForSingleObject(shell_handle, 5000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(shell_handle, &code);
  EXPECT_EQ(code, 3389u);
  CloseHandle(shell_handle);
}

TEST_F(ServerControl, FirstFailingCheckIsTheOnlyMessage) {
  settings_.file = "";
  settings_.port = "";
  settings_.ip = "";
  start();
  struct Case {
    const char* what;
    std::string file, port, ip;
    bool access;
    std::string user, password;
    const char* message;
  };
  const std::string file = folder_.file(kServerExe);
  const Case cases[] = {
      {"all empty", "", "", "", false, "", "", "文件位置 不能为空！"},
      {"port and address empty", file, "", "", false, "", "", "网页端口 不能为空！"},
      {"address empty", file, "80", "", false, "", "", "访问地址 不能为空！"},
      {"password empty", file, "80", "1.2.3.4", true, "me", "", "访问密码 不能为空！"},
      {"account empty", file, "80", "1.2.3.4", true, "", "", "访问账号 不能为空！"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    set_field(编辑框_文件位置, c.file);
    set_field(编辑框_网页端口, c.port);
    set_field(编辑框_IP, c.ip);
    if (checked(control(选择框_访问控制)) != c.access) {
      click(选择框_访问控制);
      sync(program_.main);
    }
    set_field(编辑框_账号, c.user);
    set_field(编辑框_密码, c.password);
    click(按钮_启动);
    const Box box = message_box_of(program_.id);
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.caption, "错误");
    EXPECT_EQ(box.text, c.message);
    close_box(box);
    EXPECT_EQ(visible_window_of("#32770", program_.id), nullptr) << "one message only";
  }
  EXPECT_EQ(folder_.read_file("run.bat"), "");

  // A port of blanks is not empty: the start goes on and writes it as it is.
  set_field(编辑框_网页端口, "   ");
  set_field(编辑框_IP, "127.0.0.1");
  click(选择框_访问控制);
  sync(program_.main);
  click(按钮_启动);
  EXPECT_TRUE(wait_until([&] { return !folder_.read_file("run.bat").empty(); }));
  EXPECT_EQ(folder_.read_file("run.bat"), "rivermesh_windows_amd64.exe -h \"127.0.0.1\" -p     -l");
  EXPECT_EQ(message_box_of(program_.id, 1000).window, nullptr);
}

TEST_F(ServerControl, TextsThatWouldRunCommandsAreRefusedAndNothingRuns) {
  start();
  const std::string marker = folder_.file("pwned.txt");
  const std::string command = "echo x > \"" + marker + "\"";
  struct Case {
    int field;
    std::string text;
    const char* message;
  };
  const Case cases[] = {
      {编辑框_网页端口, "80 & " + command, "网页端口 包含不允许的字符！"},
      {编辑框_网页端口, "80|" + command, "网页端口 包含不允许的字符！"},
      {编辑框_IP, "0.0.0.0\" & " + command + " & \"", "访问地址 包含不允许的字符！"},
      {编辑框_IP, "%COMSPEC%", "访问地址 包含不允许的字符！"},
      {编辑框_密码, "a\" & " + command + " & \"", "访问密码 包含不允许的字符！"},
      {编辑框_账号, "me\\", "访问账号 包含不允许的字符！"},
  };
  click(选择框_访问控制);
  sync(program_.main);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    set_field(编辑框_网页端口, settings_.port);
    set_field(编辑框_IP, settings_.ip);
    set_field(编辑框_账号, "me");
    set_field(编辑框_密码, "pw");
    set_field(c.field, c.text);
    click(按钮_启动);
    const Box box = message_box_of(program_.id);
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.text, c.message);
    close_box(box);
  }
  EXPECT_EQ(folder_.read_file("run.bat"), "") << "nothing is written when a start is refused";
  EXPECT_EQ(GetFileAttributesA(marker.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(running_server(), 0u);
}

TEST_F(ServerControl, LargeOutputArrivesWholeWithChineseIntact) {
  const std::size_t bytes = 300 * 1024;
  ScopedVariable mode(standin::kModeVariable, "flood:" + std::to_string(bytes));
  start();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }));
  ASSERT_TRUE(log_shows(standin::kFloodEnd, 30000));
  const std::string text = log();
  // Reads of the pipe end in the middle of double-byte characters; none may be broken.
  EXPECT_NE(text.find(standin::flood_text(bytes) + standin::kFloodEnd), std::string::npos);
  EXPECT_NE(text.find(kStartedPrefix), std::string::npos);
}

TEST_F(ServerControl, LogKeepsItsNewestMegabyteInWholeLines) {
  const std::size_t bytes = 3 * 1024 * 1024;
  ScopedVariable mode(standin::kModeVariable, "flood:" + std::to_string(bytes));
  start();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }));
  ASSERT_TRUE(log_shows(standin::kFloodEnd, 60000));
  sync(program_.main);
  const std::string text = log();
  EXPECT_LE(text.size(), 1024u * 1024u);
  EXPECT_GE(text.size(), console::kLogCap - console::kTrimSlack - console::kSliceBytes);
  // What is left is the end of the output, from the start of a line on.
  const std::string all = standin::flood_text(bytes) + standin::kFloodEnd + "\r\n";
  ASSERT_LE(text.size(), all.size());
  EXPECT_EQ(all.substr(all.size() - text.size()), text);
  EXPECT_EQ(all[all.size() - text.size() - 1], '\n');
  EXPECT_TRUE(enabled(control(按钮_停止)));
}

TEST_F(ServerControl, LogShownDuringAFloodKeepsUpAndKeepsAnswering) {
  const std::size_t bytes = 4 * 1024 * 1024;
  ScopedVariable mode(standin::kModeVariable, "flood:" + std::to_string(bytes));
  start();
  HWND tab = control(选择夹1);
  HWND box = control(编辑框_日志);
  auto click_tab = [&](int x) {
    PostMessageA(tab, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, 10));
    PostMessageA(tab, WM_LBUTTONUP, 0, MAKELPARAM(x, 10));
    sync(program_.main);
  };
  click_tab(85);  // "日志"
  ASSERT_TRUE(wait_until([&] { return visible(box); }));
  click(按钮_启动);
  // Leaving the page while the box catches up hides it, and coming back shows it.
  ASSERT_TRUE(wait_until([&] { return log().size() > 64 * 1024; }, 30000));
  click_tab(30);  // "配置"
  EXPECT_TRUE(wait_until([&] { return !visible(box) && visible(control(分组框1)); }));
  click_tab(85);
  EXPECT_TRUE(wait_until([&] { return visible(box); }));
  ASSERT_TRUE(log_shows(standin::kFloodEnd, 60000));
  EXPECT_TRUE(sync(program_.main));
  EXPECT_TRUE(visible(box));
  const std::string text = log();
  const std::string all = standin::flood_text(bytes) + standin::kFloodEnd + "\r\n";
  ASSERT_LE(text.size(), all.size());
  EXPECT_EQ(all.substr(all.size() - text.size()), text);
}

TEST_F(ServerControl, RandomBytesFromTheServerNeitherBreakNorStopTheLog) {
  ScopedVariable mode(standin::kModeVariable, "random:200000:7");
  start();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }));
  ASSERT_TRUE(log_shows(standin::kRandomEnd, 30000));
  EXPECT_EQ(log().find('\0'), std::string::npos);
  EXPECT_EQ(http_status(port_), 200);
  EXPECT_TRUE(sync(program_.main));
}

}  // namespace
