// Starting and stopping the server: the start request with its checks and launch script, the
// start sequence, the stop request and the silent kill at exit. The window is reached through
// the small View that the application hands in.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "server/console_win.h"
#include "server/launch.h"
#include "server/presentation.h"
#include "server/watch_win.h"

namespace server {

class View {
 public:
  virtual ~View() = default;
  // The launch settings as the controls show them now.
  virtual launch::Fields fields() const = 0;
  virtual std::string server_folder() const = 0;
  virtual void apply(const presentation::Look& look) = 0;
  // Whether the running look is shown (the start button is disabled).
  virtual bool running_shown() const = 0;
  // A message box with an OK button; owned by the main window unless owned is false.
  virtual void message(const std::string& text, const char* caption, bool owned) = 0;
  // click_url: what a click on the balloon opens; empty for nothing.
  virtual void balloon(const std::string& title, const std::string& text, std::uint32_t kind,
                       const std::string& click_url) = 0;
  virtual void tooltip(const std::string& text) = 0;
  virtual void clear_log() = 0;
  // The window that receives the console output notices.
  virtual HWND window() const = 0;
};

class Control {
 public:
  // Console output notices and the end of the watched server reach the window as these
  // messages.
  Control(View& view, UINT output_message, UINT ended_message)
      : view_(view), output_message_(output_message), ended_message_(ended_message) {}

  void start_request();
  void stop_request();
  // At exit, once the window and the icon are gone: gives a server under our shell up to
  // grace_ms to end on Ctrl+C, with window messages handled. Requests are refused from here on.
  void let_server_end(DWORD grace_ms);
  // At exit: ends the server, its shell and the console; shows nothing.
  void shutdown_kill();
  // For a console output notice: the output that arrived since, empty for a stale notice.
  std::string take_output(WPARAM notice);
  // The output of the current launch that arrived since it was last taken.
  std::string take_output();
  // For a notice that the watched server has ended.
  void server_ended(WPARAM notice);

 private:
  bool write_script(const std::string& path, const launch::Fields& fields) const;
  void start_sequence();
  // Sends Ctrl+C to a server under our shell shell_id (once, however many wait) and waits for its
  // end at most grace_ms. False when it was not asked or is still there.
  bool ask_to_end(DWORD server_id, DWORD shell_id, DWORD grace_ms);

  View& view_;
  void watch(DWORD server_id);
  // The server file this program's server runs from: the one the last launch ran (the file
  // location may have been changed since), else the one in the server folder. Servers of copies
  // in other folders are not ours to report or end.
  std::string server_path() const;

  const UINT output_message_;
  const UINT ended_message_;
  console::Console console_;
  ProcessWatch watch_;
  // A start or a stop waits while window messages run; another request meanwhile is ignored.
  bool busy_ = false;
  bool ending_ = false;
  // The server was sent Ctrl+C and is being waited for; an exit meanwhile only waits as well.
  bool asking_ = false;
  std::string launched_server_;
};

}  // namespace server
