// Starting and stopping the server as a user does it: the start button, the tray entries and the
// start at login; the launch script on disk, the server as the hidden shell's child, its page on
// the web port and its output in the log tab; the stop, the exit and the end of a session.
// Winsock 2 must come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <iphlpapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "app/layout.h"
#include "app/log_mirror.h"
#include "platform/handles_win.h"
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

  EXPECT_EQ(answer_status("/from-the-test"), 200);
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
  ASSERT_TRUE(wait_until([&] { return shows_running(); })) << status() << log();
  expect_server_under_shell();
  EXPECT_NE(parent_of(running_server()), first_shell);
  EXPECT_TRUE(log_shows(kStartedPrefix));
  EXPECT_EQ(log().find("/from-the-test"), std::string::npos) << "the new launch clears the log";
}

// A server folder reached through a link (a package manager's "current" folder, a drive letter of
// subst): Windows names the running server by the resolved path, Wine by the link; either way it
// is this copy's server, from the start through its watch, a stop and the exit.
TEST_F(ServerControl, AServerFolderReachedThroughALinkIsOurs) {
  const std::string root = "C:\\rmt-e2e\\";
  ASSERT_EQ(folder_.path().rfind(root, 0), 0u) << folder_.path();
  settings_.file = "C:\\rmt-e2e-link\\" + folder_.path().substr(root.size()) + "\\" + kServerExe;
  ASSERT_NE(GetFileAttributesA(settings_.file.c_str()), INVALID_FILE_ATTRIBUTES) << settings_.file;
  start();
  WritePrivateProfileStringA("BasisConfig", "Auto restart", "false",
                             folder_.file("config.ini").c_str());
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); })) << status() << log();
  expect_server_under_shell();
  EXPECT_EQ(answer_status(), 200);
  // Its end is noticed by the watch.
  kill_tree(running_server());
  EXPECT_TRUE(wait_until([&] { return shows_not_running(); })) << status();

  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); })) << status() << log();
  DWORD server = running_server();
  click(按钮_停止);
  EXPECT_TRUE(wait_until([&] { return shows_not_running(); })) << status();
  EXPECT_TRUE(ended(server));
  EXPECT_EQ(message_box_of(program_.id, 500).window, nullptr) << "the stop found its server";

  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); })) << status() << log();
  server = running_server();
  const DWORD shell = parent_of(server);
  post_command(program_.main, 托盘_退出);
  EXPECT_TRUE(ended(program_.id));
  EXPECT_TRUE(ended(server));
  EXPECT_TRUE(ended(shell));
}

