#include "server/presentation.h"

#include <string>

namespace presentation {
namespace {

constexpr char kRunningTip[] = "Rivermesh Tools\r\n状态：[正在运行]\r\nhttp://";
constexpr char kIdleTipWithAddress[] = "Rivermesh Tools\r\n状态：[未运行]\r\nhttp://";

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

}  // namespace presentation
