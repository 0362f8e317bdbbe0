#include "server/control_rules.h"

namespace control {
namespace {

using A = Action;
using E = Event;
using G = Guard;
using P = Phase;

// The phases rows share. A start's shell runs in kStartPhases; a server there may be stopped in
// kStoppable; in kNotEnding nobody has asked it to end yet; kAlive is every phase but the end.
constexpr Phases kStartPhases = P::kTyping | P::kStarting | P::kAnswering;
constexpr Phases kIdleOrRunning = P::kIdle | P::kRunning;
constexpr Phases kStoppable = P::kIdle | kStartPhases | P::kRunning;
constexpr Phases kNotEnding =
    P::kIdle | P::kChecking | kStartPhases | P::kRunning | P::kRestartWaiting;
constexpr Phases kAlive = kNotEnding | P::kStopAsked | P::kStopForced | P::kExiting;

// What the rows do on their way, named so that every row of the table stays on one line.
constexpr Actions kAskPort{A::kStopWatchingTyping, A::kCheckPort};
// The script is written: the launch follows its header in the log.
constexpr Actions kLaunching{A::kLookStarting, A::kTooltipStarting, A::kLogStart, A::kLaunch};
constexpr Actions kTypeFirstLine{A::kShowNewLog, A::kTypeFirstLine, A::kWatchTyping};
constexpr Actions kTypeScript{A::kStopWatchingTyping, A::kTypeScript, A::kArmAppearWait};
constexpr Actions kAppeared{A::kWatchServer, A::kArmAnswerWait};
constexpr Actions kStarted{A::kCancelTimers, A::kLookRunning, A::kBalloonStarted,
                           A::kTooltipRunning};
// A slow server is not killed: it is kept and watched, and the user is told where to look.
constexpr Actions kKeptNotAnswering{A::kCancelTimers, A::kLookRunning, A::kBalloonNotAnswering,
                                    A::kTooltipRunning};
// A start that did not come to a server: nothing it made may run on untracked, and the log tab
// says why (the shell is not asked to: it never names a file that is not there, nor a bound). No
// shell: the tab is made new as it would have been, so that the line is not taken for the last
// run's.
constexpr Actions kNoShell{A::kCancelTimers, A::kEndStart,          A::kLogStartFailed,
                           A::kShowNewLog,   A::kMarkShellFailed,   A::kLookNotRunning,
                           A::kTooltipIdle,  A::kBalloonStartFailed};
constexpr Actions kNoServerFile{A::kCancelTimers,      A::kEndStart,       A::kLogStartFailed,
                                A::kMarkServerMissing, A::kLookNotRunning, A::kTooltipIdle,
                                A::kBalloonStartFailed};
constexpr Actions kNotAppeared{A::kCancelTimers,      A::kEndStart,       A::kLogStartFailed,
                               A::kMarkNotAppeared,   A::kLookNotRunning, A::kTooltipIdle,
                               A::kBalloonStartFailed};
constexpr Actions kEndedStarting{A::kLogExitCode,  A::kMarkEndedStarting, A::kCancelWatch,
                                 A::kCancelTimers, A::kEndStart,          A::kLookNotRunning,
                                 A::kTooltipIdle,  A::kBalloonStartFailed};
// The server's own end while it is shown running.
constexpr Actions kAnotherRun{A::kLogExitCode, A::kWatchServer};
// An end that is not restarted says why in the log tab: a quick end, the key, config.ini that
// could not be read at that moment, the restarts used up.
constexpr Actions kServerGone{A::kLogExitCode,    A::kMarkNotRestarted, A::kCancelWatch,
                              A::kLookNotRunning, A::kTooltipIdle,      A::kBalloonEnded};
constexpr Actions kRestartsOver{A::kLogExitCode, A::kMarkNotRestarted,
                                A::kCancelWatch, A::kLookNotRunning,
                                A::kTooltipIdle, A::kBalloonRestartsUsedUp};
constexpr Actions kRestartWait{A::kLogExitCode, A::kCancelWatch,    A::kLookRestartWaiting,
                               A::kTooltipIdle, A::kBalloonRestart, A::kArmRestartWait};
constexpr Actions kRestarting{A::kLookNotRunning, A::kRestart};
constexpr Actions kRestartReplaced{A::kCancelTimers, A::kLookNotRunning, A::kCheckPort};
constexpr Actions kRestartStopped{A::kCancelTimers, A::kLookNotRunning, A::kBalloonStopped,
                                  A::kTooltipIdle};
// A stop of a server of ours: asked with Ctrl+C under our shell, else terminated at once.
constexpr Actions kStopAsking{A::kCancelTimers, A::kCancelWatch, A::kSendCtrlC, A::kAwaitEnd,
                              A::kArmStopGrace};
constexpr Actions kStopForcing{A::kCancelTimers, A::kCancelWatch, A::kEndServerAndShell,
                               A::kAwaitEnd, A::kArmStopWait};
constexpr Actions kForcing{A::kEndServerAndShell, A::kArmStopWait};
// A stop while a start waits for a server that is not there yet: the start ends.
constexpr Actions kStartStopped{A::kCancelTimers, A::kCancelWatch,    A::kEndStart,
                                A::kLogStopped,   A::kLookNotRunning, A::kBalloonStopped,
                                A::kTooltipIdle};
constexpr Actions kNoServer{A::kCancelWatch, A::kMessageNoServer, A::kLookNotRunning,
                            A::kBalloonStopped, A::kTooltipIdle};
// Whatever the shell makes of its interrupted script, it ends as it always has.
constexpr Actions kAskedStopped{A::kCancelTimers, A::kCancelWatch,    A::kEndShell,
                                A::kLogStopped,   A::kLookNotRunning, A::kBalloonStopped,
                                A::kTooltipIdle};
// The stop's good end: the server is gone.
constexpr Actions kStopped{A::kCancelTimers,   A::kCancelWatch,    A::kLogStopped,
                           A::kLookNotRunning, A::kBalloonStopped, A::kTooltipIdle};
// A termination may be refused (another user's server): the stop says so instead of "stopped",
// and a server shown running is watched again.
constexpr Actions kStillRunning{A::kCancelWatch, A::kWatchServer, A::kLookRunning,
                                A::kTooltipRunning, A::kBalloonStopFailed};
constexpr Actions kStillThere{A::kCancelWatch, A::kLogStopped, A::kBalloonStopFailed};
// The server is asked first when it runs under our shell; else the exit goes on at once and the
// shutdown kill ends whatever runs.
constexpr Actions kExitAsking{A::kCancelTimers, A::kCancelWatch, A::kSendCtrlC, A::kAwaitEnd,
                              A::kArmExitGrace};
constexpr Actions kExitNow{A::kCancelTimers, A::kCancelWatch, A::kLetGo};
constexpr Actions kSessionAsking{A::kCancelTimers, A::kCancelWatch, A::kAskInPlace, A::kKillAll};
constexpr Actions kSessionNow{A::kCancelTimers, A::kCancelWatch, A::kKillAll};
constexpr Actions kSessionAsked{A::kCancelTimers, A::kCancelWatch, A::kWaitInPlace, A::kKillAll};
constexpr Actions kSessionExiting{A::kCancelTimers, A::kCancelWatch, A::kWaitRestInPlace,
                                  A::kKillAll};
constexpr Actions kKill{A::kCancelTimers, A::kCancelWatch, A::kKillAll};
// A server found running at start-up is ours from here on, as one of ours that answered; no
// balloon, as nothing was started. The log tab's line comes first: a disk log that cannot be
// written says so in that tab.
constexpr Actions kTakenOver{A::kMarkTakenOver, A::kLogTakenOver, A::kWatchServer, A::kLookRunning,
                             A::kTooltipRunning};

// docs/control-table.md shows these rows as a grid; after a change of them, make it anew with
// build/native/control_table > docs/control-table.md (a test of the native build fails until then).
// clang-format off
constexpr Row kRows[] = {
    // A start: the server would only fail on a port another program listens on, so that program
    // is named instead; the look-up runs aside. Then the script is written, the shell started
    // and, when it came up, takes "echo off"; the script follows once the shell has read that
    // line (a shell that reads its input in blocks would lose a second line written with it).
    // The start is then decided by the server: its process appears under our shell, and its web
    // port answers. Nothing is decided by a fixed wait.
    // from              event                guard               to                  actions
    {P::kIdle,           E::kStart,           G::kAny,            P::kChecking,       kAskPort},
    {P::kChecking,       E::kPortHeld,        G::kAny,            P::kIdle,           {A::kMessagePortHeld}},
    {P::kChecking,       E::kPortFree,        G::kAny,            P::kChecking,       {A::kWriteScript}},
    {P::kChecking,       E::kScriptFailed,    G::kAny,            P::kIdle,           {A::kMessageScriptFailed}},
    {P::kChecking,       E::kScriptWritten,   G::kAny,            P::kTyping,         kLaunching},
    {P::kTyping,         E::kShellStarted,    G::kAny,            P::kTyping,         kTypeFirstLine},
    {P::kTyping,         E::kShellFailed,     G::kAny,            P::kIdle,           kNoShell},
    {P::kTyping,         E::kFirstLineTaken,  G::kAny,            P::kStarting,       kTypeScript},
    {P::kStarting,       E::kServerMissing,   G::kAny,            P::kIdle,           kNoServerFile},
    {P::kStarting,       E::kAppearBound,     G::kAny,            P::kIdle,           kNotAppeared},
    {P::kStarting,       E::kServerAppeared,  G::kAny,            P::kAnswering,      kAppeared},
    {P::kAnswering,      E::kPortAnswered,    G::kAny,            P::kRunning,        kStarted},
    {P::kAnswering,      E::kAnswerBound,     G::kAny,            P::kRunning,        kKeptNotAnswering},
    {P::kAnswering,      E::kServerEnded,     G::kAny,            P::kIdle,           kEndedStarting},
    // A server that ran before the program: watched, stopped and restarted as one it started.
    {P::kIdle,           E::kServerFound,     G::kFound,          P::kRunning,        kTakenOver},

    // The server's own end while it is shown running; another run of the same server file keeps
    // the look true. A server that had run a while is started again after a wait, as the start
    // button would. A start by hand meanwhile takes its place; a stop (enabled while it waits),
    // an exit or a session end cancels it.
    // from              event                guard               to                  actions
    {P::kRunning,        E::kServerEnded,     G::kFound,          P::kRunning,        kAnotherRun},
    {P::kRunning,        E::kServerEnded,     G::kEndedForGood,   P::kIdle,           kServerGone},
    {P::kRunning,        E::kServerEnded,     G::kRestartsUsedUp, P::kIdle,           kRestartsOver},
    {P::kRunning,        E::kServerEnded,     G::kRestartDue,     P::kRestartWaiting, kRestartWait},
    {P::kRestartWaiting, E::kRestartWaitOver, G::kAny,            P::kIdle,           kRestarting},
    {P::kRestartWaiting, E::kStart,           G::kAny,            P::kChecking,       kRestartReplaced},
    {P::kRestartWaiting, E::kStop,            G::kAny,            P::kIdle,           kRestartStopped},

    // A stop. Its own end of the server is no news: the watch goes first. A server under our
    // shell is asked with Ctrl+C and given its grace; any other is terminated at once. During a
    // start the stop ends what runs, as it would once started.
    // from              event                guard               to                  actions
    {kIdleOrRunning,     E::kStop,            G::kMissing,        P::kIdle,           kNoServer},
    {kStartPhases,       E::kStop,            G::kMissing,        P::kIdle,           kStartStopped},
    {kStoppable,         E::kStop,            G::kAskable,        P::kStopAsked,      kStopAsking},
    {kStoppable,         E::kStop,            G::kForcible,       P::kStopForced,     kStopForcing},
    {P::kStopAsked,      E::kServerEnded,     G::kAny,            P::kIdle,           kAskedStopped},
    {P::kStopAsked,      E::kStopGraceOver,   G::kAny,            P::kStopForced,     kForcing},
    {P::kStopAsked,      E::kCtrlCFailed,     G::kAny,            P::kStopForced,     kForcing},
    {P::kStopForced,     E::kServerEnded,     G::kAny,            P::kIdle,           kStopped},
    {P::kStopForced,     E::kStopWaitOver,    G::kMissing,        P::kIdle,           kStopped},
    {P::kStopForced,     E::kStopWaitOver,    G::kFoundShown,     P::kRunning,        kStillRunning},
    {P::kStopForced,     E::kStopWaitOver,    G::kFoundHidden,    P::kIdle,           kStillThere},

    // The exit. A server asked already by a stop is only given the exit grace: a second Ctrl+C
    // could cut short the clean end the first one began.
    // from              event                guard               to                  actions
    {kNotEnding,         E::kExit,            G::kAskable,        P::kExiting,        kExitAsking},
    {kNotEnding,         E::kExit,            G::kNotAskable,     P::kExiting,        kExitNow},
    {P::kStopAsked,      E::kExit,            G::kAny,            P::kExiting,        {A::kArmExitGrace}},
    {P::kStopForced,     E::kExit,            G::kAny,            P::kExiting,        kExitNow},
    {P::kExiting,        E::kServerEnded,     G::kAny,            P::kExiting,        kExitNow},
    {P::kExiting,        E::kExitGraceOver,   G::kAny,            P::kExiting,        kExitNow},
    {P::kExiting,        E::kCtrlCFailed,     G::kAny,            P::kExiting,        kExitNow},

    // The session end: Windows may end the program once the handler returns, so the server's
    // grace is waited for in place, and no other event runs meanwhile. The window destroyed:
    // whatever runs ends, silently.
    // from              event                guard               to                  actions
    {kNotEnding,         E::kSessionEnd,      G::kAskable,        P::kEnded,          kSessionAsking},
    {kNotEnding,         E::kSessionEnd,      G::kNotAskable,     P::kEnded,          kSessionNow},
    {P::kStopAsked,      E::kSessionEnd,      G::kAny,            P::kEnded,          kSessionAsked},
    {P::kStopForced,     E::kSessionEnd,      G::kAny,            P::kEnded,          kSessionNow},
    {P::kExiting,        E::kSessionEnd,      G::kAny,            P::kEnded,          kSessionExiting},
    {kAlive,             E::kShutdown,        G::kAny,            P::kEnded,          kKill},
};
// clang-format on

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
    if (row.from.has(from) && row.event == event && holds(row.guard, facts)) {
      return Step{row.to, &row.actions};
    }
  }
  return std::nullopt;
}