// A server on every interface without an account: the log tab says that every device that
// reaches this machine can use it, and where other devices find it. The tab's own menu, from the
// keyboard (the menu key's WM_CONTEXTMENU), selects, copies and clears it; logs\server.log stays.
TEST_F(ServerControl, LogTabSaysWhoCanReachTheServerAndHasItsOwnMenu) {
  settings_.ip = "0.0.0.0";
  start();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); })) << status() << log();
  EXPECT_TRUE(log_shows("未启用访问限制")) << log();
  EXPECT_TRUE(log_shows(settings_.port + "/ ----")) << log();
  const std::string shown = log();
  EXPECT_NE(shown.find("局域网中的其他设备可访问：http://"), std::string::npos)
      << "these machines have an address on their network: " << shown;
  EXPECT_LT(shown.find(kStartedPrefix), shown.find("局域网中的其他设备"))
      << "the addresses follow the server's output so far";

  const HWND edit = control(编辑框_日志);
  const auto choose = [&](int down) {
    PostMessageA(edit, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(edit), -1);
    HWND menu = nullptr;
    ASSERT_TRUE(wait_until([&] { return (menu = visible_window_of("#32768", program_.id)); }));
    for (int i = 0; i <= down; ++i) PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
    ASSERT_TRUE(wait_until([&] { return !visible_window_of("#32768", program_.id); }));
    sync(program_.main);
  };
  choose(1);  // 全选
  const LRESULT selection = SendMessageA(edit, EM_GETSEL, 0, 0);
  EXPECT_EQ(LOWORD(selection), 0);
  // Positions count in the box's own units: UTF-16 for a box that keeps wide text.
  EXPECT_EQ(HIWORD(selection), SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0));
  ASSERT_TRUE(OpenClipboard(nullptr) && EmptyClipboard() && CloseClipboard());
  choose(0);  // 复制
  std::string copied;
  if (OpenClipboard(nullptr)) {
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
      copied = static_cast<const char*>(GlobalLock(data));
      GlobalUnlock(data);
    }
    CloseClipboard();
  }
  EXPECT_NE(copied.find("未启用访问限制"), std::string::npos) << copied;
  choose(2);  // 清空, past the separator
  EXPECT_EQ(SendMessageA(edit, WM_GETTEXTLENGTH, 0, 0), 0);
  EXPECT_EQ(answer_status("/after-the-clear"), 200);
  EXPECT_TRUE(log_shows("GET /after-the-clear 200")) << "output goes on after a clear";
  std::string kept;
  EXPECT_TRUE(wait_until([&] {
    kept = folder_.read_file("logs\\server.log");
    return kept.find("GET /after-the-clear") != std::string::npos;
  })) << kept;
  EXPECT_NE(kept.find(kStartedPrefix), std::string::npos) << "the file keeps what the tab cleared";
  EXPECT_NE(kept.find("局域网中的其他设备可访问：http://"), std::string::npos) << kept;
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
  EXPECT_EQ(answer_status(), 401);

  const DWORD server = running_server();
  const DWORD shell = parent_of(server);
  post_command(program_.main, 托盘_退出);
  EXPECT_TRUE(ended(program_.id));
  EXPECT_TRUE(ended(server));
  EXPECT_TRUE(ended(shell));
}

TEST_F(ServerControl, StartedByAnotherProgramItStartsTheServerAtOnce) {
  start(false);
  ASSERT_TRUE(wait_until([&] { return shows_running(); })) << status() << log();
  expect_server_under_shell();
  EXPECT_FALSE(visible(program_.main));
  EXPECT_EQ(answer_status(), 200);
}

TEST_F(ServerControl, SessionEndEndsProgramShellAndServer) {
  // The slowest case: a server that stays deaf to Ctrl+C costs the whole grace.
  ScopedVariable mode(standin::kModeVariable, "ignore-ctrl-c");
  start();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }));
  const DWORD server = running_server();
  const DWORD shell = parent_of(server);
  DWORD_PTR answer = 0;
  SendMessageTimeoutA(program_.main, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP, SMTO_ABORTIFHUNG,
                      5000, &answer);
  const DWORD asked = GetTickCount();
  SendNotifyMessageA(program_.main, WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP);
  EXPECT_FALSE(ended(server, 1500)) << "the server is given its grace";
  // Whatever else asks the program to close meanwhile starts no second wait.
  SendNotifyMessageA(program_.main, WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP);
  PostMessageA(program_.main, WM_CLOSE, 0, 0);
  EXPECT_TRUE(ended(program_.id));
  EXPECT_LT(GetTickCount() - asked, 3200u) << "one grace of 2 s, not a second one";
  EXPECT_TRUE(ended(server));
  EXPECT_TRUE(ended(shell));
}

// A stop or an exit first sends Ctrl+C through the shell's console and waits: a server that ends
// on it ends cleanly (it writes the marker on its way out), one that ignores it is terminated
// once the grace is over.
struct Interrupt {
  const char* mode;
  bool ends_cleanly;
};
constexpr Interrupt kInterrupts[] = {{"ctrl-c:300", true}, {"ignore-ctrl-c", false}};

