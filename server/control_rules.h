// The server control's rules: what it is doing now (its phase), what may happen to it (events),
// and for each pair the phase it goes to and what it does on the way. The Windows side makes the
// look-ups needs() names for an event, asks step() and carries out the actions in order; it
// decides nothing itself. No message loop runs inside a step, so every event meets a settled phase.
#pragma once

#include <array>
#include <cstdint>
#include <iterator>
#include <optional>
#include <span>

namespace control {

enum class Phase : std::uint8_t {
  kIdle,            // nothing under way; the not-running look is shown
  kChecking,        // a start asks aside whether another program holds the web port
  kTyping,          // a start's shell is being made, or has "echo off" but has not taken it yet
  kStarting,        // the script is typed: the server has not been seen yet
  kAnswering,       // the server runs and is watched; its web port has not answered yet
  kRunning,         // the running look is shown; the server's end is watched
  kRestartWaiting,  // the server ended by itself; its restart waits for its timer
  kStopAsked,       // a stop sent the server Ctrl+C and gives it its grace
  kStopForced,      // a stop terminated the server and waits to see it gone
  kExiting,         // the window and the icon are gone; the server is given the exit grace
  kEnded,           // the program ends: nothing more is started, stopped or shown
};
inline constexpr std::size_t kPhaseCount = 11;

enum class Event : std::uint8_t {
  kStart,           // the start request's fields passed their checks
  kPortFree,        // no other program listens on the web port (follows kCheckPort)
  kPortHeld,        // another program does: its name is known
  kScriptWritten,   // the launch script is on disk (follows kWriteScript)
  kScriptFailed,    // it could not be written
  kShellStarted,    // the launch started a shell (follows kLaunch)
  kShellFailed,     // no shell could be started
  kFirstLineTaken,  // the shell has read "echo off"
  kServerMissing,   // the server file is not there as the script is typed (follows kTypeScript)
  kServerAppeared,  // a process of the server file runs under this start's shell
  kPortAnswered,    // its web port accepted a connection
  // The timers, each its own event: the timer a row arms is the one the phase it goes to waits
  // for (timer_event()).
  kAppearBound,      // the server has not appeared within its bound of the script being typed
  kAnswerBound,      // its web port has not answered within its bound of it appearing
  kStopGraceOver,    // the server asked by a stop has not ended within the stop grace
  kExitGraceOver,    // the server asked by the exit has not ended within the exit grace
  kStopWaitOver,     // the forced end has had its time to show
  kRestartWaitOver,  // the wait before an automatic restart is over
  kStop,             // the stop button or the tray entry
  kServerEnded,      // the watched server has ended
  kCtrlCFailed,      // Ctrl+C could not be delivered (follows kSendCtrlC)
  kExit,             // "退出": the window and the icon have gone
  kSessionEnd,       // Windows ends the session: the server must be gone when the step returns
  kShutdown,         // the window is destroyed
  // At start-up, while nothing is under way: a server of this copy's file runs already (a copy
  // of the program that crashed or was ended, a start by hand); it is taken over as running.
  kServerFound,
};
inline constexpr std::size_t kEventCount = 24;

enum class Action : std::uint8_t {
  kNone,       // the end of a row's actions
  kCheckPort,  // on a thread of its own: the look-up takes tens of milliseconds
  kWriteScript,
  kMessagePortHeld,
  kMessageScriptFailed,
  kLaunch,
  kShowNewLog,  // a start by hand clears the log tab; an automatic restart keeps it, with a mark
  kTypeFirstLine,
  kWatchTyping,
  kStopWatchingTyping,
  kTypeScript,
  kArmAppearWait,  // the bound for the server to appear once the script is typed
  kArmAnswerWait,  // the bound for its web port to answer once it appeared
  kArmStopGrace,
  kArmExitGrace,
  kArmStopWait,
  kCancelTimers,  // the phase timer, the look at the shell's input and a start's look-out
  kLookStarting,
  kLookRunning,
  kLookNotRunning,
  kLookRestartWaiting,
  kBalloonStarted,
  kBalloonNotAnswering,
  kBalloonStartFailed,
  kBalloonStopped,
  kBalloonStopFailed,
  kBalloonEnded,
  kTooltipStarting,
  kTooltipRunning,
  kTooltipIdle,
  kMessageNoServer,
  kWatchServer,  // report the server's end as news
  kAwaitEnd,     // a stop or an exit waits for the server's end
  kCancelWatch,
  kSendCtrlC,
  kEndShell,           // our shell, once the server under it has ended
  kEndServerAndShell,  // terminate the server, and its parent when that is our shell
  kLetGo,              // the exit may end the program now
  kAskInPlace,         // Ctrl+C, then wait for the server's end before returning (exit grace)
  kWaitInPlace,        // wait for the server's end before returning (exit grace)
  kWaitRestInPlace,    // the same, until the running exit grace is over
  kKillAll,            // terminate the server and our shell, close the console
  kEndStart,           // a failed start: our shell and whatever it started end
  kArmRestartWait,
  kBalloonRestart,
  kBalloonRestartsUsedUp,
  kRestart,  // the start request, as the start button makes it, counted as a restart
  // The server's log on disk: the next launch's header, and a run's end line. The exit code is
  // read from the watch, so it comes before the watch is cancelled or replaced.
  kLogStart,
  kLogStopped,
  kLogExitCode,
  kLogStartFailed,
  // The program's own line in the log tab where the shell says nothing: why the start failed, or
  // why the server that ended by itself is not started again. The exit code is the watch's.
  kMarkShellFailed,
  kMarkServerMissing,
  kMarkNotAppeared,
  kMarkEndedStarting,
  kMarkNotRestarted,
  // A server taken over: the log tab says so (its output never reaches the program), and the
  // log on disk opens a run for it.
  kMarkTakenOver,
  kLogTakenOver,
};

// What the Windows side found out for an event. found: a server of ours runs (for the end of a
// forced stop: the server being stopped is still there); askable: it can be waited for, and
// Ctrl+C may go to it: it runs under our shell, or it was taken over at start-up and is asked
// through its own console (where that cannot be reached, Ctrl+C fails); shown_running: the running
// look (or the starting look, which also says that a server of ours is there or coming) is shown;
// restartable: the server that ended had run long enough to be restarted and config.ini, read at
// that moment, says the restart is on (a file that could not be read says nothing, and nothing is
// started on it); restarts_left: fewer restarts than the most were made lately.
struct Facts {
  bool found = false;
  bool askable = false;
  bool shown_running = false;
  bool restartable = false;
  bool restarts_left = false;
};

// When a row applies, beside its phase and event.
enum class Guard : std::uint8_t {
  kAny,
  kMissing,         // !found
  kFound,           // found
  kAskable,         // found && askable
  kForcible,        // found && !askable
  kNotAskable,      // !(found && askable)
  kFoundShown,      // found && shown_running
  kFoundHidden,     // found && !shown_running
  kEndedForGood,    // !found && !restartable
  kRestartDue,      // !found && restartable && restarts_left
  kRestartsUsedUp,  // !found && restartable && !restarts_left
};
bool holds(Guard guard, const Facts& facts);

inline constexpr std::size_t kMaxActions = 8;
using Actions = std::array<Action, kMaxActions>;

// The phases a row applies in: many rules (the exit, the session end, a stop) are the same in
// several phases and are written once for all of them.
class Phases {
 public:
  // A single phase is the set of it alone, so a row names one phase as it is.
  constexpr Phases(Phase phase) : bits_(bit(phase)) {}  // NOLINT(google-explicit-constructor)
  constexpr bool has(Phase phase) const { return (bits_ & bit(phase)) != 0; }
  friend constexpr Phases operator|(Phases a, Phases b) { return Phases(a.bits_ | b.bits_); }

