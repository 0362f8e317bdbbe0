#include "server/presentation.h"

#include <gtest/gtest.h>

#include "app/layout.h"
#include "server/start_rules.h"
#include "server/web_address.h"

using namespace presentation;

TEST(Presentation, RowsOfTheLooks) {
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
  // A start that waits for its server: only a stop is of use.
  EXPECT_FALSE(kStarting.start_enabled || kStarting.tray_start_enabled);
  EXPECT_TRUE(kStarting.stop_enabled && kStarting.tray_stop_enabled);
  EXPECT_STREQ(kStarting.status_bar, "   状态：正在启动");
  EXPECT_STREQ(kStarting.tray_status, "状态：正在启动");
  EXPECT_STREQ(kStartingTooltip, "Rivermesh Tools\r\n状态：[正在启动]");
  // A restart that waits: a start by hand takes its place, a stop cancels it.
  EXPECT_TRUE(kRestartWaiting.start_enabled && kRestartWaiting.stop_enabled &&
              kRestartWaiting.tray_start_enabled && kRestartWaiting.tray_stop_enabled);
  EXPECT_STREQ(kRestartWaiting.status_bar, kNotRunning.status_bar);
  EXPECT_EQ(not_answering_text("8888"), "网页端口 8888 暂未响应，请查看日志。");
  // "打开网页" and "复制网页地址" are there exactly while the running look is.
  for (const Look* look : {&kInitial, &kNotRunning, &kStarting, &kRestartWaiting}) {
    EXPECT_FALSE(look->tray_web_enabled) << look->tray_status;
  }
  EXPECT_TRUE(kRunning.tray_web_enabled);
}

// The web page from this machine and from the other devices on its network.
TEST(Presentation, WebAddressesForThisMachineAndTheNetwork) {
  using namespace web_address;
  for (const auto& [ip, url] :
       std::vector<std::pair<std::string, std::string>>{{"0.0.0.0", "http://127.0.0.1:8888/"},
                                                        {"::", "http://[::1]:8888/"},
                                                        {"[::]", "http://[::1]:8888/"},
                                                        {"127.0.0.1", "http://127.0.0.1:8888/"},
                                                        {"192.168.1.5", "http://192.168.1.5:8888/"},
                                                        {"fe80::1", "http://[fe80::1]:8888/"},
                                                        {"localhost", "http://localhost:8888/"}}) {
    EXPECT_EQ(local_url(ip, "8888"), url) << ip;
    EXPECT_EQ(any_address(ip), ip == "0.0.0.0" || ip == "::" || ip == "[::]") << ip;
    EXPECT_EQ(loopback(ip), ip == "127.0.0.1" || ip == "localhost") << ip;
  }
  for (const char* ip : {"127.8.9.1", "::1", "[::1]", "LocalHost"}) EXPECT_TRUE(loopback(ip)) << ip;
  for (const char* ip : {"1270.0.0.1", "localhost.example", "::2", ""}) {
    EXPECT_FALSE(loopback(ip)) << ip;
  }
  // The log tab's lines of the program's own: the addresses, or that there is none.
  EXPECT_EQ(lan_mark({"http://192.168.3.7:8888/", "http://10.8.0.2:8888/"}),
            "\r\n---- 局域网中的其他设备可访问：http://192.168.3.7:8888/  http://10.8.0.2:8888/ "
            "----\r\n");
  EXPECT_EQ(lan_mark({}), "\r\n---- 未找到本机的局域网地址：其他设备暂时无法访问网页 ----\r\n");
  // Adapters that are down, loopback and link-local (no network gave the address) are left out;
  // those on the network with the default gateway come first, each once, three at most.
  const std::vector<AdapterAddress> adapters = {
      {"10.8.0.2", true, false},     {"127.0.0.1", true, false},  {"169.254.7.1", true, true},
      {"192.168.1.20", false, true}, {"192.168.3.7", true, true}, {"172.20.0.1", true, false},
      {"192.168.3.7", true, true},   {"10.9.0.3", true, false},
  };
  EXPECT_EQ(reachable(adapters),
            (std::vector<std::string>{"192.168.3.7", "10.8.0.2", "172.20.0.1"}));
  EXPECT_TRUE(reachable({{"127.0.0.1", true, false}, {"169.254.1.1", true, false}}).empty());
  EXPECT_EQ(lan_urls({"192.168.3.7", "10.8.0.2"}, "8888"),
            (std::vector<std::string>{"http://192.168.3.7:8888/", "http://10.8.0.2:8888/"}));
  // What is copied: the first of them while the server listens on every interface; the page
  // from this machine for a given address, or when no other device can reach it.
  EXPECT_EQ(copied_url("0.0.0.0", "8888", {"192.168.3.7", "10.8.0.2"}), "http://192.168.3.7:8888/");
  EXPECT_EQ(copied_url("::", "8888", {"192.168.3.7"}), "http://192.168.3.7:8888/");
  EXPECT_EQ(copied_url("0.0.0.0", "8888", {}), "http://127.0.0.1:8888/");
  EXPECT_EQ(copied_url("192.168.1.5", "8888", {"192.168.3.7"}), "http://192.168.1.5:8888/");
}