// This process ignores Ctrl+C while it lives, and so does every process it starts meanwhile.
struct IgnoringCtrlC {
  IgnoringCtrlC() { SetConsoleCtrlHandler(nullptr, TRUE); }
  ~IgnoringCtrlC() { SetConsoleCtrlHandler(nullptr, FALSE); }
  IgnoringCtrlC(const IgnoringCtrlC&) = delete;
  IgnoringCtrlC& operator=(const IgnoringCtrlC&) = delete;
};

class GracefulEnd : public ServerFixture {
 protected:
  // The program started anew and its server running in that mode (the program hands its
  // environment down); the server and its shell.
  std::pair<DWORD, DWORD> run_server(const Interrupt& c) {
    DeleteFileA(marker_.c_str());
    ScopedVariable mode(standin::kModeVariable, c.mode);
    {
      // Started as by a program that ignores Ctrl+C and keeps cmd from looking in its own
      // folder: neither may reach the shell, or no stop's Ctrl+C, nor run.bat, would count.
      const IgnoringCtrlC starter_ignores;
      ScopedVariable no_own_folder("NoDefaultCurrentDirectoryInExePath", "1");
      start();
    }
    click(按钮_启动);
    EXPECT_TRUE(wait_until([&] { return shows_running(); })) << status();
    return {running_server(), parent_of(running_server())};
  }
  bool ended_cleanly() const {
    return folder_.read_file("ctrl-c.txt") == standin::kInterruptedReport;
  }
  bool marker_absent() const {
    return GetFileAttributesA(marker_.c_str()) == INVALID_FILE_ATTRIBUTES;
  }

  const std::string marker_ = folder_.file("ctrl-c.txt");
  ScopedVariable report_{standin::kReportVariable, marker_};
};

TEST_F(GracefulEnd, StopAsksTheServerToEndBeforeForcingIt) {
  for (const Interrupt& c : kInterrupts) {
    SCOPED_TRACE(c.mode);
    const auto [server, shell] = run_server(c);
    const DWORD asked = GetTickCount();
    click(按钮_停止);
    if (c.ends_cleanly) {
      EXPECT_TRUE(ended(server, 3000)) << "within the grace";
      EXPECT_TRUE(ended_cleanly());
    } else {
      // The grace runs while the window answers, and a second stop meanwhile starts nothing:
      // the server is forced no earlier.
      DWORD_PTR answer = 0;
      const DWORD pinged = GetTickCount();
      EXPECT_NE(SendMessageTimeoutA(program_.main, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &answer), 0);
      EXPECT_LT(GetTickCount() - pinged, 500u);
      click(按钮_停止);
      EXPECT_FALSE(ended(server, 2500)) << "the grace is 3 s";
      EXPECT_TRUE(shows_running());
      EXPECT_TRUE(ended(server));
      EXPECT_GE(GetTickCount() - asked, 2900u);
      EXPECT_TRUE(marker_absent());
    }
    EXPECT_TRUE(ended(shell));
    EXPECT_TRUE(wait_until([&] { return shows_not_running(); })) << status();
    EXPECT_EQ(message_box_of(program_.id, 300).window, nullptr);
    EXPECT_TRUE(log_shows("Ctrl+C")) << "the server was sent it";
    // The next server is not hit by what the last one was sent.
    click(按钮_启动);
    ASSERT_TRUE(wait_until([&] { return shows_running(); })) << status();
    EXPECT_EQ(answer_status(), 200) << log();
    program_.process.kill();
  }
}

