// When things go wrong around the program: the server or its shell killed from outside, the
// server ending by itself, the program itself killed, a second copy, a port taken, files locked
// by another program, and hostile settings. Each test checks what the program shows afterwards.
// Winsock 2 must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/instance.h"
#include "app/layout.h"
#include "app/messages.h"
#include "platform/gbk.h"
#include "platform/handles_win.h"
#include "platform/program_win.h"
#include "server/process_win.h"
#include "tests/e2e/server_fixture.h"
#include "tools/standin/standin_rules.h"
#include "tray/notify_record.h"

using namespace e2e;
using namespace layout;

namespace {

using Faults = ServerFixture;

void terminate(DWORD pid) {
  if (HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
    TerminateProcess(h, 1);
    WaitForSingleObject(h, 5000);
    CloseHandle(h);
  }
}

int count_named(const char* name) {
  int n = 0;
  for (const proc::ProcessRecord& r : proc::process_list()) {
    if (proc::name_matches(r.name, name, false)) ++n;
  }
  return n;
}

// Another program holding a file open without sharing it.
win::unique_file lock_file(const std::string& path) {
  return win::unique_file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

TEST_F(Faults, ServerKilledFromOutsideIsShownWithinASecondAndStartsAgain) {
  start();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }));
  const DWORD shell = parent_of(running_server());
  terminate(running_server());
  EXPECT_TRUE(wait_until([&] { return shows_not_running(); }, 1000)) << status();
  EXPECT_EQ(message_box_of(program_.id, 300).window, nullptr);

  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }));
  EXPECT_EQ(answer_status(), 200);
  // The new launch released the earlier shell.
  EXPECT_TRUE(ended(shell));
}

TEST_F(Faults, ServerEndingRightAfterTheCheckIsShownEnded) {
  // 2 s: a loaded machine can take a second to start the server and look for it.
  ScopedVariable mode(standin::kModeVariable, "exit:2000");
  start();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }, 4000)) << status();
  EXPECT_TRUE(wait_until([&] { return shows_not_running(); }, 5000)) << status();
  EXPECT_EQ(running_server(), 0u);
  EXPECT_FALSE(wait_until([] { return running_server() != 0; }, 2500))
      << "a server that ran less than 5 s is not started again";
}

// A server that ran a while and ends by itself is started again after 1 s, then 5 s; a start by
// hand during a wait takes the restart's place, and exactly one server runs.
TEST_F(Faults, ServerThatRanAWhileIsStartedAgain) {
  ScopedVariable mode(standin::kModeVariable, "exit-after:6000:3");
  start();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }, 3000));
  const DWORD first = running_server();
  ASSERT_TRUE(wait_until([&] { return running_server() == 0; }, 9000));
  const DWORD ended_at = GetTickCount();
  EXPECT_TRUE(wait_until([&] { return shows_restart_waiting(); }, 1000)) << status();
  ASSERT_TRUE(wait_until([&] { return shows_running(); }, 4000)) << status() << log();
  EXPECT_GE(GetTickCount() - ended_at, 1000u) << "the first restart waits 1 s";
  EXPECT_NE(running_server(), first);
  EXPECT_EQ(http_status(port_), 200);
  // The log tab kept the first run's output, with the restart's mark after it.
  const std::string shown = log();
  const std::size_t mark = shown.find("---- 自动重启 ----");
  ASSERT_NE(mark, std::string::npos) << shown;
  EXPECT_LT(shown.find(kStartedPrefix), mark) << shown;
  EXPECT_NE(shown.find(kStartedPrefix, mark), std::string::npos) << shown;

  // The second end: its restart would wait 5 s; the user starts the server before that.
  ASSERT_TRUE(wait_until([&] { return running_server() == 0; }, 9000));
  ASSERT_TRUE(wait_until([&] { return shows_restart_waiting(); }, 1000)) << status();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }, 4000)) << status();
  // Past the moment the restart was due, never two servers. The one started by hand ends by
  // itself too (after 6 s; on a loaded machine within this wait), and may then be restarted.
  EXPECT_FALSE(wait_until([] { return count_named(kServerExe) > 1; }, 7000));

  // The log file holds each run under its own header, each end that led to a restart with the
  // server's code.
  post_command(program_.main, 托盘_退出);
  ASSERT_TRUE(ended(program_.id));
  const std::string header =
      "启动：rivermesh_windows_amd64.exe -h \"127.0.0.1\" -p " + settings_.port;
  const std::string file = folder_.read_file("logs\\server.log");
  const std::vector<std::string> marks = marks_of(file);
  // The run started by hand may end on its own before the exit, and its restart come too.
  ASSERT_GE(marks.size(), 5u) << file;
  for (std::size_t i = 0; i < marks.size(); i += 2) {
    EXPECT_EQ(marks[i].rfind(header, 0), 0u) << i << "\n" << file;
  }
  EXPECT_EQ(marks[1], "结束：退出码 3");
  EXPECT_EQ(marks[3], "结束：退出码 3");
  EXPECT_TRUE(marks.back() == "结束：程序退出" || marks.back() == "结束：退出码 3") << file;
}

