#include "server/control_win.h"

#include <algorithm>
#include <string>
#include <utility>

#include "platform/handles_win.h"
#include "server/console_ctrl_win.h"
#include "server/graceful_stop.h"
#include "server/process_win.h"
#include "server/server_log.h"
#include "server/start_rules.h"
#include "server/web_address_win.h"
#include "tray/notify_record.h"

namespace server {
namespace {

using control::Action;
using control::Event;

constexpr char kInfoCaption[] = "信息：";
constexpr char kNoServer[] = "Rivermesh 进程似乎不存在！";
// Our own shell ends with a code of its own at exit, whether or not it still ran the server.
constexpr UINT kShellExitCode = 3389;

// Timers of the window: the look at the shell's input, and the phase timer under ids of its own.
constexpr UINT_PTR kTypingTimer = 0x5230;
constexpr UINT_PTR kFirstPhaseTimer = 0x5231;
constexpr UINT_PTR kPhaseTimerIds = 0x400;
// The shell gives no sign when it has read a line: its input is looked at this often until then,
// for at most kTypingMostMs.
constexpr UINT kTypingLookMs = 5;
// A shell that has not read its first line by then is typed to as it is. A machine that starts a
// shell slowly (a login, a cold disk, a virus scanner) takes seconds; emulated, about a minute.
constexpr DWORD kTypingMostMs = 90000;
// A server being stopped that cannot be waited on is looked for this often.
constexpr DWORD kStopLookMs = 100;
// Events that came in during a step, waiting for it; clicks beyond this many are dropped.
constexpr std::size_t kMostWaiting = 16;

// These must be done when their handler returns: they never wait for a step under way.
bool ends_control(Event event) { return event == Event::kSessionEnd || event == Event::kShutdown; }

bool can_wait_for(DWORD pid) {
  return static_cast<bool>(win::unique_handle(::OpenProcess(SYNCHRONIZE, FALSE, pid)));
}

// How long the process has run, by its creation time, as far as the restart's rule asks: a server
// taken over may have run for hours. 0 when it cannot be read.
DWORD run_so_far(DWORD pid) {
  const win::unique_handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  FILETIME created{}, exited{}, kernel{}, user{}, now{};
  if (!process || !::GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) return 0;
  ::GetSystemTimeAsFileTime(&now);
  const auto count = [](const FILETIME& t) {
    return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
  };
  if (count(now) <= count(created)) return 0;
  return static_cast<DWORD>(
      std::min<std::uint64_t>((count(now) - count(created)) / 10000, control::kRestartAfterMs));
}

}  // namespace

std::size_t Control::recent_restarts() {
  const DWORD now = ::GetTickCount();
  std::erase_if(restarts_, [now](DWORD at) { return now - at >= control::kRestartWindowMs; });
  return restarts_.size();
}

bool Control::take_over() {
  dispatch(Event::kServerFound);
  return phase_ == control::Phase::kRunning;
}

void Control::stop_request() { dispatch(Event::kStop); }

void Control::exit_request() { dispatch(Event::kExit); }

void Control::end_session() { dispatch(Event::kSessionEnd); }

void Control::shutdown_kill() { dispatch(Event::kShutdown); }

bool Control::on_message(UINT message, WPARAM wp) {
  if (message == ended_message_) {
    dispatch(Event::kServerEnded, wp);
    return true;
  }
  if (message != WM_TIMER) return false;
  if (wp == kTypingTimer) {
    if (!typing_watched_) {
      ::KillTimer(view_.window(), kTypingTimer);
    } else if (console_.input_taken() || ::GetTickCount() - typing_since_ >= kTypingMostMs) {
      // A shell that has not read its first line by then is typed to as it is.
      dispatch(Event::kFirstLineTaken);
    }
    return true;
  }
  if (wp >= kFirstPhaseTimer && wp < kFirstPhaseTimer + kPhaseTimerIds) {
    ::KillTimer(view_.window(), wp);
    // The event of the timer armed last; a tick of an earlier one carries an older id and is
    // dropped before it is looked at.
    dispatch(timer_event_, wp);
    return true;
  }
  return false;
}

void Control::dispatch(Event event, WPARAM tag) {
  if (stepping_ && !ends_control(event)) {
    if (waiting_.size() < kMostWaiting) waiting_.push_back({event, tag});
    return;
  }
  const bool outermost = !stepping_;
  stepping_ = true;
  take_step({event, tag});
  if (!outermost) return;
  while (!waiting_.empty()) {
    const Pending next = waiting_.front();
    waiting_.erase(waiting_.begin());
    take_step(next);
  }
  stepping_ = false;
}

void Control::follow_up(Event event) {
  // Before anything that came in from outside during the step: it is that step's own result.
  waiting_.insert(waiting_.begin(), {event, 0});
}

void Control::take_step(Pending pending) {
  const Event event = pending.event;
  // A notice or a tick that an earlier step made out of date (a watch replaced, a timer
  // re-armed) while it waited is no event any more.
  if (event == Event::kServerEnded && !watch_.current(pending.tag)) return;
  if ((event == Event::kPortFree || event == Event::kPortHeld) && pending.tag != port_checks_) {
    return;
  }
  if ((event == Event::kServerAppeared || event == Event::kPortAnswered) &&
      pending.tag != launches_) {
    return;
  }
  if (control::is_timer(event)) {
    if (pending.tag != timer_) return;
    timer_ = 0;
  }
  if (!control::handles(phase_, event)) return;
  const control::Facts facts = facts_for(event);
  const auto step = control::step(phase_, event, facts);
  if (!step) return;
  phase_ = step->to;
  const unsigned mine = ++step_count_;
  for (const Action action : *step->actions) {
    if (action == Action::kNone) break;
    carry_out(action);
    // An event that ends the control came in meanwhile and took its own step.
    if (step_count_ != mine) break;
  }
}

control::Facts Control::facts_for(Event event) {
  control::Facts facts;
  facts.shown_running = server_shown_;
  // The server a start saw comes with the event: it is the one the start is about from now on,
  // and its run is counted from here (the running look waits for its port).
  if (event == Event::kServerAppeared) {
    target_ = sighting_.pid;
    running_since_ = ::GetTickCount();
  }
  const control::Needs needs = control::needs(phase_, event);
  if (needs.still_there_by_id) {
    facts.found =
        target_ != 0 && proc::id_has_name(proc::process_list(), target_, launch::kServerExe);
  }
  if (needs.server_by_path) {
    target_ = proc::find_by_path(server_path());
    facts.found = target_ != 0;
  }
  if (event == Event::kServerFound && facts.found) {
    // Only a server known to run from this copy's file is taken over: one whose path cannot be
    // read may be another user's copy anywhere.
    facts.found = proc::image_path(target_).has_value();
    if (facts.found) {
      taken_over_ = target_;
      running_since_ = ::GetTickCount() - run_so_far(target_);
    }
  }
  if (needs.restart_facts && !facts.found) {
    // config.ini is read only for a server that may be restarted at all.
    ran_long_enough_ = ::GetTickCount() - running_since_ >= control::kRestartAfterMs;
    restart_setting_ = ran_long_enough_ ? view_.auto_restart() : settings::AutoRestart::On;
    facts.restartable = ran_long_enough_ && restart_setting_ == settings::AutoRestart::On;
    facts.restarts_left = recent_restarts() < control::kMostRestarts;
  }
  if (needs.askable && facts.found) {
    const bool reachable =
        target_ == taken_over_ ||
        graceful::under_our_shell(proc::process_list(), target_, console_.shell_id());
    facts.askable = reachable && can_wait_for(target_);
  }
  return facts;
}

void Control::carry_out(Action action) {
  switch (action) {
    case Action::kNone:
      break;
    case Action::kCheckPort:
      check_port();
      break;
    case Action::kWriteScript:
      follow_up(write_script(start_script_, start_fields_) ? Event::kScriptWritten
                                                           : Event::kScriptFailed);
      break;
    case Action::kMessagePortHeld:
      view_.message(held_port_, launch::kErrorCaption, true);
      break;
    case Action::kMessageScriptFailed:
      view_.message(launch::kScriptFailed, launch::kErrorCaption, true);
      break;
    case Action::kLaunch:
      launch();
      break;
    case Action::kShowNewLog:
      // A restart's mark went into the new log's inbox before the shell could print anything.
      if (!restarting_) view_.clear_log();
      if (!web_address::loopback(start_fields_.ip) && !start_fields_.access_control) {
        mark(presentation::kOpenServerMark);
      }
      break;
    case Action::kTypeFirstLine:
      console_.write_line("echo off");
      break;
    case Action::kWatchTyping:
      typing_since_ = ::GetTickCount();
      typing_watched_ = ::SetTimer(view_.window(), kTypingTimer, kTypingLookMs, nullptr) != 0;
      // Without the timer the script is typed when the check is due.
      break;
    case Action::kStopWatchingTyping:
      typing_watched_ = false;
      ::KillTimer(view_.window(), kTypingTimer);
      break;
    case Action::kTypeScript:
      if (::GetFileAttributesA(server_path().c_str()) == INVALID_FILE_ATTRIBUTES) {
        follow_up(Event::kServerMissing);
      } else {
        console_.write_line(launch::kScriptName);
        look_out();
      }
      break;
    case Action::kArmAppearWait:
      arm(action, build::kAppearMostMs);
      break;
    case Action::kArmAnswerWait:
      arm(action, build::kAnswerMostMs);
      break;
    case Action::kArmStopGrace:
      arm(action, graceful::kStopGraceMs);
      break;
    case Action::kArmExitGrace:
      exit_deadline_ = ::GetTickCount() + graceful::kExitGraceMs;
      arm(action, graceful::kExitGraceMs);
      break;
    case Action::kArmStopWait:
      arm(action, control::kStopWaitMs);
      break;
    case Action::kCancelTimers:
      disarm();
      typing_watched_ = false;
      ::KillTimer(view_.window(), kTypingTimer);
      lookout_.cancel();
      sighting_ = {};
      break;
    case Action::kLookStarting:
      server_shown_ = true;
      view_.apply(presentation::kStarting);
      break;
    case Action::kLookRunning:
      server_shown_ = true;
      view_.apply(presentation::kRunning);
      break;
    case Action::kLookNotRunning:
      server_shown_ = false;
      view_.apply(presentation::kNotRunning);
      break;
    case Action::kLookRestartWaiting:
      server_shown_ = false;
      view_.apply(presentation::kRestartWaiting);
      break;
    case Action::kBalloonStarted: {
      const launch::Fields now = view_.fields();
      view_.balloon(presentation::kStartedTitle, presentation::started_text(now.ip, now.port),
                    tray::kBalloonNone, presentation::access_url(now.ip, now.port));
      if (web_address::any_address(start_fields_.ip)) {
        // Listed aside; the line follows the server's output so far, for this launch only.
        web_address::reachable_later(
            view_.window(), [this, launch = launches_,
                             port = start_fields_.port](std::vector<std::string> reachable) {
              if (launch != launches_) return;
              const std::string line =
                  presentation::lan_mark(web_address::lan_urls(reachable, port));
              mark(line);
              console_.log_note(line);
            });
      }
      break;
    }
    case Action::kBalloonNotAnswering:
      view_.balloon(presentation::kNotAnsweringTitle,
                    presentation::not_answering_text(start_fields_.port), tray::kBalloonError, {});
      break;
    case Action::kBalloonStartFailed:
      view_.balloon(presentation::kStartFailedTitle, presentation::kCheckSettingsText,
                    tray::kBalloonError, {});
      break;
    case Action::kBalloonStopped:
      view_.balloon(presentation::kStoppedTitle, presentation::kStoppedText, tray::kBalloonNone,
                    {});
      break;
    case Action::kBalloonStopFailed:
      view_.balloon(presentation::kStopFailedTitle, presentation::kStillRunningText,
                    tray::kBalloonError, {});
      break;
    case Action::kBalloonEnded:
      view_.balloon(presentation::kEndedTitle, presentation::kCheckSettingsText,
                    tray::kBalloonError, {});
      break;
    case Action::kTooltipRunning: {
      const launch::Fields now = view_.fields();
      view_.tooltip(presentation::running_tooltip(now.ip, now.port));
      break;
    }
    case Action::kTooltipStarting:
      view_.tooltip(presentation::kStartingTooltip);
      break;
    case Action::kTooltipIdle:
      view_.tooltip(presentation::kIdleTooltip);
      break;
    case Action::kMessageNoServer:
      view_.message(kNoServer, kInfoCaption, true);
      break;
    case Action::kWatchServer:
      watch_.watch(target_, launch::kServerExe, view_.window(), ended_message_);
      break;
    case Action::kAwaitEnd:
      watch_.watch(target_, launch::kServerExe, view_.window(), ended_message_, kStopLookMs);
      break;
    case Action::kCancelWatch:
      watch_.cancel();
      break;
    case Action::kSendCtrlC:
      if (!console::send_ctrl_c(ctrl_c_console())) follow_up(Event::kCtrlCFailed);
      break;
    case Action::kEndShell:
      if (const DWORD shell = console_.shell_id()) proc::terminate(shell);
      break;
    case Action::kEndServerAndShell:
      end_server_and_shell(target_);
      break;
    case Action::kLetGo:
      view_.let_go();
      break;
    case Action::kAskInPlace:
      if (console::send_ctrl_c(ctrl_c_console())) {
        wait_in_place(::GetTickCount() + graceful::kExitGraceMs);
      }
      break;
    case Action::kWaitInPlace:
      wait_in_place(::GetTickCount() + graceful::kExitGraceMs);
      break;
    case Action::kWaitRestInPlace:
      wait_in_place(exit_deadline_);
      break;
    case Action::kArmRestartWait:
      arm(action,
          control::kRestartWaitsMs[std::min(recent_restarts(), control::kMostRestarts - 1)]);
      break;
    case Action::kBalloonRestart: {
      const std::size_t nth = std::min(recent_restarts(), control::kMostRestarts - 1);
      view_.balloon(presentation::kEndedTitle,
                    presentation::restart_text(control::kRestartWaitsMs[nth] / 1000,
                                               static_cast<unsigned>(nth + 1)),
                    tray::kBalloonError, {});
      break;
    }
    case Action::kBalloonRestartsUsedUp:
      view_.balloon(presentation::kEndedTitle, presentation::kRestartsUsedUpText,
                    tray::kBalloonError, {});
      break;
    case Action::kRestart:
      restarts_.push_back(::GetTickCount());
      restarting_ = true;
      request_start();
      break;
    case Action::kKillAll:
      if (const DWORD server_id = proc::find_by_path(server_path())) {
        end_server_and_shell(server_id);
      }
      console_.release(kShellExitCode);
      console_.log_end(server_log::End::program_exit());
      break;
    case Action::kEndStart:
      end_start();
      break;
    case Action::kLogStart:
      console_.log_next_start(start_fields_);
      break;
    case Action::kLogStopped:
      console_.log_end(server_log::End::stop());
      break;
    case Action::kLogExitCode:
      console_.log_end(server_log::End::exit_code(watch_.exit_code()));
      break;
    case Action::kLogStartFailed:
      console_.log_end(server_log::End::start_failed());
      break;
    case Action::kMarkShellFailed:
      mark(presentation::kShellFailedMark);
      break;
    case Action::kMarkServerMissing:
      mark(presentation::server_missing_mark(server_path()));
      break;
    case Action::kMarkNotAppeared:
      mark(presentation::not_appeared_mark(build::kAppearMostMs / 1000));
      break;
    case Action::kMarkEndedStarting:
      mark(presentation::ended_starting_mark(watch_.exit_code()));
      break;
    case Action::kMarkNotRestarted:
      mark(presentation::not_restarted_mark(ran_long_enough_, restart_setting_));
      break;
    case Action::kMarkTakenOver:
      log_ = view_.new_log_inbox();
      mark(presentation::taken_over_mark(target_));
      break;
    case Action::kLogTakenOver:
      console_.log_taken_over(target_, log_);
      break;
  }
}

void Control::mark(std::string_view line) {
  if (log_) log_->put(line);
}

void Control::arm(Action action, std::uint32_t ms) {
  disarm();
  timer_event_ = *control::timer_event(action);
  const UINT_PTR id = kFirstPhaseTimer + ++timers_armed_ % kPhaseTimerIds;
  if (::SetTimer(view_.window(), id, ms, nullptr) != 0) {
    timer_ = id;
  } else {
    // A phase must not wait for a timer that never comes: its time is up at once.
    follow_up(timer_event_);
  }
}

void Control::disarm() {
  if (timer_ != 0) ::KillTimer(view_.window(), timer_);
  timer_ = 0;
}

// Only at the session end: Windows may end the program once the handler returns. No window
// message is handled meanwhile, so nothing runs into the control while it waits.
void Control::wait_in_place(DWORD until_tick) {
  if (target_ == 0) return;
  const win::unique_handle server(::OpenProcess(SYNCHRONIZE, FALSE, target_));
  const auto left = static_cast<long>(until_tick - ::GetTickCount());
  if (server && left > 0) ::WaitForSingleObject(server.get(), static_cast<DWORD>(left));
}

void Control::launch() {
  const std::string folder = view_.server_folder();
  log_ = view_.new_log_inbox();
  if (restarting_) mark(presentation::kRestartMark);
  const HANDLE notices = lookout_.prepare();
  if (!console_.launch(folder, log_, notices)) {
    lookout_.cancel();
    follow_up(Event::kShellFailed);
    return;
  }
  launched_server_ = folder + launch::kServerExe;
  taken_over_ = 0;
  ++launches_;
  follow_up(Event::kShellStarted);
}

void Control::look_out() {
  const WPARAM launch = launches_;
  lookout_.begin(
      console_.job(), launched_server_, start::probe_host(start_fields_.ip), start_fields_.port,
      view_.window(),
      [this, launch](const StartLookout::Sighting& seen) {
        if (launch != launches_) return;
        sighting_ = seen;
        dispatch(Event::kServerAppeared, launch);
      },
      [this, launch] { dispatch(Event::kPortAnswered, launch); });
}

void Control::end_start() {
  // A server under our shell ends with it; one the user started elsewhere is not ours to end.
  const DWORD shell = console_.shell_id();
  if (const DWORD server_id = proc::find_by_path(server_path())) {
    if (graceful::under_our_shell(proc::process_list(), server_id, shell)) {
      proc::terminate(server_id);
    }
  }
  // The job's end takes whatever else the shell started.
  console_.release(kShellExitCode);
}

DWORD Control::ctrl_c_console() const {
  // A server started elsewhere has a console of its own (a prompt's, a shell's that is gone);
  // where it has none, the attach fails and the stop forces it.
  return target_ != 0 && target_ == taken_over_ ? target_ : console_.shell_id();
}

void Control::end_server_and_shell(DWORD server_id) {
  if (server_id == 0) return;
  const long parent = proc::parent_of(std::to_string(server_id));
  if (proc::ends_parent(parent, console_.shell_id())) proc::terminate(static_cast<DWORD>(parent));
  proc::terminate(server_id);
}

std::string Control::server_path() const {
  if (!launched_server_.empty()) return launched_server_;
  const std::string folder = view_.server_folder();
  return folder.empty() ? std::string() : folder + launch::kServerExe;
}

}  // namespace server