TEST_F(GracefulEnd, ExitLetsTheServerEndAfterWindowAndIconWent) {
  for (const Interrupt& c : kInterrupts) {
    SCOPED_TRACE(c.mode);
    const int icons = settled_tray_icon_count();
    const auto [server, shell] = run_server(c);
    ASSERT_TRUE(wait_until([&] { return tray_icon_count() == icons + 1; }))
        << "before " << icons << "; " << tray_state();
    const DWORD asked = GetTickCount();
    post_command(program_.main, 托盘_退出);
    EXPECT_TRUE(
        wait_until([&] { return !visible(program_.main) && tray_icon_count() == icons; }, 1500))
        << "the window and the icon go at once";
    if (c.ends_cleanly) {
      EXPECT_TRUE(ended(program_.id, 2000));
      EXPECT_TRUE(ended_cleanly());
    } else {
      EXPECT_EQ(running_server(), server) << "the grace is 2 s";
      EXPECT_TRUE(ended(program_.id));
      EXPECT_GE(GetTickCount() - asked, 1900u);
      EXPECT_TRUE(marker_absent());
    }
    EXPECT_TRUE(ended(server));
    EXPECT_TRUE(ended(shell));
  }
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
  // It would end cleanly on Ctrl+C, but its console is the test's own: it is terminated instead.
  ScopedVariable mode(standin::kModeVariable, "ctrl-c:0");
  ScopedVariable report(standin::kReportVariable, folder_.file("ctrl-c.txt"));
  start();
  // The user's own command prompt started the server and has more to do once it ends: a stop
  // must leave the prompt alone, although it is a cmd.exe.
  char system[MAX_PATH] = {};
  GetSystemDirectoryA(system, MAX_PATH);
  Process prompt = Process::start(std::string(system) + "\\cmd.exe",
                                  "/d /c " + std::string(kServerExe) + " -h 127.0.0.1 -p " +
                                      settings_.port + " -l & echo done>after.txt",
                                  folder_.path());
  ASSERT_TRUE(wait_until([&] { return http_status(port_) == 200; }));
  const DWORD server = running_server();
  ASSERT_EQ(parent_of(server), prompt.id());
  // The server already listens on the web port: a start finds it and reports success.
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); })) << status();
  EXPECT_EQ(message_box_of(program_.id, 500).window, nullptr);
  EXPECT_EQ(folder_.read_file("run.bat"),
            "rivermesh_windows_amd64.exe -h \"127.0.0.1\" -p " + settings_.port + " -l");
  click(按钮_停止);
  EXPECT_TRUE(ended(server));
  EXPECT_TRUE(wait_until([&] { return shows_not_running(); }));
  EXPECT_TRUE(wait_until([&] { return !folder_.read_file("after.txt").empty(); }))
      << "the prompt was ended along with the server";
  EXPECT_EQ(prompt.wait(), 0u);
  EXPECT_EQ(message_box_of(program_.id, 500).window, nullptr);
  EXPECT_EQ(folder_.read_file("ctrl-c.txt"), "") << "no Ctrl+C for a server not under our shell";
}

