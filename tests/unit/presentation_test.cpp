#include "server/presentation.h"

#include <gtest/gtest.h>

#include "app/layout.h"

using namespace presentation;

TEST(Presentation, RowsOfTheThreeLooks) {
  EXPECT_TRUE(kInitial.start_enabled && kInitial.tray_start_enabled);
  EXPECT_FALSE(kInitial.stop_enabled || kInitial.tray_stop_enabled || kInitial.tray_status_checked);
  EXPECT_FALSE(kRunning.start_enabled || kRunning.tray_start_enabled);
  EXPECT_TRUE(kRunning.stop_enabled && kRunning.tray_stop_enabled && kRunning.tray_status_checked);
  EXPECT_TRUE(kNotRunning.start_enabled && !kNotRunning.stop_enabled &&
              !kNotRunning.tray_status_checked);
  // The initial status entry has an ASCII colon and a blank; later ones a full-width colon.
  EXPECT_STREQ(kInitial.tray_status, "状态: 未运行");
  EXPECT_STREQ(kNotRunning.tray_status, "状态：未运行");
  EXPECT_STREQ(kRunning.tray_status, "状态：正在运行");
  EXPECT_STREQ(kRunning.status_bar, "   状态：正在运行");
  EXPECT_STREQ(kNotRunning.status_bar, "   状态：未运行");
}

TEST(Presentation, WindowDescriptionStartsWithTheInitialLook) {
  EXPECT_STREQ(layout::status_parts()[0].text, kInitial.status_bar);
  EXPECT_STREQ(layout::tray_menu()[0].text, kInitial.tray_status);
  EXPECT_TRUE(layout::tray_menu()[0].flags & layout::kMenuDisabled);
  EXPECT_TRUE(layout::find(layout::按钮_停止)->flags & layout::kDisabled);
  EXPECT_FALSE(layout::find(layout::按钮_启动)->flags & layout::kDisabled);
}

TEST(Presentation, AllInterfacesAddressIsShownAsLoopbackAfterAStart) {
  EXPECT_EQ(started_text("0.0.0.0", "8888"), "访问地址：http://127.0.0.1:8888");
  EXPECT_EQ(running_tooltip("0.0.0.0", "8888"),
            "Rivermesh Tools\r\n状态：[正在运行]\r\nhttp://127.0.0.1:8888");
  EXPECT_EQ(started_text("192.168.1.5", "80"), "访问地址：http://192.168.1.5:80");
  EXPECT_EQ(access_url("0.0.0.0", "8888"), "http://127.0.0.1:8888");
  EXPECT_EQ(access_url("localhost", "80"), "http://localhost:80");
  // Only the exact text counts: a blank before it keeps the address as entered.
  EXPECT_EQ(shown_host(" 0.0.0.0"), " 0.0.0.0");
}

TEST(Presentation, RestartBalloonSaysWhenAndWhich) {
  EXPECT_EQ(presentation::restart_text(15, 3), "将在 15 秒后自动重启（第 3 次，共 3 次）");
}

TEST(Presentation, PortTooltipKeepsTheAddressAsEntered) {
  EXPECT_EQ(port_tooltip(true, "0.0.0.0", "9000"),
            "Rivermesh Tools\r\n状态：[正在运行]\r\nhttp://0.0.0.0:9000");
  EXPECT_EQ(port_tooltip(false, "192.168.1.2", ""),
            "Rivermesh Tools\r\n状态：[未运行]\r\nhttp://192.168.1.2:");
}