// 停止 is enabled while a restart waits, and cancels it: clicked as a user can click it.
TEST_F(Faults, StopCancelsAWaitingRestart) {
  ScopedVariable mode(standin::kModeVariable, "exit-after:5500:3");
  start();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }, 3000));
  ASSERT_TRUE(wait_until([&] { return running_server() == 0; }, 9000));
  ASSERT_TRUE(wait_until([&] { return shows_restart_waiting(); }, 1000)) << status();
  click(按钮_停止);
  EXPECT_TRUE(wait_until([&] { return shows_not_running(); }, 1000)) << status();
  EXPECT_FALSE(wait_until([] { return running_server() != 0; }, 2500))
      << "the restart came although the stop cancelled it";
}

TEST_F(Faults, AutomaticRestartCanBeSwitchedOff) {
  ScopedVariable mode(standin::kModeVariable, "exit-after:5500:0");
  start();
  // Read at each end: a change while the program runs counts.
  WritePrivateProfileStringA("BasisConfig", "Auto restart", "false",
                             folder_.file("config.ini").c_str());
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }, 3000));
  ASSERT_TRUE(wait_until([&] { return running_server() == 0; }, 9000));
  EXPECT_TRUE(wait_until([&] { return shows_not_running(); }, 1000)) << status();
  EXPECT_FALSE(wait_until([] { return running_server() != 0; }, 2500));
  EXPECT_TRUE(log_shows("---- 未自动重启：config.ini 中 Auto restart=false ----", 1000)) << log();
}

// config.ini held without sharing as the server ends by itself (a backup tool's moment): the key
// cannot be read, and an unreadable file starts nothing, as everywhere else. A mend: the file was
// taken for one without the key, and so the restart for on.
TEST_F(Faults, SettingsFileHeldAsTheServerEndsStartsNothingAndSaysWhy) {
  ScopedVariable mode(standin::kModeVariable, "exit-after:6000:0");
  start();
  WritePrivateProfileStringA("BasisConfig", "Auto restart", "false",
                             folder_.file("config.ini").c_str());
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }, 3000)) << status();
  win::unique_file held = lock_file(folder_.file("config.ini"));
  ASSERT_TRUE(held);
  ASSERT_TRUE(wait_until([&] { return running_server() == 0; }, 9000));
  // A restart would come within 1 s and the time a start takes.
  EXPECT_FALSE(wait_until([] { return running_server() != 0; }, 6000));
  EXPECT_TRUE(shows_not_running()) << status();
  EXPECT_TRUE(log_shows("\r\n---- 未自动重启：无法读取 config.ini ----\r\n", 1000)) << log();
  held.reset();
  post_command(program_.main, 托盘_退出);
  ASSERT_TRUE(ended(program_.id));
  const std::string file = folder_.read_file("logs\\server.log");
  const std::vector<std::string> marks = marks_of(file);
  ASSERT_EQ(marks.size(), 2u) << file;
  EXPECT_EQ(marks[1], "结束：退出码 0") << file;
}

TEST_F(Faults, StopNeverReportsTheServerAsEndedUnexpectedly) {
  start();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }));
  click(按钮_停止);
  ASSERT_TRUE(wait_until([&] { return shows_not_running(); }));
  // A start after the stop works as the first one did: the stop's end of the server left no
  // notice behind that would switch the new look off.
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }));
  sync(program_.main);
  EXPECT_TRUE(shows_running());
}

TEST_F(Faults, KilledProgramTakesItsShellAndServerAlong) {
  start();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }));
  const DWORD server = running_server();
  const DWORD shell = parent_of(server);
  terminate(program_.id);
  EXPECT_TRUE(ended(shell, 2000));
  EXPECT_TRUE(ended(server, 2000));
}

TEST_F(Faults, ShellKilledFromOutsideLeavesAServerThatStopStillEnds) {
  start();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }));
  terminate(parent_of(running_server()));
  // The server itself runs on, and so the look says.
  ASSERT_NE(running_server(), 0u);
  sync(program_.main);
  EXPECT_TRUE(shows_running());
  EXPECT_EQ(answer_status(), 200);

  click(按钮_停止);
  EXPECT_TRUE(wait_until([&] { return shows_not_running(); }));
  EXPECT_EQ(running_server(), 0u);
  EXPECT_EQ(message_box_of(program_.id, 300).window, nullptr);
}

