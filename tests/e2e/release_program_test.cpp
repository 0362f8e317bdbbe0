// The program users get, run by a suite that drives another build: where this machine runs no
// 32-bit code, the suite drives the x86-64 build, and this pass runs the 32-bit release program
// under emulation (tests/e2e/run_emulated.sh), where a 32-bit process may take a minute to start
// on a slow emulator. RMT_RELEASE_PROGRAM names the program, relative to this suite's build folder.
// Winsock 2 must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/layout.h"
#include "tests/e2e/server_fixture.h"

using namespace e2e;
using namespace layout;

namespace {

// Bounds for a machine that emulates every 32-bit process start.
constexpr DWORD kProcessStart = 240000;

class ReleaseProgram : public ServerFixture {
 protected:
  void start_release(const std::string& program) {
    folder_.write_file("config.ini", config_text(settings_));
    program_ = start_program(folder_, true, program, "", kProcessStart);
  }
  // A click as a user makes it: only on a button that is enabled.
  bool click_enabled(int id) const {
    if (!wait_until([&] { return enabled(control(id)); }, kProcessStart)) return false;
    click(id);
    return true;
  }
};

TEST_F(ReleaseProgram, ShowsWindowAndIconRunsTheServerAndLeavesNothingAtExit) {
  const char* program = std::getenv("RMT_RELEASE_PROGRAM");
  ASSERT_NE(program, nullptr) << "RMT_RELEASE_PROGRAM names no program";
  const int icons = settled_tray_icon_count();
  start_release(program);
  ASSERT_NE(program_.main, nullptr) << "no window of " << program;
  EXPECT_TRUE(wait_until([&] { return visible(program_.main); }, kProcessStart));
  EXPECT_TRUE(wait_until([&] { return tray_icon_count() == icons + 1; }, kProcessStart))
      << tray_state();

  ASSERT_TRUE(click_enabled(按钮_启动));
  // The server's own start line in the log tab, from this folder's server.
  EXPECT_TRUE(log_shows(kStartedPrefix, kProcessStart)) << log();
  ASSERT_TRUE(wait_until([] { return running_server() != 0; }, kProcessStart));
  // A start is decided by the server's answer: an emulated shell that comes up a minute late
  // still ends in the running look, and the stop is in the user's reach.
  const DWORD clicked = GetTickCount();
  ASSERT_TRUE(wait_until([&] { return shows_running(); }, kProcessStart)) << status() << log();
  std::printf("release program: the running look came %lu ms after the server's start line\n",
              static_cast<unsigned long>(GetTickCount() - clicked));
  ASSERT_TRUE(click_enabled(按钮_停止));
  EXPECT_TRUE(wait_until([] { return running_server() == 0; }, kProcessStart));
  EXPECT_TRUE(wait_until([&] { return shows_not_running(); }, kProcessStart));

  const DWORD shell = child_named(program_.id, "cmd.exe");
  post_command(program_.main, 托盘_退出);
  EXPECT_TRUE(ended(program_.id, kProcessStart));
  if (shell != 0) {
    EXPECT_TRUE(ended(shell, kProcessStart));
  }
  EXPECT_TRUE(wait_until([] { return running_server() == 0; }, kProcessStart));
  EXPECT_TRUE(wait_until([&] { return tray_icon_count() == icons; }, kProcessStart));
}

}  // namespace
