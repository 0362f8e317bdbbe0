// The main window: built from the layout tables, and the control operations the rest of the
// program uses. Events go to a WindowEvents sink; the window itself decides nothing.
#pragma once

#include <windows.h>

#include <string>

#include "app/layout.h"
#include "app/message_origin.h"
#include "platform/handles_win.h"

class WindowEvents {
 public:
  virtual ~WindowEvents() = default;
  // Runs inside WM_CREATE once the controls exist; false ends creation.
  virtual bool on_created() = 0;
  virtual void on_close_query() = 0;
  virtual void on_end_session() = 0;
  virtual void on_destroyed() = 0;
  // Button and checkbox clicks, and tray menu commands.
  virtual void on_command(int id) = 0;
  virtual void on_lost_focus(layout::Id id) = 0;
  virtual void on_content_changed(layout::Id id) = 0;
  // The window now shows this page of the tab control (0 "配置", 1 "日志").
  virtual void on_tab_changed(int page) = 0;
  // A submenu of the tray menu opens: id is its entry's (layout::托盘_设置, 托盘_帮助).
  virtual void on_submenu_opening(int /*id*/) {}
  // Messages the window does not handle itself (the tray callback, posted tasks).
  virtual bool on_message(UINT message, WPARAM wp, LPARAM lp, LRESULT* result) = 0;
};

class MainWindow {
 public:
  static constexpr char kClassName[] = "RivermeshToolsWindow";

  MainWindow() = default;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Creates the window hidden; false when creation was refused.
  bool create(HINSTANCE instance, WindowEvents* events);
  HWND hwnd() const { return hwnd_; }
  HWND control(layout::Id id) const;

  std::string text(layout::Id id) const;
  // Sets an edit box's text; the content-changed event follows once, even for an equal text.
  void set_text(layout::Id id, const std::string& text);
  bool checked(layout::Id id) const;
  void set_checked(layout::Id id, bool on);
  bool enabled(layout::Id id) const;
  void enable(layout::Id id, bool on);
  void set_password_masked(bool masked);

  bool visible() const;
  void set_visible(bool on);
  void set_title(const std::string& title);
  // Changes the widths of the window, the tab control and the log, in that order; dx is in
  // 96-DPI pixels, like the rest of the window's description.
  void widen(int dx);

  void set_status(int part, const std::string& text);

  // The keys the window answers anywhere in it, before the control with the focus sees them:
  // Tab and Shift+Tab, Ctrl+Tab and Ctrl+Shift+Tab, Esc (keys.h). True when m was one of them.
  bool take_key(const MSG& m);

  HMENU tray_menu() const { return tray_menu_.get(); }
  void set_menu_text(int id, const std::string& text);
  void set_menu_checked(int id, bool on);
  void set_menu_enabled(int id, bool on);
  void popup_tray_menu();

  void message_box(const std::string& text, const std::string& caption);
  // The open-file dialog for the server executable; empty when cancelled.
  std::string browse(const std::string& initial_dir);

 private:
  static LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK container_proc(HWND hwnd, UINT message, WPARAM wp, LPARAM lp, UINT_PTR id,
                                         DWORD_PTR data);
  static LRESULT CALLBACK see_through_proc(HWND hwnd, UINT message, WPARAM wp, LPARAM lp,
                                           UINT_PTR id, DWORD_PTR data);
  static LRESULT CALLBACK port_proc(HWND hwnd, UINT message, WPARAM wp, LPARAM lp, UINT_PTR id,
                                    DWORD_PTR data);
  // The tab control's subclass, told apart from the group box's.
  static constexpr UINT_PTR kTabSubclass = 1;
  static bool sent_from_another_thread();
  LRESULT handle(HWND hwnd, UINT message, WPARAM wp, LPARAM lp);
  void create_controls();
  // Layout at dpi_: fonts first (they are handed to the controls before the old ones go), then
  // the controls' places and the status bar parts. Controls are only moved, never recreated.
  void set_fonts();
  void place_controls();
  void change_dpi(int dpi, const RECT& suggested);
  void create_tray_menu();
  void show_page(int page);
  void switch_page(bool backward);
  void move_focus(bool backward);
  // Shows the page of the tab control's selection, once its procedure has handled a message.
  void follow_tab(HWND tab);
  // Cuts what the user typed or pasted into a box with a byte limit back to it.
  void keep_within_limit(layout::Id id);
  LRESULT color_control(HDC dc, HWND control, bool static_color);

  HWND hwnd_ = nullptr;
  WindowEvents* events_ = nullptr;
  bool setting_text_ = false;
  int dpi_ = 96;
  int widening_ = 0;           // the log tab's, in 96-DPI pixels
  origin::TabPages pages_{2};  // "配置" and "日志"
  win::unique_hfont ui_font_;
  win::unique_hfont log_font_;
  win::unique_hbrush white_;
  win::unique_hmenu tray_menu_;
};
