// A click on a balloon: the start balloon leads to the address it names, in the user's browser;
// other balloons, and balloons gone from the screen, lead nowhere.
// Winsock 2 must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/layout.h"
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

  BrowserStandIn browser_{folder_.file("urls.txt")};
};

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
