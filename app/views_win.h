// What the subsystems that act on the window see of it. Each subsystem declares the small
// interface it needs; these classes implement them over the window, the tray icon and the log,
// so that no subsystem knows the window and the calls never run back into the program's life.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "app/log_box_win.h"
#include "app/main_window_win.h"
#include "config/settings_win.h"
#include "server/control_win.h"
#include "tray/balloon_click.h"
#include "tray/tray_icon_win.h"

// The settings controls of the main window.
class SettingsForm final : public settings::Form {
 public:
  explicit SettingsForm(MainWindow& window) : window_(window) {}

  std::string text(settings::Field field) const override;
  void set_text(settings::Field field, const std::string& text) override;
  bool checked(settings::Box box) const override;
  void set_checked(settings::Box box, bool on) override;
  void enable_account_fields(bool on) override;
  void set_password_masked(bool masked) override;
  std::string browse(const std::string& initial_dir) override;
  void message_box(const std::string& text, const std::string& caption) override;

 private:
  MainWindow& window_;
};

// The window, the tray icon and the log as the server control drives them.
class ServerView final : public server::View {
 public:
  ServerView(MainWindow& window, tray::TrayIcon& tray, LogBox& log, tray::BalloonClicks& clicks,
             const std::unique_ptr<settings::Panel>& settings)
      : window_(window), tray_(tray), log_(log), clicks_(clicks), settings_(settings) {}

  launch::Fields fields() const override;
  std::string server_folder() const override;
  void apply(const presentation::Look& look) override;
  bool running_shown() const override;
  void message(const std::string& text, const char* caption, bool owned) override;
  // An error balloon is essential; the others are success notices.
  void balloon(const std::string& title, const std::string& text, std::uint32_t kind,
               const std::string& click_url) override;
  // A balloon unless the switch "显示成功通知" or the user's state holds it back
  // (tray::balloon_go); true when it was handed to the shell.
  bool notice(const std::string& title, const std::string& text, std::uint32_t kind,
              const std::string& click_url, bool essential);
  void tooltip(const std::string& text) override;
  // The tooltip last set, for an icon added after it.
  const std::string& shown_tooltip() const { return tooltip_; }
  std::shared_ptr<console::Inbox> new_log_inbox() override;
  void clear_log() override;
  settings::AutoRestart auto_restart() override;
  void let_go() override;
  HWND window() const override { return window_.hwnd(); }

 private:
  MainWindow& window_;
  tray::TrayIcon& tray_;
  LogBox& log_;
  tray::BalloonClicks& clicks_;
  // Made once the window exists; empty before.
  const std::unique_ptr<settings::Panel>& settings_;
  std::string tooltip_ = presentation::kIdleTooltip;
};