// A server of this copy that runs before the program starts (here by another program, which
// would start one) is taken over: the running look at once, no second server, and a stop asks it
// with Ctrl+C through its own console. Another copy's server, first in the list, is left alone.
TEST_F(ServerControl, AServerRunningAtStartUpIsTakenOverAndStoppedAsOurs) {
  CreateDirectoryA(folder_.file("other").c_str(), nullptr);
  const std::string other =
      folder_.copy_in("x64\\" + std::string(kServerExe), "other\\" + std::string(kServerExe));
  Process other_server = Process::start(
      other, "-h 127.0.0.1 -p " + std::to_string(free_port()) + " -l", folder_.path());
  ScopedVariable mode(standin::kModeVariable, "ctrl-c:0");
  ScopedVariable report(standin::kReportVariable, folder_.file("ctrl-c.txt"));
  // A prompt with a console of its own: a Ctrl+C goes to every process on the console.
  char system[MAX_PATH] = {};
  GetSystemDirectoryA(system, MAX_PATH);
  win::unique_handle output;
  Process prompt = Process::start(
      std::string(system) + "\\cmd.exe",
      "/d /c " + std::string(kServerExe) + " -h 127.0.0.1 -p " + settings_.port + " -l",
      folder_.path(), output.put());
  ASSERT_TRUE(wait_until([&] { return http_status(port_) == 200; }));
  const std::string server = std::to_string(child_named(prompt.id(), kServerExe));
  start(false);
  EXPECT_TRUE(shows_running()) << status();
  EXPECT_TRUE(log_shows("---- Rivermesh 已在运行（进程 " + server + "），已接管")) << log();
  click(按钮_停止);
  EXPECT_TRUE(wait_until([&] { return shows_not_running() && ends_logged() == 1; })) << status();
  EXPECT_EQ(folder_.read_file("ctrl-c.txt"), standin::kInterruptedReport);
  EXPECT_EQ(marks_of(folder_.read_file("logs\\server.log")),
            (std::vector<std::string>{"接管：已在运行的进程 " + server + "（它的输出无法记录）",
                                      "结束：停止"}));
  EXPECT_EQ(shells_left(), 0u);
  EXPECT_EQ(message_box_of(program_.id, 500).window, nullptr);
  EXPECT_TRUE(other_server.running());
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
      // A port of blanks is not empty, but never named a port: the server took "-l" for it.
      {"port of blanks", file, "   ", "1.2.3.4", false, "", "", "网页端口 包含不允许的字符！"},
      {"port 0", file, "0", "1.2.3.4", false, "", "", "网页端口 必须在 1 到 65535 之间！"},
      {"port above 65535", file, "65536", "1.2.3.4", false, "", "",
       "网页端口 必须在 1 到 65535 之间！"},
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
}