 private:
  static_assert(kPhaseCount <= 16);
  constexpr explicit Phases(std::uint16_t bits) : bits_(bits) {}
  static constexpr std::uint16_t bit(Phase phase) {
    return static_cast<std::uint16_t>(1u << static_cast<unsigned>(phase));
  }
  std::uint16_t bits_;
};
// Two phases make a set too: the operator above is found only where one side is a set already.
constexpr Phases operator|(Phase a, Phase b) { return Phases(a) | Phases(b); }

struct Row {
  Phases from;
  Event event;
  Guard guard;
  Phase to;
  Actions actions;
};

// Every rule. A (phase, event) pair without a row is ignored: it changes nothing.
std::span<const Row> table();

struct Step {
  Phase to;
  const Actions* actions;
};
// The row for this phase, event and facts; nothing when the event is ignored there.
std::optional<Step> step(Phase from, Event event, const Facts& facts);
// Whether the phase has any row for the event (then its facts are worth gathering).
bool handles(Phase from, Event event);

// The event an arming action's timer brings when it runs out; nothing for any other action.
std::optional<Event> timer_event(Action action);
// Whether the event is a timer's: a tick of a timer re-armed or cancelled since is no event.
bool is_timer(Event event);

// The look-ups the Windows side makes before a step, by phase and event; none for an event the
// phase ignores. shown_running is always known and needs none.
struct Needs {
  // The server of ours by the path of its file (found, and the server the step is about).
  bool server_by_path = false;
  // When it was found: whether it runs under our shell (or was taken over) and can be waited for
  // (askable).
  bool askable = false;
  // When none was found: whether the server that ended may be started again (restartable,
  // restarts_left).
  bool restart_facts = false;
  // Whether the server being stopped is still there, by its id (found): another copy of the same
  // file found by its path would say nothing about the forced end.
  bool still_there_by_id = false;
};
Needs needs(Phase from, Event event);

// How long each timer runs. A start is decided by the server: started once its web port
// answers, failed when it ended first or did not appear within kAppearMostMs of the script being
// typed, kept but reported when its port has not answered within kAnswerMostMs of it appearing.
// The test build has shorter bounds (server/start_bounds_win.cpp).
inline constexpr std::uint32_t kAppearMostMs = 30000;
inline constexpr std::uint32_t kAnswerMostMs = 60000;
// The graces a server asked with Ctrl+C is given are graceful::kStopGraceMs and kExitGraceMs.
// A forced end is given this long to show; a server still there then was not ours to end.
inline constexpr std::uint32_t kStopWaitMs = 2000;
// A server that ends by itself after running at least kRestartAfterMs is started again after
// the wait of its turn; at most kMostRestarts within kRestartWindowMs.
inline constexpr std::uint32_t kRestartAfterMs = 5000;
inline constexpr std::uint32_t kRestartWaitsMs[] = {1000, 5000, 15000};
inline constexpr std::size_t kMostRestarts = std::size(kRestartWaitsMs);
inline constexpr std::uint32_t kRestartWindowMs = 10 * 60 * 1000;

const char* name(Phase phase);
const char* name(Event event);
const char* name(Guard guard);

}  // namespace control
