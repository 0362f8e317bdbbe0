// A click on a balloon: the start balloon leads to the address it names, in the user's browser;
// other balloons, and balloons gone from the screen, lead nowhere.
// Winsock 2 must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/layout.h"
#include "platform/handles_win.h"
#include "server/web_address_win.h"
#include "tests/e2e/browser.h"
#include "tests/e2e/server_fixture.h"
#include "tray/notify_record.h"

using namespace e2e;
using namespace layout;

namespace {

constexpr UINT kTrayCallback = tray::kCallbackMessage;
constexpr LPARAM kBalloonShown = 0x402;
constexpr LPARAM kBalloonTimedOut = 0x404;
constexpr LPARAM kBalloonClicked = 0x405;

class BalloonClicks : public ServerFixture {
 protected:
  // What the shell reports of the icon's balloon, as the program receives it.
  void shell_says(LPARAM event) const { PostMessageA(program_.main, kTrayCallback, 1, event); }
  void start_server() {
    start();
    click(按钮_启动);
    ASSERT_TRUE(wait_until([&] { return shows_running(); })) << status() << log();
  }
  // No more pages than `count` were opened: the program has handled the click, and no further
  // recorder came.
  bool opened_no_more_than(std::size_t count) {
    sync(program_.main);
    return !wait_until([&] { return recorded(folder_).size() > count; }, 1000);
  }

  // Opens the tray menu with the right button and chooses the entry `down` places from its top
  // with the keyboard; answers whether the menu closed (it stays open when the entry is greyed).
  bool choose_in_tray_menu(int down) const {
    PostMessageA(program_.main, kTrayCallback, 1, WM_RBUTTONUP);
    HWND menu = nullptr;
    if (!wait_until([&] { return (menu = visible_window_of("#32768", program_.id)) != nullptr; })) {
      return false;
    }
    for (int i = 0; i <= down; ++i) press(menu, VK_DOWN);
    press(menu, VK_RETURN);
    if (wait_until([&] { return visible_window_of("#32768", program_.id) == nullptr; }, 1000)) {
      return true;
    }
    press(menu, VK_ESCAPE);
    EXPECT_TRUE(wait_until([&] { return visible_window_of("#32768", program_.id) == nullptr; }));
    return false;
  }
  // "设置" (the seventh entry one can select) opens with its first entry selected.
  void choose_in_settings_menu(int down) const {
    PostMessageA(program_.main, kTrayCallback, 1, WM_RBUTTONUP);
    HWND menu = nullptr;
    ASSERT_TRUE(wait_until([&] { return (menu = visible_window_of("#32768", program_.id)); }));
    for (int i = 0; i < 7; ++i) press(menu, VK_DOWN);
    press(menu, VK_RIGHT);
    for (int i = 0; i < down; ++i) press(menu, VK_DOWN);
    for (UINT key : {VK_RETURN, VK_ESCAPE, VK_ESCAPE}) {  // a greyed entry may keep it open
      if (wait_until([&] { return !visible_window_of("#32768", program_.id); }, 500)) return;
      press(menu, key);
    }
    EXPECT_TRUE(wait_until([&] { return !visible_window_of("#32768", program_.id); }));
  }
  static void press(HWND menu, UINT key) {
    PostMessageA(menu, WM_KEYDOWN, key, 0);
    PostMessageA(menu, WM_KEYUP, key, 0xC0000000);
  }
  static std::string clipboard_text() {
    std::string text;
    if (!OpenClipboard(nullptr)) return text;
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
      if (const char* bytes = static_cast<const char*>(GlobalLock(data))) {
        text = bytes;
        GlobalUnlock(data);
      }
    }
    CloseClipboard();
    return text;
  }

  BrowserStandIn browser_{folder_.file("urls.txt")};
};

