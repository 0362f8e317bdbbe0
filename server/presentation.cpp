#include "server/presentation.h"

namespace presentation {
namespace {

constexpr Look kInitial{true, false, true, false, "   状态：未运行", "状态: 未运行", false};
constexpr Look kRunning{false, true, false, true, "   状态：正在运行", "状态：正在运行", true};
constexpr Look kNotRunning{true, false, true, false, "   状态：未运行", "状态：未运行", false};

}  // namespace

const Look& initial() { return kInitial; }
const Look& running() { return kRunning; }
const Look& not_running() { return kNotRunning; }

std::string port_tooltip(bool running, std::string_view ip, std::string_view port) {
  std::string tip = running ? "Rivermesh Tools\r\n状态：[正在运行]\r\nhttp://"
                            : "Rivermesh Tools\r\n状态：[未运行]\r\nhttp://";
  tip.append(ip);
  tip += ':';
  tip.append(port);
  return tip;
}

}  // namespace presentation