// The test folder through other paths that lead to it, as wine_test.sh makes them in every prefix:
// a symbolic link to C:\rmt-e2e, and the drive letter R: for C:.
std::vector<std::string> other_paths_to(const std::string& path) {
  const std::string root = "C:\\rmt-e2e\\";
  EXPECT_EQ(path.rfind(root, 0), 0u) << path;
  const std::vector<std::string> paths = {"C:\\rmt-e2e-link\\" + path.substr(root.size()),
                                          "R:" + path.substr(2)};
  // The one-copy rule names a folder by its volume's serial and its file index: through every
  // path they must be the same, or a failure below is the file system's, not the program's.
  const auto own = program::identity(path + "\\");
  EXPECT_TRUE(own.has_value()) << path;
  for (const std::string& p : paths) {
    EXPECT_NE(GetFileAttributesA(p.c_str()), INVALID_FILE_ATTRIBUTES) << p << " is not there";
    const auto other = program::identity(p + "\\");
    EXPECT_TRUE(other.has_value()) << p << ": no identity, error " << GetLastError();
    if (own && other) {
      EXPECT_EQ(other->volume, own->volume) << p;
      EXPECT_EQ(other->low, own->low) << p;
      EXPECT_EQ(other->high, own->high) << p;
    }
  }
  return paths;
}

TEST_F(Faults, SecondCopyFromTheDesktopShellShowsTheFirstOne) {
  start();
  const int icons = settled_tray_icon_count();
  // Through the folder's own path, and through a link and a drive letter that lead to it: one
  // folder, one config.ini, one server, one copy.
  std::vector<std::string> folders = other_paths_to(folder_.path());
  folders.insert(folders.begin(), folder_.path());
  for (const std::string& folder : folders) {
    SCOPED_TRACE(folder);
    PostMessageA(program_.main, WM_CLOSE, 0, 0);
    ASSERT_TRUE(wait_until([&] { return !visible(program_.main); }));
    Process second = Process::start(folder_.file("explorer.exe"),
                                    quoted(folder + "\\RivermeshTools.exe"), folder);
    EXPECT_EQ(second.wait(5000), 0u) << "the second copy ends at once";
    EXPECT_TRUE(wait_until([&] { return visible(program_.main); }));
    EXPECT_EQ(settled_tray_icon_count(), icons);
    EXPECT_EQ(count_named("RivermeshTools.exe"), 1);
  }
}

// Which names of the one-copy rule a running copy started as `exe` holds: "identity" (its
// folder's volume serial and file index) and "path" (its folder's path, the name used when the
// identity cannot be read at start).
std::string names_held(const std::string& exe) {
  std::string held;
  const auto holds = [](const std::string& key) {
    return static_cast<bool>(win::unique_handle(
        OpenMutexA(SYNCHRONIZE, FALSE, instance::session_mutex_name(key).c_str())));
  };
  const std::string listed = program::listed_path(exe);
  if (const auto id = program::identity(gbk::folder_part(listed))) {
    if (holds(instance::key(*id))) held += "identity";
  } else {
    held += "(no identity here)";
  }
  if (holds(instance::key(listed))) held += held.empty() ? "path" : " path";
  return held.empty() ? "none" : held;
}

TEST_F(Faults, SecondCopyStartedOtherwiseEndsSilently) {
  start(false);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }));
  EXPECT_EQ(names_held(folder_.file("RivermeshTools.exe")), "identity");
  // Started through its long path, and through the short 8.3 form of the same path.
  char short_path[MAX_PATH] = {};
  ASSERT_NE(GetShortPathNameA(folder_.file("RivermeshTools.exe").c_str(), short_path, MAX_PATH),
            0u);
  ASSERT_NE(std::string(short_path), folder_.file("RivermeshTools.exe"));
  // A renamed copy beside it shares its config.ini, run.bat and server: it is the same program.
  const std::string renamed = folder_.copy_in("RivermeshTools.exe", "RivermeshTools2.exe");
  std::vector<std::string> exes = {folder_.file("RivermeshTools.exe"), short_path, renamed};
  for (const std::string& folder : other_paths_to(folder_.path())) {
    exes.push_back(folder + "\\RivermeshTools.exe");
  }
  for (const std::string& exe : exes) {
    SCOPED_TRACE(exe);
    Process second = Process::start(exe, "", folder_.path());
    EXPECT_EQ(second.wait(5000), 0u) << "names held through this path: " << names_held(exe);
    EXPECT_EQ(count_named(kServerExe), 1);
    EXPECT_EQ(count_named("RivermeshTools.exe"), 1);
    EXPECT_FALSE(visible(program_.main));
    EXPECT_EQ(visible_window_of("#32770", second.id()), nullptr);
  }
}