// Where a start knocks for its server's web port, and how often.
TEST(Presentation, StartKnocksAtTheAddressTheServerTakesConnectionsAt) {
  EXPECT_EQ(start::probe_host("0.0.0.0"), "127.0.0.1");
  EXPECT_EQ(start::probe_host("::"), "::1");
  EXPECT_EQ(start::probe_host("[::]"), "::1");
  EXPECT_EQ(start::probe_host("[fe80::1]"), "fe80::1");
  EXPECT_EQ(start::probe_host("192.168.1.5"), "192.168.1.5");
  EXPECT_EQ(start::probe_host("localhost"), "localhost");
  EXPECT_EQ(start::next_look_ms(0), 10u);
  EXPECT_EQ(start::next_look_ms(1999), 10u);
  EXPECT_EQ(start::next_look_ms(2000), 250u);
  EXPECT_EQ(start::next_look_ms(600000), 250u);
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

// The program's own lines in the log tab: each stands on lines of its own, whatever the output
// before it ended with, and says what went wrong where the shell says nothing.
TEST(Presentation, LogTabLinesSayWhyAStartFailedOrNoRestartCame) {
  using settings::AutoRestart;
  const struct {
    std::string line, expected;
  } cases[] = {
      {kRestartMark, "---- 自动重启 ----"},
      {kShellFailedMark, "---- 启动失败：无法启动命令提示符 cmd.exe ----"},
      {server_missing_mark("C:\\服务器\\rivermesh_windows_amd64.exe"),
       "---- 启动失败：找不到服务器程序 C:\\服务器\\rivermesh_windows_amd64.exe ----"},
      {not_appeared_mark(30), "---- 启动失败：30 秒内未见服务器程序运行 ----"},
      {ended_starting_mark(5), "---- 启动失败：服务器程序已退出，退出码 5 ----"},
      {ended_starting_mark(std::nullopt), "---- 启动失败：服务器程序已退出，退出码 未知 ----"},
      {not_restarted_mark(true, AutoRestart::Unreadable),
       "---- 未自动重启：无法读取 config.ini ----"},
      {not_restarted_mark(true, AutoRestart::Off),
       "---- 未自动重启：config.ini 中 Auto restart=false ----"},
      {not_restarted_mark(true, AutoRestart::On), "---- 未自动重启：10 分钟内已自动重启 3 次 ----"},
      // A quick end is not restarted whatever the key says (config.ini is not read for it).
      {not_restarted_mark(false, AutoRestart::Unreadable), "---- 未自动重启：运行不足 5 秒 ----"},
      {taken_over_mark(1234),
       "---- Rivermesh 已在运行（进程 1234），已接管：它的输出无法在此显示 ----"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.line, "\r\n" + c.expected + "\r\n");
  }
}

TEST(Presentation, PortTooltipKeepsTheAddressAsEntered) {
  EXPECT_EQ(port_tooltip(true, "0.0.0.0", "9000"),
            "Rivermesh Tools\r\n状态：[正在运行]\r\nhttp://0.0.0.0:9000");
  EXPECT_EQ(port_tooltip(false, "192.168.1.2", ""),
            "Rivermesh Tools\r\n状态：[未运行]\r\nhttp://192.168.1.2:");
}
