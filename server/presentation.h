// How the window, the status bar, the tray menu and the tray icon show whether the server runs.
// The program keeps no running flag: the start button's disabled state is the running state.
#pragma once

#include <string>
#include <string_view>

namespace presentation {

struct Look {
  bool start_enabled;
  bool stop_enabled;
  bool tray_start_enabled;
  bool tray_stop_enabled;
  const char* status_bar;   // first part of the status bar
  const char* tray_status;  // caption of the tray menu's status entry
  bool tray_status_checked;
};

// As the window is created; the status entry's caption differs from the not-running look.
const Look& initial();
const Look& running();
const Look& not_running();

inline constexpr char kIdleTooltip[] = "Rivermesh Tools\r\n状态：[未运行]";

// The tooltip after the web port was edited: the address exactly as entered.
std::string port_tooltip(bool running, std::string_view ip, std::string_view port);

}  // namespace presentation