// Another user's copy of the folder holds the machine's mutex, not this session's: the test holds
// it as that copy would, under the name the folder gives.
TEST_F(Faults, ACopyOfAnotherSessionIsNamedOnADoubleClickAndLeftAloneOtherwise) {
  folder_.write_file("config.ini", config_text(settings_));
  const std::string exe = folder_.copy_program();
  const std::string shell = folder_.copy_in("launcher.exe", "explorer.exe");
  const auto folder = program::identity(folder_.path() + "\\");
  ASSERT_TRUE(folder.has_value());
  const std::string key = instance::key(*folder);
  const win::unique_handle other_session(
      CreateMutexA(nullptr, FALSE, instance::machine_mutex_name(key).c_str()));
  ASSERT_TRUE(other_session);
  const int icons = settled_tray_icon_count();

  // A double click: the box says why nothing else comes.
  Process clicked = Process::start(shell, quoted(exe), folder_.path());
  ASSERT_TRUE(wait_until([&] { return child_named(clicked.id(), "RivermeshTools.exe") != 0; }));
  const DWORD second = child_named(clicked.id(), "RivermeshTools.exe");
  const Box box = message_box_of(second);
  ASSERT_NE(box.window, nullptr);
  EXPECT_EQ(box.caption, "错误");
  EXPECT_EQ(box.text, instance::kOtherUser);
  EXPECT_EQ(find_main_window(second, 0), nullptr);
  close_box(box);
  EXPECT_TRUE(ended(second));

  // The login's start and a start by a program end quietly.
  for (const char* arguments : {"-autostart", ""}) {
    SCOPED_TRACE(arguments);
    Process started = Process::start(exe, arguments, folder_.path());
    EXPECT_EQ(started.wait(5000), 0u);
    EXPECT_EQ(visible_window_of("#32770", started.id()), nullptr);
  }
  EXPECT_EQ(count_named("RivermeshTools.exe"), 0);
  EXPECT_EQ(running_server(), 0u);
  EXPECT_EQ(settled_tray_icon_count(), icons);
}

TEST_F(Faults, CopiesInOtherFoldersRunSideBySide) {
  start();
  const int icons = settled_tray_icon_count();
  // Copy B, in a folder of its own with its own server and port.
  const std::string other = folder_.file("other");
  CreateDirectoryA(other.c_str(), nullptr);
  for (const char* name : {"RivermeshTools.exe", "explorer.exe", kServerExe}) {
    CopyFileA(folder_.file(name).c_str(), (other + "\\" + name).c_str(), FALSE);
  }
  Settings b_settings = settings_;
  b_settings.file = other + "\\" + kServerExe;
  const unsigned short b_port = free_port();
  b_settings.port = std::to_string(b_port);
  folder_.write_file("other\\config.ini", config_text(b_settings));
  Process shell =
      Process::start(other + "\\explorer.exe", quoted(other + "\\RivermeshTools.exe"), other);
  ASSERT_TRUE(wait_until([&] { return child_named(shell.id(), "RivermeshTools.exe") != 0; }));
  const DWORD second = child_named(shell.id(), "RivermeshTools.exe");
  const HWND b_main = find_main_window(second);
  ASSERT_NE(b_main, nullptr);
  EXPECT_TRUE(wait_until([&] { return tray_icon_count() == icons + 1; }))
      << "before " << icons << "; " << tray_state();
  EXPECT_TRUE(IsWindow(program_.main));

  // Both start their servers; B's server and shell are what A must leave alone from here on.
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }));
  click_in(b_main, 按钮_启动);
  ASSERT_TRUE(wait_until(
      [&] { return status_text(find_control(b_main, 状态条1), 0) == "   状态：正在运行"; }));
  const DWORD b_shell = child_named(second, "cmd.exe");
  const DWORD b_server = child_named(b_shell, kServerExe);
  ASSERT_NE(b_server, 0u);
  const auto b_untouched = [&] {
    return !ended(b_server, 0) && !ended(b_shell, 0) && http_status(b_port) == 200 &&
           !enabled(find_control(b_main, 按钮_启动));
  };

  const DWORD a_server = child_named(child_named(program_.id, "cmd.exe"), kServerExe);
  click(按钮_停止);
  ASSERT_TRUE(wait_until([&] { return shows_not_running(); }));
  EXPECT_TRUE(ended(a_server));
  EXPECT_TRUE(b_untouched()) << "a stop in A";

  // A start in A on the port B's server holds is A's failure: B's server does not pass for A's.
  set_field(编辑框_网页端口, b_settings.port);
  click(按钮_启动);
  const std::string taken = "\xD2\xD1\xB1\xBB\xD5\xBC\xD3\xC3";  // "已被占用" in GBK
  Box box;
  ASSERT_TRUE(wait_until(
      [&] {
        box = message_box_of(program_.id, 0);
        return box.window != nullptr || log_shows(taken, 0);
      },
      10000))
      << log();
  if (box.window != nullptr) {
    // Where the system names a listener's owner (Windows): B's server is named like any program
    // (it would answer A's knocks for a server of A's that failed on the port), and nothing starts.
    EXPECT_EQ(box.text, "网页端口 " + b_settings.port + " 已被 " + kServerExe + "（进程 " +
                            std::to_string(b_server) + "）占用！");
    close_box(box);
    EXPECT_EQ(child_named(program_.id, "cmd.exe"), 0u);
  }
  // Where it does not (Wine 8 gives no owners), A's server gives up on the port, and whatever look
  // an answer of B's gave A for a moment, A ends not running.
  const auto a_server_gone = [&] {
    const DWORD a_shell = child_named(program_.id, "cmd.exe");
    return a_shell == 0 || child_named(a_shell, kServerExe) == 0;
  };
  EXPECT_TRUE(wait_until([&] { return shows_not_running() && a_server_gone(); }, 10000))
      << status() << log();
  EXPECT_TRUE(b_untouched()) << "a start in A";

  post_command(program_.main, 托盘_退出);
  EXPECT_TRUE(ended(program_.id));
  EXPECT_TRUE(b_untouched()) << "an exit of A";
  EXPECT_TRUE(IsWindow(b_main));

  post_command(b_main, 托盘_退出);
  EXPECT_TRUE(ended(second));
  EXPECT_TRUE(ended(b_server));
}