bool handles(Phase from, Event event) {
  for (const Row& row : kRows) {
    if (row.from.has(from) && row.event == event) return true;
  }
  return false;
}

std::optional<Event> timer_event(Action action) {
  switch (action) {
    case A::kArmAppearWait:
      return E::kAppearBound;
    case A::kArmAnswerWait:
      return E::kAnswerBound;
    case A::kArmStopGrace:
      return E::kStopGraceOver;
    case A::kArmExitGrace:
      return E::kExitGraceOver;
    case A::kArmStopWait:
      return E::kStopWaitOver;
    case A::kArmRestartWait:
      return E::kRestartWaitOver;
    default:
      return std::nullopt;
  }
}

bool is_timer(Event event) {
  return event == E::kAppearBound || event == E::kAnswerBound || event == E::kStopGraceOver ||
         event == E::kExitGraceOver || event == E::kStopWaitOver || event == E::kRestartWaitOver;
}

Needs needs(Phase from, Event event) {
  Needs needs;
  if (!handles(from, event)) return needs;
  if (event == E::kStopWaitOver) {
    needs.still_there_by_id = true;
    return needs;
  }
  // A stop, an exit or a session end is about whatever server of ours runs now, even where its
  // row does not ask (the session end's wait in place waits for it); the end of a server shown
  // running asks whether another run keeps the look, or whether a restart is due.
  const bool ending = event == E::kStop || event == E::kExit || event == E::kSessionEnd;
  if (ending || event == E::kServerFound || (event == E::kServerEnded && from == P::kRunning)) {
    needs.server_by_path = true;
    needs.askable = ending;
    needs.restart_facts = event == E::kServerEnded;
  }
  return needs;
}

