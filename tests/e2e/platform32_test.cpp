// Run in a 32-bit Wine prefix: the program refuses 32-bit Windows with its message and ends
// without a window or an icon. The x86-64 build can never meet 32-bit Windows and says so.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/harness.h"

using namespace e2e;

TEST(Platform32, RefusesWithItsMessageAndEnds) {
  if (sizeof(void*) == 8) {
    GTEST_SKIP() << "a 64-bit program never starts on 32-bit Windows: only the 32-bit build can "
                    "make this check";
  }
  TestFolder folder;
  Process program = Process::start(folder.copy_program(), "", folder.path());
  ASSERT_TRUE(program.running());
  HWND box = nullptr;
  ASSERT_TRUE(
      wait_until([&] { return (box = visible_window_of("#32770", program.id())) != nullptr; }));
  EXPECT_EQ(text_of(box), "错误");
  EXPECT_EQ(text_of(GetDlgItem(box, 0xFFFF)), "Rivermesh 的Windows客户端不支持32位系统！");
  EXPECT_EQ(tray_icon_count(), 0);
  HWND main = FindWindowA("RivermeshToolsWindow", nullptr);
  EXPECT_TRUE(main == nullptr || !IsWindowVisible(main));

  PostMessageA(box, WM_COMMAND, IDOK, 0);
  EXPECT_NE(program.wait(10000), STILL_ACTIVE);
  EXPECT_EQ(FindWindowA("RivermeshToolsWindow", nullptr), nullptr);
  EXPECT_EQ(tray_icon_count(), 0);
}