TEST_F(Faults, PortTakenByAnotherProgramGivesTheFailureAndTheServersReason) {
  // Another program listens on the port already.
  SOCKET taken = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port_);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(taken, 1), 0);

  start();
  click(按钮_启动);
  // "已被占用" (taken) in GBK: the stand-in's own words in the log.
  EXPECT_TRUE(log_shows("\xD2\xD1\xB1\xBB\xD5\xBC\xD3\xC3")) << log();
  // The server ended: not running, and the log file has the server's exit code. (Where the
  // system names the port's owner, the other program's answer did not count and the start
  // failed; where it does not, the server was taken for started and its end is noticed.)
  EXPECT_TRUE(wait_until([&] { return ends_logged() == 1; }, 10000)) << log();
  EXPECT_TRUE(wait_until([&] { return shows_not_running(); }, 5000)) << status();
  EXPECT_EQ(running_server(), 0u);
  post_command(program_.main, 托盘_退出);
  EXPECT_TRUE(ended(program_.id));
  const std::string file = folder_.read_file("logs\\server.log");
  const std::vector<std::string> marks = marks_of(file);
  ASSERT_EQ(marks.size(), 2u) << file;
  EXPECT_EQ(marks[1], "结束：退出码 3") << file;
  closesocket(taken);
}

TEST_F(Faults, LockedLaunchScriptIsReportedAndLeftAsItWas) {
  folder_.write_file("run.bat", "old script");
  start();
  {
    const win::unique_file held = lock_file(folder_.file("run.bat"));
    ASSERT_TRUE(held);
    click(按钮_启动);
    const Box box = message_box_of(program_.id);
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.caption, "错误");
    EXPECT_EQ(box.text, "写入启动脚本失败！");
    close_box(box);
  }
  EXPECT_EQ(folder_.read_file("run.bat"), "old script");
  EXPECT_EQ(child_named(program_.id, "cmd.exe"), 0u);
  EXPECT_TRUE(shows_not_running());
  // Open in a viewer that lets others write, as readers do: no lock, the start goes on.
  {
    const win::unique_file viewer(CreateFileA(folder_.file("run.bat").c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(viewer);
    click(按钮_启动);
    EXPECT_TRUE(wait_until([&] { return shows_running(); })) << status();
    EXPECT_EQ(message_box_of(program_.id, 300).window, nullptr);
  }
  EXPECT_NE(folder_.read_file("run.bat"), "old script");
  click(按钮_停止);
  EXPECT_TRUE(wait_until([&] { return shows_not_running(); })) << status();
}

TEST_F(Faults, LockedLogFileChangesNothingButSaysSoOnceInTheLog) {
  CreateDirectoryA(folder_.file("logs").c_str(), nullptr);
  const win::unique_file held = lock_file(folder_.file("logs\\server.log"));
  ASSERT_TRUE(held);
  start();
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }));
  EXPECT_EQ(answer_status("/still-served"), 200);
  // The notice comes with the first flush, a second after the start at the latest.
  const std::string notice = "服务器日志无法写入 logs\\server.log";
  ASSERT_TRUE(log_shows(notice, 10000)) << log();
  EXPECT_TRUE(log_shows("GET /still-served 200")) << log();
  EXPECT_EQ(http_status(port_, "/and-again"), 200);
  EXPECT_TRUE(log_shows("GET /and-again 200")) << log();
  const std::string text = log();
  EXPECT_EQ(text.find(notice), text.rfind(notice)) << "said once";
  EXPECT_EQ(message_box_of(program_.id, 300).window, nullptr);
  EXPECT_TRUE(shows_running());
  EXPECT_TRUE(sync(program_.main));
  click(按钮_停止);
  EXPECT_TRUE(wait_until([&] { return shows_not_running(); }));
  EXPECT_EQ(message_box_of(program_.id, 300).window, nullptr);
}