const char* name(Phase phase) {
  constexpr const char* kNames[] = {
      "idle",       "checking",    "typing",  "starting", "answering", "running", "restart waiting",
      "stop asked", "stop forced", "exiting", "ended"};
  static_assert(std::size(kNames) == kPhaseCount);
  return kNames[static_cast<std::size_t>(phase)];
}

const char* name(Event event) {
  constexpr const char* kNames[] = {"start",           "port free",         "port held",
                                    "script written",  "script failed",     "shell started",
                                    "shell failed",    "first line taken",  "server missing",
                                    "server appeared", "port answered",     "appear bound",
                                    "answer bound",    "stop grace over",   "exit grace over",
                                    "stop wait over",  "restart wait over", "stop",
                                    "server ended",    "Ctrl+C failed",     "exit",
                                    "session end",     "shutdown",          "server found"};
  static_assert(std::size(kNames) == kEventCount);
  return kNames[static_cast<std::size_t>(event)];
}

const char* name(Guard guard) {
  constexpr const char* kNames[] = {"any",         "missing",         "found",
                                    "askable",     "forcible",        "not askable",
                                    "found shown", "found hidden",    "ended for good",
                                    "restart due", "restarts used up"};
  static_assert(std::size(kNames) == static_cast<std::size_t>(G::kRestartsUsedUp) + 1);
  return kNames[static_cast<std::size_t>(guard)];
}

}  // namespace control