// "打开网页" and "复制网页地址" (the fourth and fifth entries) do nothing until the server runs;
// then the one opens the page from this machine, the other copies the address another device
// on the network can use.
TEST_F(BalloonClicks, TrayEntriesOpenAndCopyThePageWhileTheServerRuns) {
  settings_.ip = "0.0.0.0";
  start();
  ASSERT_TRUE(OpenClipboard(nullptr) && EmptyClipboard() && CloseClipboard());
  // Greyed (the looks' table); chosen all the same, nothing is opened or copied.
  choose_in_tray_menu(3);
  choose_in_tray_menu(4);
  EXPECT_TRUE(opened_no_more_than(0));
  EXPECT_EQ(clipboard_text(), "");

  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); })) << status() << log();
  EXPECT_TRUE(choose_in_tray_menu(3));
  ASSERT_TRUE(wait_until([&] { return recorded(folder_).size() == 1; }));
  EXPECT_EQ(recorded(folder_),
            std::vector<std::string>{"http://127.0.0.1:" + settings_.port + "/"});
  EXPECT_TRUE(choose_in_tray_menu(4));
  const std::string expected = web_address::copied_url(
      "0.0.0.0", settings_.port, web_address::reachable(web_address::adapter_addresses()));
  EXPECT_TRUE(wait_until([&] { return clipboard_text() == expected; })) << clipboard_text();
  EXPECT_NE(expected, "http://127.0.0.1:" + settings_.port + "/")
      << "these machines have an address on their network";
}

TEST_F(BalloonClicks, StartBalloonOpensTheLoopbackAddressForAllInterfaces) {
  settings_.ip = "0.0.0.0";
  start_server();
  shell_says(kBalloonShown);
  shell_says(kBalloonClicked);
  ASSERT_TRUE(wait_until([&] { return recorded(folder_).size() == 1; }));
  EXPECT_EQ(recorded(folder_), std::vector<std::string>{"http://127.0.0.1:" + settings_.port});
  // The balloon went with its click.
  shell_says(kBalloonClicked);
  EXPECT_TRUE(opened_no_more_than(1));
}

TEST_F(BalloonClicks, StartBalloonOpensTheAddressAsEntered) {
  settings_.ip = "localhost";
  start_server();
  shell_says(kBalloonShown);
  shell_says(kBalloonClicked);
  ASSERT_TRUE(wait_until([&] { return recorded(folder_).size() == 1; }));
  EXPECT_EQ(recorded(folder_), std::vector<std::string>{"http://localhost:" + settings_.port});
}

// "设置" reads its marks from config.ini as it opens (a hand edit counts) and greys them while the
// file cannot be read. Success notices switched off: no balloon is asked for (a click the shell
// reports opens nothing), while the error balloon still comes.
TEST_F(BalloonClicks, SettingsMenuSwitchesSuccessNoticesOffAndErrorsStillShow) {
  start();
  const std::string ini = folder_.file("config.ini");
  {
    const win::unique_file held(CreateFileA(ini.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    choose_in_settings_menu(2);
    // An entry that was not greyed would try the write for 1.5 s, and say that it failed.
    EXPECT_EQ(message_box_of(program_.id, 3000).window, nullptr);
  }
  WritePrivateProfileStringA("BasisConfig", "Update check", "false", ini.c_str());
  choose_in_settings_menu(0);
  post_command(program_.main, 托盘_意外退出后自动重启);
  post_command(program_.main, 托盘_显示成功通知);
  ASSERT_TRUE(wait_until([&] {
    return ini_value(ini, "BasisConfig", "Update check") == "true" &&
           ini_value(ini, "BasisConfig", "Auto restart") == "false" &&
           ini_value(ini, "BasisConfig", "Notices") == "false";
  })) << folder_.read_file("config.ini");
  click(按钮_启动);
  ASSERT_TRUE(wait_until([&] { return shows_running(); })) << status() << log();
  shell_says(kBalloonShown);
  shell_says(kBalloonClicked);
  EXPECT_TRUE(opened_no_more_than(0));
  kill_tree(running_server());
  EXPECT_TRUE(wait_until([] { return balloon_on_screen() == "请检查配置 和 日志。"; }))
      << balloon_on_screen();
}

TEST_F(BalloonClicks, StopBalloonAndATimedOutBalloonOpenNothing) {
  start_server();
  shell_says(kBalloonShown);
  shell_says(kBalloonTimedOut);
  shell_says(kBalloonClicked);
  EXPECT_TRUE(opened_no_more_than(0));

  click(按钮_停止);
  ASSERT_TRUE(wait_until([&] { return shows_not_running(); }));
  shell_says(kBalloonShown);
  shell_says(kBalloonClicked);
  EXPECT_TRUE(opened_no_more_than(0));
}

}  // namespace
