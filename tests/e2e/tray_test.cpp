// The notification-area icon as a user meets it: there after start-up, its menu opened with
// the right button and driven with the keyboard, a left click bringing the window back, back
// again after the shell restarts, and gone after "退出".
#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include "app/layout.h"
#include "tests/support/harness.h"
#include "tray/notify_record.h"

using namespace e2e;
using namespace layout;

namespace {

constexpr UINT kTrayCallback = tray::kCallbackMessage;

void tray_event(HWND main, UINT mouse_message) {
  PostMessageA(main, kTrayCallback, 1, mouse_message);
}

// The same, returning once the program has handled it (false when that took too long, as a menu
// that opened and waits would).
bool tray_event_handled(HWND main, UINT mouse_message) {
  DWORD_PTR r = 0;
  return SendMessageTimeoutA(main, kTrayCallback, 1, mouse_message, SMTO_ABORTIFHUNG, 2000, &r) !=
         0;
}

// The popup menu window of the program's thread, if one is open.
HWND open_menu(DWORD pid) { return visible_window_of("#32768", pid); }

void press(HWND menu, UINT key) {
  PostMessageA(menu, WM_KEYDOWN, key, 0);
  PostMessageA(menu, WM_KEYUP, key, 0xC0000000);
}

}  // namespace

TEST(Tray, StartedByAnotherProgramItStaysInTheTray) {
  const int before = settled_tray_icon_count();
  TestFolder folder;
  Program program = start_program(folder, false);
  ASSERT_NE(program.main, nullptr);
  EXPECT_TRUE(wait_until([&] { return tray_icon_count() == before + 1; }));
  // Whether the window is shown is decided during start-up, which is over once the program
  // answers.
  EXPECT_TRUE(sync(program.main));
  EXPECT_FALSE(IsWindowVisible(program.main)) << "only the desktop shell gets the window shown";

  tray_event(program.main, WM_LBUTTONUP);
  EXPECT_TRUE(wait_until([&] { return IsWindowVisible(program.main) != FALSE; }));
}

TEST(Tray, IconGoesWithExit) {
  const int before = settled_tray_icon_count();
  TestFolder folder;
  Program program = start_program(folder, true);
  ASSERT_NE(program.main, nullptr);
  ASSERT_TRUE(wait_until([&] { return tray_icon_count() == before + 1; }));
  post_command(program.main, 托盘_退出);
  EXPECT_TRUE(ended(program.id, 10000));
  EXPECT_TRUE(wait_until([&] { return tray_icon_count() == before; }));
}

TEST(Tray, RightClickMenuDrivenByKeyboard) {
  TestFolder folder;
  Program program = start_program(folder, false);
  ASSERT_NE(program.main, nullptr);
  ASSERT_FALSE(IsWindowVisible(program.main));

  // "配置..." is four entries up from the bottom ("退出", "帮助", "设置", then past the separator).
  EXPECT_TRUE(tray_event_handled(program.main, WM_RBUTTONDOWN));
  EXPECT_EQ(open_menu(program.id), nullptr) << "pressing the button opens nothing";
  tray_event(program.main, WM_RBUTTONUP);
  HWND menu = nullptr;
  ASSERT_TRUE(wait_until([&] { return (menu = open_menu(program.id)) != nullptr; }));
  for (int i = 0; i < 4; ++i) press(menu, VK_UP);
  press(menu, VK_RETURN);
  EXPECT_TRUE(wait_until([&] { return IsWindowVisible(program.main) != FALSE; }));
  EXPECT_TRUE(wait_until([&] { return open_menu(program.id) == nullptr; }));

  // "退出" is the last entry.
  tray_event(program.main, WM_RBUTTONUP);
  ASSERT_TRUE(wait_until([&] { return (menu = open_menu(program.id)) != nullptr; }));
  press(menu, VK_UP);
  press(menu, VK_RETURN);
  EXPECT_TRUE(ended(program.id, 10000));
}

TEST(Tray, DoubleClickShowsAndEscapeClosesTheMenu) {
  TestFolder folder;
  Program program = start_program(folder, false);
  ASSERT_NE(program.main, nullptr);
  tray_event(program.main, WM_RBUTTONUP);
  HWND menu = nullptr;
  ASSERT_TRUE(wait_until([&] { return (menu = open_menu(program.id)) != nullptr; }));
  press(menu, VK_ESCAPE);
  EXPECT_TRUE(wait_until([&] { return open_menu(program.id) == nullptr; }));
  EXPECT_FALSE(IsWindowVisible(program.main));

  tray_event(program.main, WM_LBUTTONDBLCLK);
  EXPECT_TRUE(wait_until([&] { return IsWindowVisible(program.main) != FALSE; }));
}

TEST(Tray, IconComesBackWhenTheShellRestarts) {
  const int before = settled_tray_icon_count();
  TestFolder folder;
  Program program = start_program(folder, false);
  ASSERT_NE(program.main, nullptr);
  ASSERT_TRUE(wait_until([&] { return tray_icon_count() == before + 1; }))
      << "before " << before << "; " << tray_state();

  // A restarted shell has forgotten every icon.
  NOTIFYICONDATAA gone{};
  gone.cbSize = NOTIFYICONDATAA_V2_SIZE;
  gone.hWnd = program.main;
  gone.uID = 1;
  ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &gone));
  ASSERT_TRUE(wait_until([&] { return tray_icon_count() == before; }));

  SendMessageA(program.main, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
  EXPECT_TRUE(wait_until([&] { return tray_icon_count() == before + 1; }));
}

TEST(Tray, LogOffIsAllowedAndTearsDown) {
  const int before = settled_tray_icon_count();
  TestFolder folder;
  Program program = start_program(folder, true);
  ASSERT_NE(program.main, nullptr);
  ASSERT_TRUE(wait_until([&] { return tray_icon_count() == before + 1; }));

  DWORD_PTR answer = 0;
  ASSERT_TRUE(
      SendMessageTimeoutA(program.main, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer));
  EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE)) << "the program must not block logging off";
  SendMessageTimeoutA(program.main, WM_ENDSESSION, TRUE, 0, SMTO_ABORTIFHUNG, 5000, &answer);
  EXPECT_TRUE(wait_until([&] { return tray_icon_count() == before; }));
  // The window is torn down once only: a later exit still ends the program quietly.
  post_command(program.main, 托盘_退出);
  EXPECT_TRUE(ended(program.id, 10000));
}