TEST_F(ServerControl, FileLocationsWithSlashesOrWithoutAFolder) {
  // A location written with slashes runs in its own folder, not in the program's.
  CreateDirectoryA(folder_.file("srv").c_str(), nullptr);
  folder_.copy_in("x64\\rivermesh_windows_amd64.exe", "srv\\rivermesh_windows_amd64.exe");
  settings_.file = folder_.file("srv\\rivermesh_windows_amd64.exe");
  for (char& c : settings_.file) {
    if (c == '\\') c = '/';
  }
  start();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); })) << status();
  EXPECT_EQ(folder_.read_file("srv\\run.bat"),
            "rivermesh_windows_amd64.exe -h \"127.0.0.1\" -p " + settings_.port + " -l");
  EXPECT_EQ(GetFileAttributesA(folder_.file("run.bat").c_str()), INVALID_FILE_ATTRIBUTES);
  post_command(program_.main, 托盘_退出);
  ASSERT_TRUE(ended(program_.id));

  // A drive-relative name has no folder: nothing is written or started, and the one message
  // says why. No server beside the program, so that none replaces the name at start-up.
  DeleteFileA(folder_.file(kServerExe).c_str());
  DeleteFileA(folder_.file("srv\\run.bat").c_str());
  settings_.file = "C:rivermesh_windows_amd64.exe";
  start();
  click(按钮_启动);
  const Box box = message_box_of(program_.id);
  ASSERT_NE(box.window, nullptr);
  EXPECT_EQ(box.caption, "错误");
  EXPECT_EQ(box.text, "初始化目录不能为空！");
  close_box(box);
  sync(program_.main);
  EXPECT_EQ(GetFileAttributesA(folder_.file("run.bat").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA(folder_.file("srv\\run.bat").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(child_named(program_.id, "cmd.exe"), 0u);
  EXPECT_TRUE(shows_not_running());
  post_command(program_.main, 托盘_退出);
  ASSERT_TRUE(ended(program_.id));

  // A network folder can never be the shell's own: refused before anything is written there.
  settings_.file = "\\\\nas\\srv\\rivermesh_windows_amd64.exe";
  start();
  click(按钮_启动);
  const Box network = message_box_of(program_.id);
  ASSERT_NE(network.window, nullptr);
  EXPECT_EQ(network.text, "初始化目录不能是网络路径！");
  close_box(network);
  sync(program_.main);
  EXPECT_EQ(child_named(program_.id, "cmd.exe"), 0u);
  EXPECT_TRUE(shows_not_running());
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
      // The euro sign is the single byte 0x80: no lead byte, so the quote after it is seen.
      {编辑框_密码, "\x80\" & " + command + " & rem ", "访问密码 包含不允许的字符！"},
      {编辑框_账号, "me\\", "访问账号 包含不允许的字符！"},
      // The account would end at its colon, and the rest would join the password.
      {编辑框_账号, "ops:admin", "访问账号 包含不允许的字符！"},
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

// The boxes take no more than 255 bytes (the port 5), but config.ini can hold more, and a start
// at login reads it unseen.
TEST_F(ServerControl, ValuesOnlyTheSettingsFileCanHoldAreRefused) {
  const std::string marker = folder_.file("pwned.txt");
  const std::string port = settings_.port;
  struct Case {
    std::string port, ip, user, password;
    const char* message;
  };
  const Case cases[] = {
      // The shell cuts the line at 8,191 characters and runs the rest as a command.
      {port, std::string(8139, 'a') + std::string(40, ' ') + "echo x>pwned.txt & rem ", "me", "pw",
       "访问地址 不能超过 255 个字节！"},
      {port, "127.0.0.1", std::string(256, 'u'), "pw", "访问账号 不能超过 255 个字节！"},
      {port, "127.0.0.1", "me", std::string(256, 'p'), "访问密码 不能超过 255 个字节！"},
      // "8888 --" would end the server's options before -a: it would run open to anyone.
      {port + " --", "127.0.0.1", "me", "pw", "网页端口 包含不允许的字符！"},
  };
  settings_.access_control = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    settings_.port = c.port;
    settings_.ip = c.ip;
    settings_.user = c.user;
    settings_.password = c.password;
    start();
    click(按钮_启动);
    const Box box = message_box_of(program_.id);
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.text, c.message);
    close_box(box);
    post_command(program_.main, 托盘_退出);
    ASSERT_TRUE(ended(program_.id));
  }
  EXPECT_EQ(folder_.read_file("run.bat"), "") << "nothing is written when a start is refused";
  EXPECT_EQ(GetFileAttributesA(marker.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(running_server(), 0u);
}

// A listener of another program on the web port, as Winsock in the test process makes it.
unique_socket listener_on(int family, const char* address, unsigned short port) {
  unique_socket s(::socket(family, SOCK_STREAM, IPPROTO_TCP));
  if (!s) return s;
  sockaddr_storage where{};
  int size = 0;
  if (family == AF_INET) {
    auto* a = reinterpret_cast<sockaddr_in*>(&where);
    a->sin_family = AF_INET;
    a->sin_port = ::htons(port);
    a->sin_addr.s_addr = ::inet_addr(address);
    size = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in6*>(&where);
    a->sin6_family = AF_INET6;
    a->sin6_port = ::htons(port);  // the any-address is all zeros
    size = sizeof *a;
  }
  if (::bind(s.get(), reinterpret_cast<const sockaddr*>(&where), size) != 0 ||
      ::listen(s.get(), 1) != 0) {
    s.reset();
  }
  // Wine 8 names a socket's owner only once the owner itself holds the socket's Unix side, which
  // setting an option makes it do; before that the system's table says process 0, unknown.
  const BOOL keep_alive = TRUE;
  if (s) {
    ::setsockopt(s.get(), SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&keep_alive),
                 sizeof keep_alive);
  }
  return s;
}

// Whether the system's table names this process as the owner of its listener on port. Wine 8
// does for IPv4 only: for an IPv6 listener it gives process 0.
bool table_names_us(int family, unsigned short port) {
  std::vector<char> table(64 * 1024);
  DWORD size = static_cast<DWORD>(table.size());
  if (GetExtendedTcpTable(table.data(), &size, FALSE, family, TCP_TABLE_OWNER_PID_LISTENER, 0) !=
      NO_ERROR) {
    return false;
  }
  const auto ours = [&](DWORD local_port, DWORD pid) {
    return ::ntohs(static_cast<u_short>(local_port)) == port && pid == GetCurrentProcessId();
  };
  if (family == AF_INET) {
    const auto* t = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(table.data());
    return std::any_of(t->table, t->table + t->dwNumEntries,
                       [&](const auto& row) { return ours(row.dwLocalPort, row.dwOwningPid); });
  }
  const auto* t = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(table.data());
  return std::any_of(t->table, t->table + t->dwNumEntries,
                     [&](const auto& row) { return ours(row.dwLocalPort, row.dwOwningPid); });
}

TEST_F(ServerControl, PortHeldByAnotherProgramIsNamedAndNothingStarts) {
  start();
  const std::string old_script = "echo the script of an earlier start";
  folder_.write_file("run.bat", old_script);
  const std::string expected = "网页端口 " + settings_.port + " 已被 e2e_tests.exe（进程 " +
                               std::to_string(GetCurrentProcessId()) + "）占用！";
  struct Case {
    int family;
    const char* listen_on;
    const char* address;  // the server's
    bool in_the_way;
  };
  // The address given, and the any-address of its family; another family is not in the way of
  // the server's bind (where the server fails to start on ::1, the start went on all the same).
  for (const Case& c :
       {Case{AF_INET, "127.0.0.1", "127.0.0.1", true}, Case{AF_INET, "0.0.0.0", "127.0.0.1", true},
        Case{AF_INET, "0.0.0.0", "::1", false}, Case{AF_INET6, "::", "127.0.0.1", false}}) {
    SCOPED_TRACE(std::string(c.listen_on) + " against " + c.address);
    folder_.write_file("run.bat", old_script);
    set_field(编辑框_IP, c.address);
    const unique_socket held = listener_on(c.family, c.listen_on, port_);
    ASSERT_TRUE(held);
    if (c.family == AF_INET) {
      ASSERT_TRUE(table_names_us(c.family, port_));
    }
    click(按钮_启动);
    if (!c.in_the_way || !table_names_us(c.family, port_)) {
      // An owner the system does not name never stands in the way: the start goes on.
      EXPECT_TRUE(wait_until([&] { return folder_.read_file("run.bat") != old_script; }));
      EXPECT_TRUE(wait_until([&] { return child_named(program_.id, "cmd.exe") != 0; }));
      const Box box = message_box_of(program_.id, 1000);
      EXPECT_EQ(box.window, nullptr) << box.caption << ": " << box.text;
      if (box.window) close_box(box);
      // The start comes to its end before the next case (its server runs, or cannot bind and
      // ends); one still starting then is stopped, as a user can.
      if (!wait_until([&] { return shows_running() || shows_not_running(); }, 5000)) {
        click(按钮_停止);
        EXPECT_TRUE(wait_until([&] { return shows_not_running(); })) << status();
      }
      continue;
    }
    const Box box = message_box_of(program_.id);
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.caption, "错误");
    EXPECT_EQ(box.text, expected);
    EXPECT_EQ(GetWindow(box.window, GW_OWNER), program_.main);
    close_box(box);
    EXPECT_EQ(child_named(program_.id, "cmd.exe"), 0u) << "no shell starts";
    EXPECT_EQ(folder_.read_file("run.bat"), old_script);
    EXPECT_TRUE(shows_not_running());
  }
  // Once the other program lets go of the port, the start goes ahead.
  set_field(编辑框_IP, settings_.ip);
  if (!shows_running()) click(按钮_启动);
  EXPECT_TRUE(wait_until([&] { return shows_running(); })) << status();
  EXPECT_EQ(message_box_of(program_.id, 500).window, nullptr);
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
  EXPECT_GE(text.size(), logbox::kLogCap - logbox::kTrimSlack - logbox::kSliceBytes);
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

TEST_F(ServerControl, LogFileKeepsEveryRunWithItsEndAndNoPassword) {
  settings_.access_control = true;
  settings_.user = "用户";
  settings_.password = "s3cr:et";
  const std::string header = "启动：rivermesh_windows_amd64.exe -h \"127.0.0.1\" -p " +
                             settings_.port + " -a \"用户:******\" -l";
  {
    // A server that ends by itself, with a code of its own; the program then exits.
    ScopedVariable mode(standin::kModeVariable, "exit-after:3000:7");
    start();
    click(按钮_启动);
    ASSERT_TRUE(wait_until([&] { return shows_running(); }));
    ASSERT_TRUE(wait_until([&] { return shows_not_running(); }, 10000));
    post_command(program_.main, 托盘_退出);
    ASSERT_TRUE(ended(program_.id));
  }
  // The next copy of the program adds to the same file: a run stopped, then one cut by the exit.
  start();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }));
  click(按钮_停止);
  ASSERT_TRUE(wait_until([&] { return shows_not_running(); }));
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }));
  const DWORD server = running_server();
  post_command(program_.main, 托盘_退出);
  ASSERT_TRUE(ended(program_.id));
  EXPECT_TRUE(ended(server));

  const std::string file = folder_.read_file("logs\\server.log");
  EXPECT_EQ(marks_of(file), (std::vector<std::string>{header, "结束：退出码 7", header,
                                                      "结束：停止", header, "结束：程序退出"}))
      << file;
  EXPECT_EQ(file.find("s3cr"), std::string::npos) << "the password is never written";
  // What the server said is there, after its run's header, as it said it.
  const std::size_t first = file.find(header);
  const std::size_t said = file.find(kStartedPrefix + "127.0.0.1:" + settings_.port);
  EXPECT_GT(said, first);
  EXPECT_LT(said, file.find("结束：退出码 7"));
}

