// Starting and stopping the server: the Windows side of the control's rules
// (server/control_rules.h). It makes the look-ups the rules say an event needs, carries out the
// actions of its step, and turns timers, the watch's notice and the results of actions into
// further events (server/control_win.cpp). The start request, with its checks, the port's
// look-up and the launch script, is server/start_request_win.cpp. The window is reached through
// the small View that the application hands in.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings.h"
#include "server/console_win.h"
#include "server/control_rules.h"
#include "server/launch.h"
#include "server/presentation.h"
#include "server/start_lookout_win.h"
#include "server/watch_win.h"

namespace server {

// A start's bounds as this executable has them: the control's own, shorter in the test build so
// that its tests wait seconds (server/start_bounds_win.cpp, compiled once per executable).
namespace build {
extern const std::uint32_t kAppearMostMs;
extern const std::uint32_t kAnswerMostMs;
}  // namespace build

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
  // Where a new launch's output goes: the log's inbox for it. Output of earlier launches is not
  // shown from here on.
  virtual std::shared_ptr<console::Inbox> new_log_inbox() = 0;
  // The log of the new launch starts empty.
  virtual void clear_log() = 0;
  // Whether a server that ends by itself is started again (read anew at each end, at once: the
  // window's thread never waits for a file another program holds).
  virtual settings::AutoRestart auto_restart() = 0;
  // The exit has given the server its chance: the program may end now.
  virtual void let_go() = 0;
  // The window that receives the control's timers and the watch's notices.
  virtual HWND window() const = 0;
};

class Control {
 public:
  // The end of the watched server reaches the window as ended_message.
  Control(View& view, UINT ended_message) : view_(view), ended_message_(ended_message) {}

  // At start-up, before anything starts: a server that runs from this copy's server file is
  // taken over as running (watched, stopped and restarted as one the program started). True
  // when one was.
  bool take_over();
  // The start button and the tray entry; a start by hand begins a fresh count of restarts.
  void start_request();
  void stop_request();
  // "退出", once the window and the icon are gone: a server that can be asked is given the exit
  // grace to end on Ctrl+C; then the View is told to let the program go.
  void exit_request();
  // The session ends: returns once the server and the shell are gone (waiting in place for at
  // most the rest of the exit grace).
  void end_session();
  // The window is destroyed: ends the server, its shell and the console; shows nothing.
  void shutdown_kill();
  // The control's timers and the watch's notices; false for any other message.
  bool on_message(UINT message, WPARAM wp);

 private:
  // The start request (server/start_request_win.cpp): the fields and the folder are checked
  // before the control hears of it.
  void request_start();
  bool write_script(const std::string& path, const launch::Fields& fields) const;
  // Asks on a thread of its own whether another program holds the web port or the system keeps
  // it; the answer comes back on the UI thread as an event.
  void check_port();

  // Restarts made within the last kRestartWindowMs.
  std::size_t recent_restarts();
  // tag: the watch's token of a notice, the id of a timer's tick.
  struct Pending {
    control::Event event;
    WPARAM tag;
  };
  void dispatch(control::Event event, WPARAM tag = 0);
  // The result of an action, as the next event.
  void follow_up(control::Event event);
  void take_step(Pending pending);
  control::Facts facts_for(control::Event event);
  void carry_out(control::Action action);
  // The phase timer for an arming action: its tick brings that action's event.
  void arm(control::Action action, std::uint32_t ms);
  void disarm();
  void wait_in_place(DWORD until_tick);
  void launch();
  // Once the script is typed: the look-out for the server and its port.
  void look_out();
  // A start that failed: the server under our shell, the shell and its job end.
  void end_start();
  // A line of the program's own in the log tab of the last launch.
  void mark(std::string_view line);
  // Where a Ctrl+C for the server goes: the console of the server taken over, else our shell's.
  DWORD ctrl_c_console() const;
  // Terminates the server and, when it ran there, the shell this program started. Any other
  // parent (the desktop shell, a prompt of the user's) is left alone.
  void end_server_and_shell(DWORD server_id);
  // The server file this program's server runs from: the one the last launch ran (the file
  // location may have been changed since), else the one in the server folder. Servers of copies
  // in other folders are not ours to report or end.
  std::string server_path() const;

  View& view_;
  const UINT ended_message_;
  console::Console console_;
  ProcessWatch watch_;
  // The look-out of the start under way, the server it saw, and the number of launches: a
  // result of an earlier launch's look-out carries an older number and changes nothing.
  StartLookout lookout_;
  StartLookout::Sighting sighting_;
  WPARAM launches_ = 0;
  // The start under way is an automatic restart: its log tab keeps the output before it.
  bool restarting_ = false;
  // The log tab's inbox of the last launch, where the program's own lines go too.
  std::shared_ptr<console::Inbox> log_;
  // What the last end of a server shown running was restarted on or not: whether it had run long
  // enough, and what config.ini said then.
  bool ran_long_enough_ = false;
  settings::AutoRestart restart_setting_ = settings::AutoRestart::On;
  // The running or the starting look is shown: a server of ours is there or coming.
  bool server_shown_ = false;
  std::string launched_server_;
  // The start under way: its fields as they were at the click, its script, and the port's answer.
  launch::Fields start_fields_;
  std::string start_script_;
  std::string held_port_;
  WPARAM port_checks_ = 0;

  control::Phase phase_ = control::Phase::kIdle;
  // The server the current start, stop or exit is about.
  DWORD target_ = 0;
  // The server taken over at start-up, until the next launch: not under our shell, it is asked
  // through its own console.
  DWORD taken_over_ = 0;
  // Steps are carried out one at a time: an event that arrives while a step's actions run (a
  // message box's own loop, a call that lets sent messages in) waits for it, except those that
  // end the control, which must be done when their handler returns.
  bool stepping_ = false;
  unsigned step_count_ = 0;
  std::vector<Pending> waiting_;  // oldest first; a handful at most
  // The phase timer: one at a time, each armed under a new id so that a late tick of an earlier
  // one is known as such.
  UINT_PTR timer_ = 0;
  UINT_PTR timers_armed_ = 0;
  control::Event timer_event_ = control::Event::kAppearBound;
  DWORD exit_deadline_ = 0;
  bool typing_watched_ = false;
  DWORD typing_since_ = 0;
  // When the server last appeared, and the ticks of the restarts made since a start by
  // hand (a handful at most).
  DWORD running_since_ = 0;
  std::vector<DWORD> restarts_;
};

}  // namespace server