// A log viewer holds a log file open as viewers do: sharing reading and writing, not deletion. A
// full server.log then cannot move up, whether the viewer shows server.log or an older file; the
// older files must stay as they were and each run's output still be kept, and once the viewer lets
// go the next start moves everything up.
TEST_F(Faults, LogFileHeldByAViewerKeepsTheOlderFilesAndTheNewOutput) {
  CreateDirectoryA(folder_.file("logs").c_str(), nullptr);
  const std::string full = std::string((4u << 20) - 2, 'o') + "\r\n";
  folder_.write_file("logs\\server.log", full);
  folder_.write_file("logs\\server.1.log", "one\r\n");
  folder_.write_file("logs\\server.2.log", "two\r\n");
  folder_.write_file("logs\\server.3.log", "three\r\n");
  const std::string header =
      "启动：rivermesh_windows_amd64.exe -h \"127.0.0.1\" -p " + settings_.port + " -l";
  start();
  std::string held;
  {
    win::unique_file viewer;
    std::vector<std::string> runs;
    for (int run = 0; run < 3; ++run) {
      SCOPED_TRACE(run);
      const char* shown = run < 2 ? "logs\\server.log" : "logs\\server.1.log";
      viewer = win::unique_file(CreateFileA(folder_.file(shown).c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      ASSERT_TRUE(viewer) << shown;
      click(按钮_启动);
      ASSERT_TRUE(wait_until([&] { return shows_running(); }));
      const std::string path = "/run-" + std::to_string(run);
      EXPECT_EQ(answer_status(path), 200);
      ASSERT_TRUE(log_shows("GET " + path + " 200")) << log();
      click(按钮_停止);
      ASSERT_TRUE(wait_until([&] { return shows_not_running(); }));
      runs.insert(runs.end(), {header, "结束：停止"});
      const bool kept =
          wait_until([&] { return marks_of(folder_.read_file("logs\\server.log")) == runs; }, 5000);
      EXPECT_EQ(folder_.read_file("logs\\server.1.log"), "one\r\n");
      EXPECT_EQ(folder_.read_file("logs\\server.2.log"), "two\r\n");
      EXPECT_EQ(folder_.read_file("logs\\server.3.log"), "three\r\n");
      ASSERT_TRUE(kept) << "the run is in server.log";
    }
    held = folder_.read_file("logs\\server.log");
    EXPECT_EQ(held.compare(0, full.size(), full), 0) << "the earlier output stays first";
    for (const char* path : {"/run-0", "/run-1", "/run-2"}) {
      EXPECT_NE(held.find(std::string("GET ") + path + " 200"), std::string::npos) << path;
    }
    EXPECT_EQ(log().find("服务器日志无法写入"), std::string::npos) << log();
  }
  // The viewer is closed: the next run's header moves every file up, the oldest goes.
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); }));
  post_command(program_.main, 托盘_退出);
  ASSERT_TRUE(ended(program_.id));
  const std::string moved = folder_.read_file("logs\\server.1.log");
  EXPECT_TRUE(moved == held) << moved.size() << " bytes, not " << held.size();
  EXPECT_EQ(folder_.read_file("logs\\server.2.log"), "one\r\n");
  EXPECT_EQ(folder_.read_file("logs\\server.3.log"), "two\r\n");
  EXPECT_EQ(marks_of(folder_.read_file("logs\\server.log")),
            (std::vector<std::string>{header, "结束：程序退出"}));
  EXPECT_EQ(log_files(), (std::vector<std::string>{"server.1.log", "server.2.log", "server.3.log",
                                                   "server.log"}));
}

