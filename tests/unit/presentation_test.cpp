#include "server/presentation.h"

#include <gtest/gtest.h>

TEST(Presentation, RowsOfTheThreeLooks) {
  const auto& i = presentation::initial();
  const auto& r = presentation::running();
  const auto& n = presentation::not_running();
  EXPECT_TRUE(i.start_enabled && i.tray_start_enabled);
  EXPECT_FALSE(i.stop_enabled || i.tray_stop_enabled || i.tray_status_checked);
  EXPECT_FALSE(r.start_enabled || r.tray_start_enabled);
  EXPECT_TRUE(r.stop_enabled && r.tray_stop_enabled && r.tray_status_checked);
  EXPECT_TRUE(n.start_enabled && !n.stop_enabled && !n.tray_status_checked);
  // The initial status entry has an ASCII colon and a blank; later ones a full-width colon.
  EXPECT_STREQ(i.tray_status, "状态: 未运行");
  EXPECT_STREQ(n.tray_status, "状态：未运行");
  EXPECT_STREQ(r.tray_status, "状态：正在运行");
  EXPECT_STREQ(r.status_bar, "   状态：正在运行");
  EXPECT_STREQ(n.status_bar, "   状态：未运行");
}

TEST(Presentation, PortTooltipKeepsTheAddressAsEntered) {
  EXPECT_EQ(presentation::port_tooltip(true, "0.0.0.0", "9000"),
            "Rivermesh Tools\r\n状态：[正在运行]\r\nhttp://0.0.0.0:9000");
  EXPECT_EQ(presentation::port_tooltip(false, "192.168.1.2", ""),
            "Rivermesh Tools\r\n状态：[未运行]\r\nhttp://192.168.1.2:");
}