TEST_F(ServerControl, LogFileRotatesAndStaysUnderItsCapDuringAFlood) {
  const std::size_t bytes = 20000000;
  ScopedVariable mode(standin::kModeVariable, "flood:" + std::to_string(bytes));
  start();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }));
  ASSERT_TRUE(log_shows(standin::kFloodEnd, 120000));
  post_command(program_.main, 托盘_退出);
  ASSERT_TRUE(ended(program_.id));

  EXPECT_EQ(log_files(), (std::vector<std::string>{"server.1.log", "server.2.log", "server.3.log",
                                                   "server.log"}));
  // Oldest first: together they are the newest part of the output, each file under the cap.
  std::string kept;
  for (const char* name : {"server.3.log", "server.2.log", "server.1.log", "server.log"}) {
    const std::string part = folder_.read_file(std::string("logs\\") + name);
    EXPECT_LE(part.size(), 4u << 20) << name;
    kept += part;
  }
  EXPECT_LE(kept.size(), 16u << 20);
  EXPECT_GE(kept.size(), 12u << 20);
  const std::size_t end_line = kept.rfind("\r\n==== ");
  ASSERT_NE(end_line, std::string::npos);
  EXPECT_EQ(kept.substr(end_line + 2 + 25), "结束：程序退出\r\n");
  const std::string output = kept.substr(0, end_line + 2);
  const std::string all = standin::flood_text(bytes) + standin::kFloodEnd + "\r\n";
  ASSERT_LE(output.size(), all.size());
  EXPECT_TRUE(all.compare(all.size() - output.size(), output.size(), output) == 0);
}

TEST_F(ServerControl, RandomBytesFromTheServerNeitherBreakNorStopTheLog) {
  ScopedVariable mode(standin::kModeVariable, "random:200000:7");
  start();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }));
  ASSERT_TRUE(log_shows(standin::kRandomEnd, 30000));
  EXPECT_EQ(log().find('\0'), std::string::npos);
  EXPECT_EQ(answer_status(), 200);
  EXPECT_TRUE(sync(program_.main));
}

}  // namespace
