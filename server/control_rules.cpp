#include "server/control_rules.h"

namespace control {
namespace {

using A = Action;
using E = Event;
using G = Guard;
using P = Phase;

// The stop's good end: the server is gone.
constexpr Actions kStopped{A::kCancelTimers,   A::kCancelWatch,    A::kLogStopped,
                           A::kLookNotRunning, A::kBalloonStopped, A::kTooltipIdle};
// The server is asked first when it runs under our shell; else the exit goes on at once and the
// shutdown kill ends whatever runs.
constexpr Actions kExitAsking{A::kCancelTimers, A::kCancelWatch, A::kSendCtrlC, A::kAwaitEnd,
                              A::kArmExitGrace};
constexpr Actions kExitNow{A::kCancelTimers, A::kCancelWatch, A::kLetGo};
constexpr Actions kSessionAsking{A::kCancelTimers, A::kCancelWatch, A::kAskInPlace, A::kKillAll};
constexpr Actions kSessionNow{A::kCancelTimers, A::kCancelWatch, A::kKillAll};
constexpr Actions kKill{A::kCancelTimers, A::kCancelWatch, A::kKillAll};
// A start that did not come to a server: nothing it made may run on untracked.
constexpr Actions kStartFailed{A::kCancelTimers,   A::kEndStart,    A::kLogStartFailed,
                               A::kLookNotRunning, A::kTooltipIdle, A::kBalloonStartFailed};
// A stop of a server of ours: asked with Ctrl+C under our shell, else terminated at once.
constexpr Actions kStopAsking{A::kCancelTimers, A::kCancelWatch, A::kSendCtrlC, A::kAwaitEnd,
                              A::kArmStopGrace};
constexpr Actions kStopForcing{A::kCancelTimers, A::kCancelWatch, A::kEndServerAndShell,
                               A::kAwaitEnd, A::kArmStopWait};
// A stop while a start waits for a server that is not there yet: the start ends.
constexpr Actions kStartStopped{A::kCancelTimers, A::kCancelWatch,    A::kEndStart,
                                A::kLogStopped,   A::kLookNotRunning, A::kBalloonStopped,
                                A::kTooltipIdle};
constexpr Actions kNoServer{A::kCancelWatch, A::kMessageNoServer, A::kLookNotRunning,
                            A::kBalloonStopped, A::kTooltipIdle};

constexpr Row kRows[] = {
    // A start: the server would only fail on a port another program listens on, so that program
    // is named instead; the look-up runs aside. Then the script is written, the shell started
    // and, when it came up, takes "echo off"; the script follows once the shell has read that
    // line (a shell that reads its input in blocks would lose a second line written with it).
    // The start is then decided by the server: its process appears under our shell, and its web
    // port answers. Nothing is decided by a fixed wait.
    {P::kIdle, E::kStart, G::kAny, P::kChecking, {A::kStopWatchingTyping, A::kCheckPort}},
    {P::kChecking, E::kPortHeld, G::kAny, P::kIdle, {A::kMessagePortHeld}},
    {P::kChecking, E::kPortFree, G::kAny, P::kChecking, {A::kWriteScript}},
    {P::kChecking, E::kScriptFailed, G::kAny, P::kIdle, {A::kMessageScriptFailed}},
    {P::kChecking,
     E::kScriptWritten,
     G::kAny,
     P::kTyping,
     {A::kLookStarting, A::kTooltipStarting, A::kLogStart, A::kLaunch}},
    {P::kTyping,
     E::kShellStarted,
     G::kAny,
     P::kTyping,
     {A::kShowNewLog, A::kTypeFirstLine, A::kWatchTyping}},
    {P::kTyping, E::kShellFailed, G::kAny, P::kIdle, kStartFailed},
    {P::kTyping,
     E::kFirstLineTaken,
     G::kAny,
     P::kStarting,
     {A::kStopWatchingTyping, A::kTypeScript, A::kArmAppearWait}},
    {P::kStarting, E::kServerMissing, G::kAny, P::kIdle, kStartFailed},
    {P::kStarting, E::kTimeUp, G::kAny, P::kIdle, kStartFailed},
    {P::kStarting,
     E::kServerAppeared,
     G::kAny,
     P::kAnswering,
     {A::kWatchServer, A::kArmAnswerWait}},
    {P::kAnswering,
     E::kPortAnswered,
     G::kAny,
     P::kRunning,
     {A::kCancelTimers, A::kLookRunning, A::kBalloonStarted, A::kTooltipRunning}},
    // A slow server is not killed: it is kept and watched, and the user is told where to look.
    {P::kAnswering,
     E::kTimeUp,
     G::kAny,
     P::kRunning,
     {A::kCancelTimers, A::kLookRunning, A::kBalloonNotAnswering, A::kTooltipRunning}},
    {P::kAnswering,
     E::kServerEnded,
     G::kAny,
     P::kIdle,
     {A::kLogExitCode, A::kCancelWatch, A::kCancelTimers, A::kEndStart, A::kLookNotRunning,
      A::kTooltipIdle, A::kBalloonStartFailed}},

    // The server's own end while it is shown running; another run of the same server file keeps
    // the look true.
    {P::kRunning, E::kServerEnded, G::kFound, P::kRunning, {A::kLogExitCode, A::kWatchServer}},
    {P::kRunning,
     E::kServerEnded,
     G::kEndedForGood,
     P::kIdle,
     {A::kLogExitCode, A::kCancelWatch, A::kLookNotRunning, A::kTooltipIdle, A::kBalloonEnded}},
    {P::kRunning,
     E::kServerEnded,
     G::kRestartsUsedUp,
     P::kIdle,
     {A::kLogExitCode, A::kCancelWatch, A::kLookNotRunning, A::kTooltipIdle,
      A::kBalloonRestartsUsedUp}},
    // A server that had run a while is started again after a wait, as the start button would.
    // A start by hand meanwhile takes its place; a stop (enabled while it waits), an exit or a
    // session end cancels it.
    {P::kRunning,
     E::kServerEnded,
     G::kRestartDue,
     P::kRestartWaiting,
     {A::kLogExitCode, A::kCancelWatch, A::kLookRestartWaiting, A::kTooltipIdle, A::kBalloonRestart,
      A::kArmRestartWait}},
    {P::kRestartWaiting, E::kTimeUp, G::kAny, P::kIdle, {A::kLookNotRunning, A::kRestart}},
    {P::kRestartWaiting,
     E::kStart,
     G::kAny,
     P::kChecking,
     {A::kCancelTimers, A::kLookNotRunning, A::kCheckPort}},
    {P::kRestartWaiting,
     E::kStop,
     G::kAny,
     P::kIdle,
     {A::kCancelTimers, A::kLookNotRunning, A::kBalloonStopped, A::kTooltipIdle}},
    {P::kRestartWaiting, E::kExit, G::kAskable, P::kExiting, kExitAsking},
    {P::kRestartWaiting, E::kExit, G::kNotAskable, P::kExiting, kExitNow},
    {P::kRestartWaiting, E::kSessionEnd, G::kAskable, P::kEnded, kSessionAsking},
    {P::kRestartWaiting, E::kSessionEnd, G::kNotAskable, P::kEnded, kSessionNow},
    {P::kRestartWaiting, E::kShutdown, G::kAny, P::kEnded, kKill},

    // A stop. Its own end of the server is no news: the watch goes first. A server under our
    // shell is asked with Ctrl+C and given its grace; any other is terminated at once. During a
    // start the stop ends what runs, as it would once started.
    {P::kIdle, E::kStop, G::kMissing, P::kIdle, kNoServer},
    {P::kRunning, E::kStop, G::kMissing, P::kIdle, kNoServer},
    {P::kIdle, E::kStop, G::kAskable, P::kStopAsked, kStopAsking},
    {P::kTyping, E::kStop, G::kAskable, P::kStopAsked, kStopAsking},
    {P::kStarting, E::kStop, G::kAskable, P::kStopAsked, kStopAsking},
    {P::kAnswering, E::kStop, G::kAskable, P::kStopAsked, kStopAsking},
    {P::kRunning, E::kStop, G::kAskable, P::kStopAsked, kStopAsking},
    {P::kIdle, E::kStop, G::kForcible, P::kStopForced, kStopForcing},
    {P::kTyping, E::kStop, G::kForcible, P::kStopForced, kStopForcing},
    {P::kStarting, E::kStop, G::kForcible, P::kStopForced, kStopForcing},
    {P::kAnswering, E::kStop, G::kForcible, P::kStopForced, kStopForcing},
    {P::kRunning, E::kStop, G::kForcible, P::kStopForced, kStopForcing},
    {P::kTyping, E::kStop, G::kMissing, P::kIdle, kStartStopped},
    {P::kStarting, E::kStop, G::kMissing, P::kIdle, kStartStopped},
    {P::kAnswering, E::kStop, G::kMissing, P::kIdle, kStartStopped},
    // Whatever the shell makes of its interrupted script, it ends as it always has.
    {P::kStopAsked,
     E::kServerEnded,
     G::kAny,
     P::kIdle,
     {A::kCancelTimers, A::kCancelWatch, A::kEndShell, A::kLogStopped, A::kLookNotRunning,
      A::kBalloonStopped, A::kTooltipIdle}},
    {P::kStopAsked, E::kTimeUp, G::kAny, P::kStopForced, {A::kEndServerAndShell, A::kArmStopWait}},
    {P::kStopAsked,
     E::kCtrlCFailed,
     G::kAny,
     P::kStopForced,
     {A::kEndServerAndShell, A::kArmStopWait}},
    {P::kStopForced, E::kServerEnded, G::kAny, P::kIdle, kStopped},
    {P::kStopForced, E::kTimeUp, G::kMissing, P::kIdle, kStopped},
    // A termination may be refused (another user's server): the stop says so instead of
    // "stopped", and a server shown running is watched again.
    {P::kStopForced,
     E::kTimeUp,
     G::kFoundShown,
     P::kRunning,
     {A::kCancelWatch, A::kWatchServer, A::kLookRunning, A::kTooltipRunning,
      A::kBalloonStopFailed}},
    {P::kStopForced,
     E::kTimeUp,
     G::kFoundHidden,
     P::kIdle,
     {A::kCancelWatch, A::kLogStopped, A::kBalloonStopFailed}},

    // The exit. A server asked already by a stop is only given the exit grace: a second Ctrl+C
    // could cut short the clean end the first one began.
    {P::kIdle, E::kExit, G::kAskable, P::kExiting, kExitAsking},
    {P::kIdle, E::kExit, G::kNotAskable, P::kExiting, kExitNow},
    {P::kChecking, E::kExit, G::kAskable, P::kExiting, kExitAsking},
    {P::kChecking, E::kExit, G::kNotAskable, P::kExiting, kExitNow},
    {P::kTyping, E::kExit, G::kAskable, P::kExiting, kExitAsking},
    {P::kTyping, E::kExit, G::kNotAskable, P::kExiting, kExitNow},
    {P::kStarting, E::kExit, G::kAskable, P::kExiting, kExitAsking},
    {P::kStarting, E::kExit, G::kNotAskable, P::kExiting, kExitNow},
    {P::kAnswering, E::kExit, G::kAskable, P::kExiting, kExitAsking},
    {P::kAnswering, E::kExit, G::kNotAskable, P::kExiting, kExitNow},
    {P::kRunning, E::kExit, G::kAskable, P::kExiting, kExitAsking},
    {P::kRunning, E::kExit, G::kNotAskable, P::kExiting, kExitNow},
    {P::kStopAsked, E::kExit, G::kAny, P::kExiting, {A::kArmExitGrace}},
    {P::kStopForced, E::kExit, G::kAny, P::kExiting, kExitNow},
    {P::kExiting, E::kServerEnded, G::kAny, P::kExiting, kExitNow},
    {P::kExiting, E::kTimeUp, G::kAny, P::kExiting, kExitNow},
    {P::kExiting, E::kCtrlCFailed, G::kAny, P::kExiting, kExitNow},

    // The session end: Windows may end the program once the handler returns, so the server's
    // grace is waited for in place, and no other event runs meanwhile.
    {P::kIdle, E::kSessionEnd, G::kAskable, P::kEnded, kSessionAsking},
    {P::kIdle, E::kSessionEnd, G::kNotAskable, P::kEnded, kSessionNow},
    {P::kChecking, E::kSessionEnd, G::kAskable, P::kEnded, kSessionAsking},
    {P::kChecking, E::kSessionEnd, G::kNotAskable, P::kEnded, kSessionNow},
    {P::kTyping, E::kSessionEnd, G::kAskable, P::kEnded, kSessionAsking},
    {P::kTyping, E::kSessionEnd, G::kNotAskable, P::kEnded, kSessionNow},
    {P::kStarting, E::kSessionEnd, G::kAskable, P::kEnded, kSessionAsking},
    {P::kStarting, E::kSessionEnd, G::kNotAskable, P::kEnded, kSessionNow},
    {P::kAnswering, E::kSessionEnd, G::kAskable, P::kEnded, kSessionAsking},
    {P::kAnswering, E::kSessionEnd, G::kNotAskable, P::kEnded, kSessionNow},
    {P::kRunning, E::kSessionEnd, G::kAskable, P::kEnded, kSessionAsking},
    {P::kRunning, E::kSessionEnd, G::kNotAskable, P::kEnded, kSessionNow},
    {P::kStopAsked,
     E::kSessionEnd,
     G::kAny,
     P::kEnded,
     {A::kCancelTimers, A::kCancelWatch, A::kWaitInPlace, A::kKillAll}},
    {P::kStopForced, E::kSessionEnd, G::kAny, P::kEnded, kSessionNow},
    {P::kExiting,
     E::kSessionEnd,
     G::kAny,
     P::kEnded,
     {A::kCancelTimers, A::kCancelWatch, A::kWaitRestInPlace, A::kKillAll}},

    // The window is destroyed: whatever runs ends, silently.
    {P::kIdle, E::kShutdown, G::kAny, P::kEnded, kKill},
    {P::kChecking, E::kShutdown, G::kAny, P::kEnded, kKill},
    {P::kTyping, E::kShutdown, G::kAny, P::kEnded, kKill},
    {P::kStarting, E::kShutdown, G::kAny, P::kEnded, kKill},
    {P::kAnswering, E::kShutdown, G::kAny, P::kEnded, kKill},
    {P::kRunning, E::kShutdown, G::kAny, P::kEnded, kKill},
    {P::kStopAsked, E::kShutdown, G::kAny, P::kEnded, kKill},
    {P::kStopForced, E::kShutdown, G::kAny, P::kEnded, kKill},
    {P::kExiting, E::kShutdown, G::kAny, P::kEnded, kKill},
};

}  // namespace

bool holds(Guard guard, const Facts& f) {
  switch (guard) {
    case G::kAny:
      return true;
    case G::kMissing:
      return !f.found;
    case G::kFound:
      return f.found;
    case G::kAskable:
      return f.found && f.askable;
    case G::kForcible:
      return f.found && !f.askable;
    case G::kNotAskable:
      return !(f.found && f.askable);
    case G::kFoundShown:
      return f.found && f.shown_running;
    case G::kFoundHidden:
      return f.found && !f.shown_running;
    case G::kEndedForGood:
      return !f.found && !f.restartable;
    case G::kRestartDue:
      return !f.found && f.restartable && f.restarts_left;
    case G::kRestartsUsedUp:
      return !f.found && f.restartable && !f.restarts_left;
  }
  return false;
}

std::span<const Row> table() { return kRows; }

std::optional<Step> step(Phase from, Event event, const Facts& facts) {
  for (const Row& row : kRows) {
    if (row.from == from && row.event == event && holds(row.guard, facts)) {
      return Step{row.to, &row.actions};
    }
  }
  return std::nullopt;
}

bool handles(Phase from, Event event) {
  for (const Row& row : kRows) {
    if (row.from == from && row.event == event) return true;
  }
  return false;
}

const char* name(Phase phase) {
  constexpr const char* kNames[] = {
      "idle",       "checking",    "typing",  "starting", "answering", "running", "restart waiting",
      "stop asked", "stop forced", "exiting", "ended"};
  static_assert(std::size(kNames) == kPhaseCount);
  return kNames[static_cast<std::size_t>(phase)];
}

const char* name(Event event) {
  constexpr const char* kNames[] = {
      "start",          "port free",       "port held",     "script written",
      "script failed",  "shell started",   "shell failed",  "first line taken",
      "server missing", "server appeared", "port answered", "time up",
      "stop",           "server ended",    "Ctrl+C failed", "exit",
      "session end",    "shutdown"};
  static_assert(std::size(kNames) == kEventCount);
  return kNames[static_cast<std::size_t>(event)];
}

}  // namespace control
