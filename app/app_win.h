// The program's life: start-up, the event handlers bound to the main window, and the end.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "app/drop_target_win.h"
#include "app/log_box_win.h"
#include "app/main_window_win.h"
#include "app/views_win.h"
#include "config/autostart_win.h"
#include "config/settings_win.h"
#include "server/control_win.h"
#include "server/presentation.h"
#include "tray/balloon_click.h"
#include "tray/tray_icon_win.h"
#include "update/check.h"

// Whether the user started this copy from the desktop shell (a double click), as opposed to the
// Run value at login, a scheduler or another program.
bool started_from_desktop_shell();

class App final : public WindowEvents {
 public:
  // show_request: the message a second copy of the program sends to have the window shown.
  App(tray::TrayIcon& tray, UINT show_request);
  ~App() override;
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  // Creates the main window and runs the message loop until it is destroyed.
  int run(HINSTANCE instance);

 private:
  bool on_created() override;
  void on_close_query() override;
  void on_end_session() override;
  void on_destroyed() override;
  void on_command(int id) override;
  void on_lost_focus(layout::Id id) override;
  void on_content_changed(layout::Id id) override;
  void on_tab_changed(int page) override;
  void on_submenu_opening(int id) override;
  bool on_message(UINT message, WPARAM wp, LPARAM lp, LRESULT* result) override;

  static void tray_mouse_handler(std::int32_t code);
  // config.ini is there but could not be read: the run starts nothing.
  void refuse_unread_settings();
  void show_main_window();
  void bring_to_front();
  void exit_program();
  void teardown();
  void refresh_port_tooltip();
  std::span<const unsigned char> icon_data() const;
  // What start-up leaves until the window has been drawn: the icon, drag and drop, the check.
  void finish_start_up();
  // asked: chosen by the user ("检查更新"), not the start-up's own check.
  void start_update_check(bool asked);
  // The marks of "设置" as config.ini has them now; greyed when it cannot be read. Returns what it
  // read.
  std::optional<settings::Switches> refresh_switch_marks();
  void toggle_switch(int id);
  // "复制网页地址": the address another device can use, else the page from this machine.
  void copy_web_address();
  void show_update_notice(const update::Notice& notice);

  tray::TrayIcon& tray_;
  MainWindow window_;
  std::unique_ptr<settings::Panel> settings_;
  DropTarget drop_;
  LogBox log_;
  tray::BalloonClicks balloon_clicks_;
  SettingsForm form_{window_};
  ServerView view_{window_, tray_, log_, balloon_clicks_, settings_};
  server::Control server_;
  autostart::Checkbox autostart_;
  bool started_ = false;
  bool torn_down_ = false;
  bool ole_ = false;
  // A check the user asked for is under way (or was dropped beside a running one): the next
  // notice answers him.
  bool update_asked_ = false;
  // The start-up's check, as the switch read at start-up says.
  bool update_check_at_start_ = false;
  int exit_code_ = 0;
  const UINT show_request_;
};
