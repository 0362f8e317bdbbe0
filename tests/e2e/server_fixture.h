// What the tests of starting and stopping the server share: a program folder with the stand-in
// and a config.ini, the program's controls and looks, message boxes, and the processes that a
// start leaves behind.
#pragma once

// Winsock 2 must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/layout.h"
#include "server/process_win.h"
#include "tests/support/harness.h"
#include "tests/support/net.h"

namespace e2e {

inline constexpr char kServerExe[] = "rivermesh_windows_amd64.exe";
// "服务已启动：http://" and "替身" in GBK, spelled out so that the checks do not rest on the
// compiler's conversion of literals.
inline const std::string kStartedPrefix = "\xB7\xFE\xCE\xF1\xD2\xD1\xC6\xF4\xB6\xAF\xA3\xBAhttp://";
inline const std::string kStandIn = "\xCC\xE6\xC9\xED";

struct Settings {
  std::string file;
  std::string port;
  std::string ip = "127.0.0.1";
  bool access_control = false;
  std::string user;
  std::string password;
};

std::string config_text(const Settings& s);

DWORD parent_of(DWORD pid);
std::string name_of(DWORD pid);
// The first process with the server's name, else 0.
DWORD running_server();
// The header and end lines of the server's log file, without their time stamps.
std::vector<std::string> marks_of(const std::string& file);
// The first process with that name whose parent is parent, else 0.
DWORD child_named(DWORD parent, const std::string& name);

// A user's click on a button of the program's window.
inline void click_in(HWND main, int id) { PostMessageA(find_control(main, id), BM_CLICK, 0, 0); }

// A message box of the program: its caption and everything its static controls say.
struct Box {
  HWND window = nullptr;
  std::string caption;
  std::string text;
};
Box message_box_of(DWORD pid, DWORD timeout_ms = 5000);
void close_box(const Box& box);

class ServerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(running_server(), 0u) << "a server is still running from an earlier test";
    folder_.copy_standin();
    port_ = free_port();
    settings_.file = folder_.file(kServerExe);
    settings_.port = std::to_string(port_);
  }

  void TearDown() override {
    const DWORD pid = program_.id;
    program_.process.kill();
    // Nothing the test started may outlive it: not the program, its shell or the server.
    EXPECT_TRUE(ended(pid));
    EXPECT_TRUE(wait_until([] { return running_server() == 0; }, 5000));
    if (const DWORD left = running_server()) kill_tree(left);
  }

  void start(bool from_shell = true) {
    folder_.write_file("config.ini", config_text(settings_));
    program_ = start_program(folder_, from_shell);
    ASSERT_NE(program_.main, nullptr);
  }

  HWND control(int id) const { return find_control(program_.main, id); }
  void click(int id) const { click_in(program_.main, id); }
  void set_field(int id, const std::string& text) const {
    SendMessageA(control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  std::string log() const { return text_of(control(layout::编辑框_日志)); }
  std::string status() const { return status_text(control(layout::状态条1), 0); }

  bool shows_running() const {
    return !enabled(control(layout::按钮_启动)) && enabled(control(layout::按钮_停止)) &&
           status() == "   状态：正在运行";
  }
  bool shows_not_running() const {
    return enabled(control(layout::按钮_启动)) && !enabled(control(layout::按钮_停止)) &&
           status() == "   状态：未运行";
  }
  // A start waits for its server: 停止 ends what runs.
  bool shows_starting() const {
    return !enabled(control(layout::按钮_启动)) && enabled(control(layout::按钮_停止)) &&
           status() == "   状态：正在启动";
  }
  // An automatic restart waits: not running, and 停止 cancels the restart.
  bool shows_restart_waiting() const {
    return enabled(control(layout::按钮_启动)) && enabled(control(layout::按钮_停止)) &&
           status() == "   状态：未运行";
  }
  // How many runs the server's log file has ended.
  std::size_t ends_logged() const {
    std::size_t ends = 0;
    for (const std::string& mark : marks_of(folder_.read_file("logs\\server.log"))) {
      if (mark.rfind("结束：", 0) == 0) ++ends;
    }
    return ends;
  }
  // The files in the program folder's logs folder, sorted.
  std::vector<std::string> log_files() const {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(folder_.file("logs\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileA(find, &found));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
  }
  // The shells the program started that still run.
  std::size_t shells_left() const {
    std::size_t shells = 0;
    for (const proc::ProcessRecord& r : proc::process_list()) {
      if (r.parent_id == program_.id && r.name == "cmd.exe") ++shells;
    }
    return shells;
  }
  // The status of the server's first answer. A server shown running may not listen yet: its
  // process is there, but on a loaded machine it can still be starting up, so the answer is
  // awaited (0 when none came within the bound).
  int answer_status(const std::string& path = "/", DWORD timeout_ms = 10000) const {
    int status = 0;
    wait_until([&] { return (status = http_status(port_, path)) != 0; }, timeout_ms);
    return status;
  }
  bool log_shows(const std::string& part, DWORD timeout_ms = 10000) const {
    return wait_until([&] { return log().find(part) != std::string::npos; }, timeout_ms);
  }

  // The server, its parent shell and the shell's parent, once the running look is shown.
  void expect_server_under_shell() const {
    const DWORD server = running_server();
    ASSERT_NE(server, 0u);
    const DWORD shell = parent_of(server);
    EXPECT_EQ(name_of(shell), "cmd.exe");
    EXPECT_EQ(parent_of(shell), program_.id);
  }

  Winsock winsock_;
  TestFolder folder_;
  unsigned short port_ = 0;
  Settings settings_;
  Program program_;
};

}  // namespace e2e
