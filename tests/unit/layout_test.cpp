#include "app/layout.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "app/keys.h"

using namespace layout;

TEST(Layout, ControlIdsAreUniqueAndMenuIdsApart) {
  std::set<int> ids;
  for (const Control& c : controls()) EXPECT_TRUE(ids.insert(c.id).second) << c.id;
  EXPECT_EQ(ids.size(), 21u);
  for (const MenuItem& m : tray_menu()) {
    if (m.id) {
      EXPECT_FALSE(ids.count(m.id)) << m.text;
    }
  }
}

TEST(Layout, TrayMenuEntriesAndStates) {
  const auto menu = tray_menu();
  ASSERT_EQ(menu.size(), 10u);
  const struct {
    const char* text;
    unsigned flags;
    int id;
  } expected[] = {
      {"状态: 未运行", kMenuDisabled, 托盘_状态},
      {"启动", kMenuNone, 托盘_启动},
      {"停止", kMenuDisabled, 托盘_停止},
      {"打开网页", kMenuDisabled, 托盘_打开网页},
      {"复制网页地址", kMenuDisabled, 托盘_复制网页地址},
      {"配置...", kMenuNone, 托盘_配置},
      {"", kMenuSeparator, 0},
      {"设置", kMenuNone, 托盘_设置},
      {"帮助", kMenuNone, 托盘_帮助},
      {"退出", kMenuNone, 托盘_退出},
  };
  for (std::size_t i = 0; i < menu.size(); ++i) {
    EXPECT_STREQ(menu[i].text, expected[i].text);
    EXPECT_EQ(menu[i].flags, expected[i].flags) << expected[i].text;
    EXPECT_EQ(menu[i].id, expected[i].id);
  }
  // Checked until the file says otherwise, as the keys' absence means.
  ASSERT_EQ(menu[7].submenu.size(), 3u);
  for (const MenuItem& m : menu[7].submenu) EXPECT_EQ(m.flags, kMenuChecked) << m.text;
  const auto help = menu[8].submenu;
  ASSERT_EQ(help.size(), 5u);
  EXPECT_STREQ(help[0].text, "检查更新");
  EXPECT_STREQ(help[1].text, "使用方法");
  EXPECT_EQ(help[2].flags, kMenuSeparator);
  EXPECT_STREQ(help[3].text, "关于");
  EXPECT_STREQ(help[4].text, "捐赠");
  EXPECT_STREQ(kTrayMenuName, "托盘菜单");
}

TEST(Layout, TitleAndStatusBar) {
  EXPECT_EQ(versioned_title(), "Rivermesh Tools    v1.0.2");
  const auto parts = status_parts();
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].width, 120);
  EXPECT_EQ(parts[0].width + parts[1].width, 520);
  EXPECT_STREQ(parts[0].text, "   状态：未运行");
}

TEST(Layout, PortBoxTakesDigitsMinusAndControlKeys) {
  for (unsigned ch : {unsigned('0'), unsigned('9'), unsigned('-'), 8u /* Backspace */, 0x16u}) {
    EXPECT_TRUE(port_char_allowed(ch)) << ch;
  }
  for (unsigned ch : {unsigned('a'), unsigned('Z'), unsigned(' '), unsigned('.'), 0xA3u}) {
    EXPECT_FALSE(port_char_allowed(ch)) << ch;
  }
}

TEST(Layout, LogPageHoldsOnlyTheLog) {
  for (const Control& c : controls()) {
    if (c.page == 1) {
      EXPECT_EQ(c.id, 编辑框_日志);
    }
  }
  const Control* log = find(编辑框_日志);
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(log->width + kLogWidening, 580);
}

TEST(Layout, CommandsWithoutAControlAreMenuEntriesOnlyInTheMenuRange) {
  EXPECT_TRUE(layout::is_tray_menu_id(layout::托盘_状态));
  EXPECT_TRUE(layout::is_tray_menu_id(layout::托盘_退出));
  EXPECT_FALSE(layout::is_tray_menu_id(1));  // IDOK from Enter
  EXPECT_FALSE(layout::is_tray_menu_id(2));  // IDCANCEL from Esc
  EXPECT_FALSE(layout::is_tray_menu_id(layout::按钮_启动));
}

TEST(Layout, KeysSwitchTabsAndWalkThePageInReadingOrder) {
  using keys::Action;
  const struct {
    unsigned key;
    bool ctrl, shift, alt;
    Action action;
  } rows[] = {
      {keys::kTab, false, false, false, Action::kNextControl},
      {keys::kTab, false, true, false, Action::kPreviousControl},
      {keys::kTab, true, false, false, Action::kNextPage},
      {keys::kTab, true, true, false, Action::kPreviousPage},
      {keys::kTab, false, false, true, Action::kNone},  // Alt+Tab is the system's
      {keys::kEscape, false, false, false, Action::kHide},
      {keys::kEscape, true, false, false, Action::kNone},  // so is Ctrl+Esc
  };
  for (const auto& r : rows) {
    EXPECT_EQ(keys::action(r.key, r.ctrl, r.shift, r.alt), r.action) << r.key << r.ctrl << r.shift;
  }
  EXPECT_EQ(keys::tab_order(0),
            (std::vector<Id>{选择夹1, 编辑框_IP, 选择框_访问控制, 编辑框_账号, 编辑框_密码,
                             选择框_密码明文, 编辑框_文件位置, 按钮_浏览, 编辑框_网页端口,
                             按钮_保存, 选择框_开机启动, 按钮_启动, 按钮_停止}));
  EXPECT_EQ(keys::tab_order(1), (std::vector<Id>{选择夹1, 编辑框_日志}));
  // From the window itself Tab starts at the tabs, Shift+Tab at the last stop.
  EXPECT_EQ(keys::next_stop(1, 0, true, [](Id) { return true; }), 编辑框_日志);
  EXPECT_EQ(keys::next_stop(0, 0, false, [](Id) { return false; }), 0);
}