TEST_F(Faults, LockedSettingsFileFailuresAreReportedOncePerAction) {
  start();
  const std::string ini = folder_.file("config.ini");
  const std::string before = folder_.read_file("config.ini");
  {
    const win::unique_file held = lock_file(ini);
    ASSERT_TRUE(held);
    // A save of seven keys, a field left and a checkbox clicked: one message each.
    const auto once = [&](const char* what, const std::function<void()>& action) {
      SCOPED_TRACE(what);
      action();
      const Box box = message_box_of(program_.id);
      ASSERT_NE(box.window, nullptr);
      EXPECT_EQ(box.caption, "错误");
      EXPECT_EQ(box.text, "保存配置失败！");
      close_box(box);
      EXPECT_EQ(message_box_of(program_.id, 500).window, nullptr);
    };
    once("save", [&] { click(按钮_保存); });
    // Posted, so that the test does not wait inside the focus change while the message is up.
    once("port left", [&] {
      set_field(编辑框_网页端口, "1234");
      PostMessageA(control(编辑框_网页端口), WM_KILLFOCUS, 0, 0);
    });
    once("access control", [&] { click(选择框_访问控制); });
    once("a switch of 设置", [&] { post_command(program_.main, 托盘_显示成功通知); });
    EXPECT_TRUE(sync(program_.main));
  }
  // Once released, the file still holds every key.
  const std::string after = folder_.read_file("config.ini");
  for (const auto& [section, key] :
       std::vector<std::pair<std::string, std::string>>{{"BasisConfig", "File"},
                                                        {"BasisConfig", "Web port"},
                                                        {"BasisConfig", "Run"},
                                                        {"ServerConfig", "IP"},
                                                        {"ServerConfig", "User"},
                                                        {"ServerConfig", "Password"},
                                                        {"ServerConfig", "Access control"}}) {
    EXPECT_TRUE(ini_has_key(ini, section, key)) << key << "\n" << after;
  }
  EXPECT_EQ(after, before);
}

// Any program on the desktop can post to the window: no parameter of the program's own messages
// is taken for a pointer.
TEST_F(Faults, MessagesFromAnotherProgramCrashNothing) {
  start();
  const UINT ui_task = RegisterWindowMessageA("RivermeshTools.RunOnUiThread");
  ASSERT_NE(ui_task, 0u);
  for (const UINT message :
       {ui_task, msg::kConsoleOutput, msg::kServerEnded, static_cast<UINT>(WM_NOTIFY),
        static_cast<UINT>(WM_DPICHANGED), static_cast<UINT>(WM_TIMER)}) {
    for (const WPARAM junk : {WPARAM(0x12345678), WPARAM(1), ~WPARAM(0)}) {
      PostMessageA(program_.main, message, junk, static_cast<LPARAM>(junk));
    }
  }
  // The log box takes the reader's notices itself.
  for (const UINT message : {msg::kConsoleOutput, static_cast<UINT>(WM_TIMER)}) {
    for (const WPARAM junk : {WPARAM(0x12345678), WPARAM(1), ~WPARAM(0)}) {
      PostMessageA(control(编辑框_日志), message, junk, static_cast<LPARAM>(junk));
    }
  }
  // Sent, WM_NOTIFY's pointer would still be one into the sender's memory, even when it names
  // the tab control; a WM_DPICHANGED's rectangle likewise (at a DPI the window takes). Sent
  // without waiting, or with a callback, too.
  const auto send_all_ways = [&](UINT message, WPARAM wp, LPARAM lp) {
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(program_.main, message, wp, lp, SMTO_ABORTIFHUNG, 5000, &answer);
    SendNotifyMessageA(program_.main, message, wp, lp);
    SendMessageCallbackA(program_.main, message, wp, lp, nullptr, 0);
  };
  for (const LPARAM junk : {LPARAM(1), LPARAM(0x12345678)}) {
    send_all_ways(WM_NOTIFY, 0, junk);
    send_all_ways(WM_NOTIFY, 选择夹1, junk);
    send_all_ways(WM_DPICHANGED, MAKEWPARAM(96, 96), junk);
  }
  // The tray callback with codes that are no mouse message.
  for (const LPARAM code : {LPARAM(0x12345678), LPARAM(-1), LPARAM(0x405)}) {
    PostMessageA(program_.main, tray::kCallbackMessage, 1, code);
  }
  ASSERT_TRUE(sync(program_.main));
  EXPECT_FALSE(ended(program_.id, 100));
  // And it still works as before.
  click(按钮_启动);
  EXPECT_TRUE(wait_until([&] { return shows_running(); })) << status();
}

