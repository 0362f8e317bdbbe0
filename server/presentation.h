// How the window, the status bar, the tray menu and the tray icon show whether the server runs,
// and the texts of the balloons that report a start or a stop. The program keeps no running
// flag: the start button's disabled state is the running state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings.h"

namespace presentation {

struct Look {
  bool start_enabled;
  bool stop_enabled;
  bool tray_start_enabled;
  bool tray_stop_enabled;
  const char* status_bar;   // first part of the status bar
  const char* tray_status;  // caption of the tray menu's status entry
  bool tray_status_checked;
  // "打开网页" and "复制网页地址": only while the running look is shown, when there is a page.
  bool tray_web_enabled = false;
};

// As the window is created; the status entry's caption differs from the not-running look. The
// window description takes its first look from here.
inline constexpr Look kInitial{true, false, true, false, "   状态：未运行", "状态: 未运行", false};
inline constexpr Look kRunning{false, true, false, true, "   状态：正在运行", "状态：正在运行",
                               true,  true};
inline constexpr Look kNotRunning{true,           false, true, false, "   状态：未运行",
                                  "状态：未运行", false};
// A start waits for its server: a second start is no use, a stop ends what runs.
inline constexpr Look kStarting{false, true, false, true, "   状态：正在启动", "状态：正在启动",
                                false};
// An automatic restart waits: not running, yet a stop cancels the restart, and a start by hand
// takes its place.
inline constexpr Look kRestartWaiting{true,           true, true, true, "   状态：未运行",
                                      "状态：未运行", false};

inline constexpr char kIdleTooltip[] = "Rivermesh Tools\r\n状态：[未运行]";
inline constexpr char kStartingTooltip[] = "Rivermesh Tools\r\n状态：[正在启动]";

inline constexpr char kStartedTitle[] = "Rivermesh 启动成功！";
inline constexpr char kStartFailedTitle[] = "Rivermesh 启动失败！";
inline constexpr char kCheckSettingsText[] = "请检查配置 和 日志。";
// The server runs, but its web port has not answered within the start's bound: it is kept.
inline constexpr char kNotAnsweringTitle[] = "Rivermesh 已运行，网页端口无响应！";
// "网页端口 <port> 暂未响应，请查看日志。"
std::string not_answering_text(std::string_view port);
inline constexpr char kStoppedTitle[] = "Rivermesh 停止成功！";
// The platform hides a balloon whose text is empty, so the stop balloon carries one blank.
inline constexpr char kStoppedText[] = " ";
inline constexpr char kStopFailedTitle[] = "Rivermesh 停止失败！";
inline constexpr char kStillRunningText[] = "进程仍在运行。";
// The server ended while the running look was shown, without a stop.
inline constexpr char kEndedTitle[] = "Rivermesh 意外退出！";
inline constexpr char kRestartsUsedUpText[] = "已自动重启 3 次，不再重启。请检查配置。";
// "将在 N 秒后自动重启（第 k 次，共 3 次）": the restart that waits, and which one it is.
std::string restart_text(unsigned seconds, unsigned nth);

// The program's own lines in the log tab, each on lines of its own between the output: where the
// shell says nothing, they say why a start failed, or why a server that ended by itself is not
// started again. An automatic restart is marked in the log it keeps.
inline constexpr char kRestartMark[] = "\r\n---- 自动重启 ----\r\n";
inline constexpr char kShellFailedMark[] = "\r\n---- 启动失败：无法启动命令提示符 cmd.exe ----\r\n";
// "---- 启动失败：找不到服务器程序 <path> ----"
std::string server_missing_mark(std::string_view path);
// "---- 启动失败：N 秒内未见服务器程序运行 ----"
std::string not_appeared_mark(unsigned seconds);
// "---- 启动失败：服务器程序已退出，退出码 N ----" (未知 when it could not be read)
std::string ended_starting_mark(std::optional<std::uint32_t> exit_code);
// Why the server that ended by itself is not started again: it ran too briefly; else the key
// switched off, or config.ini could not be read; else the restarts were used up.
std::string not_restarted_mark(bool ran_long_enough, settings::AutoRestart setting);
// A server that ran before the program was taken over: its process, and that nothing it prints
// reaches the program (it writes to a console of its own).
// "---- Rivermesh 已在运行（进程 N），已接管：它的输出无法在此显示 ----"
std::string taken_over_mark(std::uint32_t process_id);
// After a start on every interface: the addresses other devices on the network can use, or that
// there is none.
std::string lan_mark(const std::vector<std::string>& urls);
// At a start that other devices can reach without the account and password.
inline constexpr char kOpenServerMark[] =
    "\r\n---- 注意：未启用访问限制，能连接到本机的所有设备都可以打开网页并控制服务器。"
    "勾选“启用访问限制（账号密码）”可以防止 ----\r\n";

// The host a browser reaches the server at: the address as entered, except that the address for
// all interfaces is shown as the loopback address.
std::string shown_host(std::string_view ip);
// "http://host:port" with the shown host: where the success balloon's click leads.
std::string access_url(std::string_view ip, std::string_view port);
// "访问地址：http://host:port" for the success balloon.
std::string started_text(std::string_view ip, std::string_view port);
// The tooltip after a successful start, with the shown host.
std::string running_tooltip(std::string_view ip, std::string_view port);
// The tooltip after the web port was edited: the address exactly as entered.
std::string port_tooltip(bool running, std::string_view ip, std::string_view port);

}  // namespace presentation
