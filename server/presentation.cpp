#include "server/presentation.h"

#include <string>

#include "server/control_rules.h"

namespace presentation {
namespace {

constexpr char kRunningTip[] = "Rivermesh Tools\r\n状态：[正在运行]\r\nhttp://";
constexpr char kIdleTipWithAddress[] = "Rivermesh Tools\r\n状态：[未运行]\r\nhttp://";

std::string mark(std::string_view text) {
  std::string line = "\r\n---- ";
  line.append(text);
  line += " ----\r\n";
  return line;
}

std::string with_address(std::string text, std::string_view host, std::string_view port) {
  text.append(host);
  text += ':';
  text.append(port);
  return text;
}

}  // namespace

std::string shown_host(std::string_view ip) {
  return ip == "0.0.0.0" ? std::string("127.0.0.1") : std::string(ip);
}

std::string access_url(std::string_view ip, std::string_view port) {
  return with_address("http://", shown_host(ip), port);
}

std::string started_text(std::string_view ip, std::string_view port) {
  return "访问地址：" + access_url(ip, port);
}

std::string restart_text(unsigned seconds, unsigned nth) {
  return "将在 " + std::to_string(seconds) + " 秒后自动重启（第 " + std::to_string(nth) +
         " 次，共 3 次）";
}

std::string not_answering_text(std::string_view port) {
  std::string text = "网页端口 ";
  text.append(port);
  text += " 暂未响应，请查看日志。";
  return text;
}

std::string running_tooltip(std::string_view ip, std::string_view port) {
  return with_address(kRunningTip, shown_host(ip), port);
}

std::string port_tooltip(bool running, std::string_view ip, std::string_view port) {
  return with_address(running ? kRunningTip : kIdleTipWithAddress, ip, port);
}

std::string taken_over_mark(std::uint32_t process_id) {
  return mark("Rivermesh 已在运行（进程 " + std::to_string(process_id) +
              "），已接管：它的输出无法在此显示");
}

std::string lan_mark(const std::vector<std::string>& urls) {
  if (urls.empty()) return mark("未找到本机的局域网地址：其他设备暂时无法访问网页");
  std::string text = "局域网中的其他设备可访问：";
  for (std::size_t i = 0; i < urls.size(); ++i) text += (i == 0 ? "" : "  ") + urls[i];
  return mark(text);
}

std::string server_missing_mark(std::string_view path) {
  return mark("启动失败：找不到服务器程序 " + std::string(path));
}

std::string not_appeared_mark(unsigned seconds) {
  return mark("启动失败：" + std::to_string(seconds) + " 秒内未见服务器程序运行");
}

std::string ended_starting_mark(std::optional<std::uint32_t> exit_code) {
  return mark("启动失败：服务器程序已退出，退出码 " +
              (exit_code ? std::to_string(*exit_code) : std::string("未知")));
}

std::string not_restarted_mark(bool ran_long_enough, settings::AutoRestart setting) {
  if (!ran_long_enough) {
    return mark("未自动重启：运行不足 " + std::to_string(control::kRestartAfterMs / 1000) + " 秒");
  }
  switch (setting) {
    case settings::AutoRestart::Off:
      return mark("未自动重启：config.ini 中 Auto restart=false");
    case settings::AutoRestart::Unreadable:
      return mark("未自动重启：无法读取 config.ini");
    case settings::AutoRestart::On:
      break;
  }
  return mark("未自动重启：" + std::to_string(control::kRestartWindowMs / 60000) +
              " 分钟内已自动重启 " + std::to_string(control::kMostRestarts) + " 次");
}

}  // namespace presentation