// Settings files a user or another program may leave: none may crash the program, run a command
// or lose a key once the settings are saved.
TEST_F(Faults, HostileSettingsFiles) {
  const std::string marker = folder_.file("pwned.txt");
  const std::string inject = "\" & echo x > \"" + marker + "\" & \"";
  const std::string big(10 * 1024, 'x');
  const std::string long_path = "C:\\" + std::string(280, 'd') + "\\" + kServerExe;
  struct Case {
    const char* what;
    std::string bytes;  // empty: config.ini is a folder
  };
  const auto ini = [&](const std::string& file, const std::string& port, const std::string& ip,
                       const std::string& user, const std::string& password) {
    return "[BasisConfig]\r\nFile=" + file + "\r\nWeb port=" + port +
           "\r\nRun=true\r\n[ServerConfig]\r\nIP=" + ip + "\r\nUser=" + user +
           "\r\nPassword=" + password + "\r\nAccess control=true\r\n";
  };
  const std::string exe = folder_.file(kServerExe);
  // A valid port, so that the checks of the fields after it are reached.
  const std::string port = std::to_string(port_);
  const Case cases[] = {
      {"every value 10 KiB", ini(big, big, big, big, big)},
      {"a port that is not GBK", ini(exe, "\x80\xFF", "127.0.0.1", "a", "b")},
      {"bytes that are not GBK", ini(exe, port, "\xFF\xFE\x81", "\x81", "\xA1\x20\xFF")},
      {"control characters", ini(exe, port, "1.2.3.4\x1f\r", "a\x7f\x02", "b\tc\x0b")},
      {"control characters after the address", ini(exe, port, "127.0.0.1", "a\x02", "b\x0b")},
      {"a command in the port",
       ini(exe, "80 & echo x > \"" + marker + "\"", "127.0.0.1", "a", "b")},
      {"commands in the values",
       ini(exe, port, "0.0.0.0" + inject, "me" + inject, "%COMSPEC%" + inject)},
      {"a command in the account", ini(exe, port, "127.0.0.1", "me" + inject, "pw")},
      {"a command in the password", ini(exe, port, "127.0.0.1", "me", "pw" + inject)},
      // The mark stands before the server section, so that a port of the test's own is read.
      {"UTF-8 with a byte order mark",
       "\xEF\xBB\xBF[ServerConfig]\r\nIP=127.0.0.1\r\nUser=\xE7\x94\xA8\r\nPassword=p\r\n"
       "Access control=true\r\n[BasisConfig]\r\nFile=" +
           exe + "\r\nWeb port=" + std::to_string(port_) + "\r\n"},
      {"a path of 280 characters", ini(long_path, std::to_string(port_), "127.0.0.1", "a", "b")},
      {"config.ini is a folder", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = folder_.file("config.ini");
    DeleteFileA(path.c_str());
    RemoveDirectoryA(path.c_str());
    if (c.bytes.empty()) {
      CreateDirectoryA(path.c_str(), nullptr);
    } else {
      folder_.write_file("config.ini", c.bytes);
    }
    Program program = start_program(folder_, true);
    ASSERT_NE(program.main, nullptr);
    if (c.bytes.empty()) {
      // A folder of that name cannot be read: said at start-up, and again for a save or a start.
      for (const int id : {0, static_cast<int>(按钮_保存), static_cast<int>(按钮_启动)}) {
        if (id != 0) click_in(program.main, id);
        const Box box = message_box_of(program.id);
        ASSERT_NE(box.window, nullptr);
        EXPECT_EQ(box.text, "无法读取配置文件 config.ini，请检查后重新启动。");
        close_box(box);
      }
    } else {
      click_in(program.main, 按钮_保存);
      click_in(program.main, 按钮_启动);
      // Whatever the start says (a refusal, a failed script, a failed start), it says it once.
      if (const Box box = message_box_of(program.id, 1500); box.window) close_box(box);
    }
    EXPECT_TRUE(sync(program.main));
    if (!c.bytes.empty()) {
      for (const char* key : {"File", "Web port", "Run"}) {
        EXPECT_TRUE(ini_has_key(path, "BasisConfig", key)) << key;
      }
      for (const char* key : {"IP", "User", "Password", "Access control"}) {
        EXPECT_TRUE(ini_has_key(path, "ServerConfig", key)) << key;
      }
    }
    post_command(program.main, 托盘_退出);
    EXPECT_TRUE(ended(program.id));
    EXPECT_EQ(GetFileAttributesA(marker.c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

}  // namespace
