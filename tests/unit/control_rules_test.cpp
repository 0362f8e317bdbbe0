#include "server/control_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using control::Action;
using control::Event;
using control::Facts;
using control::Phase;
using A = Action;
using E = Event;
using P = Phase;
using G = control::Guard;

std::vector<Phase> all_phases() {
  std::vector<Phase> phases;
  for (std::size_t i = 0; i < control::kPhaseCount; ++i) phases.push_back(static_cast<Phase>(i));
  return phases;
}

std::vector<Event> all_events() {
  std::vector<Event> events;
  for (std::size_t i = 0; i < control::kEventCount; ++i) events.push_back(static_cast<Event>(i));
  return events;
}

// Every combination of the five facts.
std::vector<Facts> all_facts() {
  std::vector<Facts> facts;
  for (int bits = 0; bits < 32; ++bits) {
    facts.push_back(
        {(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0, (bits & 8) != 0, (bits & 16) != 0});
  }
  return facts;
}

bool starting(Phase p) { return p == P::kTyping || p == P::kStarting || p == P::kAnswering; }

std::vector<Action> actions_of(const control::Actions& row) {
  std::vector<Action> out;
  for (Action a : row) {
    if (a == A::kNone) break;
    out.push_back(a);
  }
  return out;
}

bool has(const std::vector<Action>& actions, Action a) {
  return std::find(actions.begin(), actions.end(), a) != actions.end();
}

std::string where(Phase p, Event e) {
  return std::string(control::name(p)) + " + " + control::name(e);
}

// The phases a row applies in.
std::vector<Phase> phases_of(const control::Row& row) {
  std::vector<Phase> phases;
  for (Phase p : all_phases()) {
    if (row.from.has(p)) phases.push_back(p);
  }
  return phases;
}

// Every action, by its value: the last one is kLogTakenOver.
std::vector<Action> all_actions() {
  std::vector<Action> actions;
  for (int i = 0; i <= static_cast<int>(A::kLogTakenOver); ++i) {
    actions.push_back(static_cast<Action>(i));
  }
  return actions;
}

// Whatever the facts, a phase and an event lead one way or none; an ended control does nothing;
// and every row that leaves a phase to wait for a timer or the server's end arrives in a phase
// that listens for it, so no wait is left without its end.
TEST(ControlRules, TheTableIsWholeAndUnambiguous) {
  for (Phase p : all_phases()) {
    for (Event e : all_events()) {
      for (const Facts& f : all_facts()) {
        int matching = 0;
        for (const control::Row& row : control::table()) {
          if (row.from.has(p) && row.event == e && control::holds(row.guard, f)) ++matching;
        }
        EXPECT_LE(matching, 1) << where(p, e);
        if (control::handles(p, e) && (e == E::kStop || e == E::kExit || control::is_timer(e) ||
                                       e == E::kSessionEnd || e == E::kShutdown)) {
          EXPECT_TRUE(control::step(p, e, f)) << where(p, e) << " leaves some facts without a row";
        }
      }
    }
    EXPECT_EQ(p == P::kEnded, !control::handles(p, E::kShutdown)) << control::name(p);
    EXPECT_EQ(p == P::kEnded, !control::handles(p, E::kSessionEnd)) << control::name(p);
    if (p != P::kEnded) {
      EXPECT_TRUE(control::handles(p, E::kExit) || p == P::kExiting);
    }
  }
  for (const control::Row& row : control::table()) {
    EXPECT_FALSE(phases_of(row).empty()) << control::name(row.event);
    const std::vector<Action> actions = actions_of(row.actions);
    const auto rest = row.actions.begin() + static_cast<std::ptrdiff_t>(actions.size());
    EXPECT_TRUE(std::all_of(rest, row.actions.end(), [](Action a) { return a == A::kNone; }))
        << control::name(row.event);
    // The Windows side runs one timer at a time: a second one armed would cancel the first.
    const auto timers = std::count_if(actions.begin(), actions.end(),
                                      [](Action a) { return control::timer_event(a).has_value(); });
    EXPECT_LE(timers, 1) << control::name(row.event);
    for (Phase from : phases_of(row)) {
      const std::string at = where(from, row.event);
      for (Action a : actions) {
        if (const auto timer = control::timer_event(a)) {
          EXPECT_TRUE(control::handles(row.to, *timer))
              << at << " arms a timer that " << control::name(row.to) << " ignores";
        }
      }
      if (has(actions, A::kAwaitEnd) || has(actions, A::kWatchServer)) {
        EXPECT_TRUE(control::handles(row.to, E::kServerEnded)) << at;
      }
      if (has(actions, A::kWatchTyping)) {
        EXPECT_TRUE(control::handles(row.to, E::kFirstLineTaken)) << at;
      }
      if (has(actions, A::kCheckPort)) {
        EXPECT_TRUE(control::handles(row.to, E::kPortFree) &&
                    control::handles(row.to, E::kPortHeld));
      }
      if (has(actions, A::kWriteScript)) {
        EXPECT_TRUE(control::handles(row.to, E::kScriptWritten) &&
                    control::handles(row.to, E::kScriptFailed));
      }
      if (has(actions, A::kSendCtrlC)) {
        EXPECT_TRUE(control::handles(row.to, E::kCtrlCFailed)) << at;
      }
      // Waiting in place is for the session end only, and the server goes right after.
      if (has(actions, A::kAskInPlace) || has(actions, A::kWaitInPlace) ||
          has(actions, A::kWaitRestInPlace)) {
        EXPECT_EQ(row.event, E::kSessionEnd);
        EXPECT_EQ(actions.back(), A::kKillAll);
      }
      // Wine's shell reads its input in blocks and runs the first line of a block only: a script
      // typed before "echo off" was read would be lost with it, and the server never start.
      EXPECT_EQ(has(actions, A::kTypeScript), from == P::kTyping && row.event == E::kFirstLineTaken)
          << at;
      // A start ends in one of three ways, and never by a fixed wait alone: started once the port
      // answered; kept (and said so) once the bound for that passed with the server there; failed
      // with everything it made ended.
      if (row.to == P::kRunning && starting(from)) {
        EXPECT_EQ(from, P::kAnswering) << at;
        EXPECT_EQ(has(actions, A::kBalloonStarted), row.event == E::kPortAnswered);
        EXPECT_EQ(has(actions, A::kBalloonNotAnswering), row.event == E::kAnswerBound);
      }
      if (has(actions, A::kBalloonStarted)) {
        EXPECT_EQ(row.event, E::kPortAnswered) << at;
      }
      if (has(actions, A::kBalloonStartFailed)) {
        EXPECT_TRUE(has(actions, A::kEndStart) && has(actions, A::kLookNotRunning)) << at;
      }
      if (has(actions, A::kLookStarting)) {
        EXPECT_TRUE(starting(row.to) && has(actions, A::kTooltipStarting));
      }
      if (has(actions, A::kArmAppearWait)) {
        EXPECT_TRUE(control::handles(row.to, E::kServerAppeared)) << at;
      }
      if (has(actions, A::kArmAnswerWait)) {
        EXPECT_TRUE(control::handles(row.to, E::kPortAnswered)) << at;
      }
      // Whatever a start made is ended when it leaves for the not-running look.
      if (starting(from) && row.to == P::kIdle) {
        EXPECT_TRUE(has(actions, A::kEndStart)) << at;
        EXPECT_TRUE(has(actions, A::kCancelTimers)) << at;
      }
      if (row.to == P::kEnded) {
        EXPECT_TRUE(has(actions, A::kKillAll)) << at;
      }
      // The log on disk: every launch has its header, and a run's end line is written where the
      // run ends and nowhere else. The exit code is read while the watch still holds the process.
      if (has(actions, A::kLaunch)) {
        EXPECT_EQ(std::find(actions.begin(), actions.end(), A::kLogStart) + 1,
                  std::find(actions.begin(), actions.end(), A::kLaunch))
            << at;
      }
      const bool stop_done = (from == P::kStopAsked || from == P::kStopForced ||
                              (starting(from) && row.event == E::kStop)) &&
                             row.to == P::kIdle;
      EXPECT_EQ(has(actions, A::kLogStopped), stop_done) << at;
      const bool ended_by_itself =
          (from == P::kRunning || from == P::kAnswering) && row.event == E::kServerEnded;
      EXPECT_EQ(has(actions, A::kLogExitCode), ended_by_itself) << at;
      if (ended_by_itself) {
        EXPECT_EQ(actions.front(), A::kLogExitCode) << at;
      }
      // A start that did not come to a server closes its run with a line that says so.
      const bool failed_early = starting(from) && row.to == P::kIdle && row.event != E::kStop &&
                                row.event != E::kServerEnded;
      EXPECT_EQ(has(actions, A::kLogStartFailed), failed_early) << at;
      // Every failed start says why in the log tab, once; the exit code is read before the watch
      // lets the process go. A server's own end that brings no restart says why not.
      const auto marks = std::count_if(actions.begin(), actions.end(), [](Action a) {
        return a == A::kMarkShellFailed || a == A::kMarkServerMissing || a == A::kMarkNotAppeared ||
               a == A::kMarkEndedStarting;
      });
      EXPECT_EQ(marks, starting(from) && row.to == P::kIdle && row.event != E::kStop ? 1 : 0) << at;
      if (has(actions, A::kMarkEndedStarting)) {
        EXPECT_LT(std::find(actions.begin(), actions.end(), A::kMarkEndedStarting),
                  std::find(actions.begin(), actions.end(), A::kCancelWatch))
            << at;
      }
      EXPECT_EQ(has(actions, A::kMarkNotRestarted),
                from == P::kRunning && row.event == E::kServerEnded && row.to == P::kIdle)
          << at;
      // Nobody started a server that is taken over: no balloon says it was.
      EXPECT_TRUE(row.event != E::kServerFound || !has(actions, A::kBalloonStarted)) << at;
    }
  }
}

// Each timer brings an event of its own, so a phase can only be moved on by the timer it waits
// for: every arming action has its event, no two share one, and the Windows side knows each as a
// timer's (a late tick of it is dropped).
TEST(ControlRules, EachTimerHasItsOwnEvent) {
  const Action arming[] = {A::kArmAppearWait, A::kArmAnswerWait, A::kArmStopGrace,
                           A::kArmExitGrace,  A::kArmStopWait,   A::kArmRestartWait};
  std::vector<Event> seen;
  for (Action a : all_actions()) {
    const auto timer = control::timer_event(a);
    EXPECT_EQ(timer.has_value(),
              std::find(std::begin(arming), std::end(arming), a) != std::end(arming))
        << static_cast<int>(a);
    if (!timer) continue;
    EXPECT_TRUE(control::is_timer(*timer)) << control::name(*timer);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), *timer), 0) << control::name(*timer);
    seen.push_back(*timer);
  }
  for (Event e : all_events()) {
    EXPECT_EQ(control::is_timer(e), std::count(seen.begin(), seen.end(), e) == 1)
        << control::name(e);
  }
  // A timer event only ever moves the phase its timer was armed for.
  for (Event e : seen) {
    int phases = 0;
    for (Phase p : all_phases()) phases += control::handles(p, e) ? 1 : 0;
    EXPECT_EQ(phases, 1) << control::name(e);
  }
}

// Which facts a guard reads: flipping one that it reads changes its answer for some facts.
struct Reads {
  bool found = false, askable = false, restart = false;
};
Reads reads(control::Guard g) {
  Reads r;
  for (const Facts& f : all_facts()) {
    Facts flipped = f;
    flipped.found = !f.found;
    r.found |= control::holds(g, f) != control::holds(g, flipped);
    flipped = f;
    flipped.askable = !f.askable;
    r.askable |= control::holds(g, f) != control::holds(g, flipped);
    flipped = f;
    flipped.restartable = !f.restartable;
    r.restart |= control::holds(g, f) != control::holds(g, flipped);
    flipped = f;
    flipped.restarts_left = !f.restarts_left;
    r.restart |= control::holds(g, f) != control::holds(g, flipped);
  }
  return r;
}

// The Windows side looks up only what needs() names: a guard that reads a fact not looked up
// would decide on a default. And no look-up is made for an event the phase ignores.
TEST(ControlRules, NeedsCoverWhatTheGuardsRead) {
  for (Phase p : all_phases()) {
    for (Event e : all_events()) {
      const control::Needs n = control::needs(p, e);
      const std::string at = where(p, e);
      if (!control::handles(p, e)) {
        EXPECT_FALSE(n.server_by_path || n.askable || n.restart_facts || n.still_there_by_id) << at;
        continue;
      }
      EXPECT_FALSE(n.server_by_path && n.still_there_by_id) << at;
      EXPECT_TRUE(!n.askable || n.server_by_path) << at;
      EXPECT_TRUE(!n.restart_facts || n.server_by_path) << at;
      for (const control::Row& row : control::table()) {
        if (!row.from.has(p) || row.event != e) continue;
        const Reads r = reads(row.guard);
        EXPECT_TRUE(!r.found || n.server_by_path || n.still_there_by_id) << at;
        EXPECT_TRUE(!r.askable || n.askable) << at;
        EXPECT_TRUE(!r.restart || n.restart_facts) << at;
      }
    }
  }
  struct Case {
    Phase from;
    Event event;
    control::Needs expected;
  };
  // A stop, an exit and a session end are about whatever runs now, also where the row does not
  // ask (the session end during a stop waits in place for that server); a forced end is checked
  // by the id it was aimed at, since another copy of the file says nothing about it.
  const Case cases[] = {
      {P::kRunning, E::kServerEnded, {true, false, true, false}},
      {P::kAnswering, E::kServerEnded, {}},
      {P::kStopAsked, E::kServerEnded, {}},
      {P::kRunning, E::kStop, {true, true, false, false}},
      {P::kRestartWaiting, E::kStop, {true, true, false, false}},
      {P::kStopAsked, E::kExit, {true, true, false, false}},
      {P::kStopAsked, E::kSessionEnd, {true, true, false, false}},
      {P::kExiting, E::kSessionEnd, {true, true, false, false}},
      {P::kStopForced, E::kStopWaitOver, {false, false, false, true}},
      {P::kStarting, E::kServerAppeared, {}},
      {P::kIdle, E::kStart, {}},
      {P::kExiting, E::kExit, {}},
  };
  for (const Case& c : cases) {
    const control::Needs n = control::needs(c.from, c.event);
    const std::string at = where(c.from, c.event);
    EXPECT_EQ(n.server_by_path, c.expected.server_by_path) << at;
    EXPECT_EQ(n.askable, c.expected.askable) << at;
    EXPECT_EQ(n.restart_facts, c.expected.restart_facts) << at;
    EXPECT_EQ(n.still_there_by_id, c.expected.still_there_by_id) << at;
  }
}

constexpr Facts kNone{};
constexpr Facts kOurs{true, true, false};        // a server under our shell
constexpr Facts kOursShown{true, true, true};    // the same, shown running
constexpr Facts kForeign{true, false, true};     // a server of ours that cannot be asked
constexpr Facts kStillThere{true, false, true};  // a forced end that did not take
constexpr Facts kRestartDue{false, false, true, true, true};
constexpr Facts kRestartsUsedUp{false, false, true, true, false};
constexpr Facts kNotRestartable{false, false, true, false, true};

struct Move {
  Event event;
  Facts facts;
  Phase to;                      // the phase afterwards (the same when ignored)
  std::vector<Action> expected;  // in this order; empty: the event is ignored
};

struct Story {
  const char* what;
  Phase from;
  std::vector<Move> moves;
};

// What the user meets, as the control sees it, one event after the other.
const Story kStories[] = {
    {"a start: the port asked aside, the script written, echo off, then the script once the "
     "shell read the line; started once the server appeared and its port answered",
     P::kIdle,
     {{E::kStart, kNone, P::kChecking, {A::kCheckPort}},
      {E::kStart, kNone, P::kChecking, {}},
      {E::kStop, kOurs, P::kChecking, {}},
      {E::kPortFree, kNone, P::kChecking, {A::kWriteScript}},
      {E::kScriptWritten,
       kNone,
       P::kTyping,
       {A::kLookStarting, A::kTooltipStarting, A::kLogStart, A::kLaunch}},
      {E::kShellStarted, kNone, P::kTyping, {A::kShowNewLog, A::kTypeFirstLine, A::kWatchTyping}},
      {E::kStart, kNone, P::kTyping, {}},
      {E::kServerAppeared, kNone, P::kTyping, {}},
      {E::kFirstLineTaken,
       kNone,
       P::kStarting,
       {A::kStopWatchingTyping, A::kTypeScript, A::kArmAppearWait}},
      {E::kPortAnswered, kNone, P::kStarting, {}},
      {E::kServerEnded, kNone, P::kStarting, {}},
      {E::kServerAppeared, kNone, P::kAnswering, {A::kWatchServer, A::kArmAnswerWait}},
      {E::kPortAnswered,
       kNone,
       P::kRunning,
       {A::kCancelTimers, A::kLookRunning, A::kBalloonStarted, A::kTooltipRunning}}}},
    {"a server found running at start-up is taken over without a balloon, once; its own end "
     "brings the restart's rules",
     P::kIdle,
     {{E::kServerFound, kNone, P::kIdle, {}},
      {E::kServerFound,
       kForeign,
       P::kRunning,
       {A::kMarkTakenOver, A::kLogTakenOver, A::kWatchServer, A::kLookRunning, A::kTooltipRunning}},
      {E::kServerFound, kForeign, P::kRunning, {}},
      {E::kServerEnded,
       kRestartDue,
       P::kRestartWaiting,
       {A::kLogExitCode, A::kLookRestartWaiting, A::kBalloonRestart, A::kArmRestartWait}}}},
    {"a slow shell waits as long as it takes: nothing is decided before the script is typed",
     P::kTyping,
     {{E::kAppearBound, kNone, P::kTyping, {}},
      {E::kFirstLineTaken, kNone, P::kStarting, {A::kTypeScript}}}},
    {"a server that never appears: the start fails and ends its shell",
     P::kStarting,
     {{E::kAppearBound,
       kNone,
       P::kIdle,
       {A::kCancelTimers, A::kEndStart, A::kLogStartFailed, A::kLookNotRunning,
        A::kBalloonStartFailed}},
      {E::kServerAppeared, kNone, P::kIdle, {}}}},
    {"a server file that is not there fails at once",
     P::kStarting,
     {{E::kServerMissing,
       kNone,
       P::kIdle,
       {A::kEndStart, A::kLogStartFailed, A::kBalloonStartFailed}}}},
    {"no shell: the start fails",
     P::kTyping,
     {{E::kShellFailed, kNone, P::kIdle, {A::kLogStartFailed, A::kBalloonStartFailed}}}},
    {"a server that ends before it answered: failed, with its exit code in the log",
     P::kAnswering,
     {{E::kServerEnded,
       kRestartDue,
       P::kIdle,
       {A::kLogExitCode, A::kCancelWatch, A::kEndStart, A::kLookNotRunning,
        A::kBalloonStartFailed}},
      {E::kPortAnswered, kNone, P::kIdle, {}}}},
    {"a server whose port does not answer in time is kept and watched, and said so",
     P::kAnswering,
     {{E::kAnswerBound,
       kOurs,
       P::kRunning,
       {A::kLookRunning, A::kBalloonNotAnswering, A::kTooltipRunning}},
      {E::kPortAnswered, kNone, P::kRunning, {}},
      {E::kServerEnded, kNone, P::kIdle, {A::kLogExitCode, A::kBalloonEnded}}}},
    {"a stop while a start waits ends what runs",
     P::kAnswering,
     {{E::kStop, kOurs, P::kStopAsked, {A::kCancelTimers, A::kSendCtrlC, A::kArmStopGrace}},
      {E::kPortAnswered, kNone, P::kStopAsked, {}},
      {E::kServerEnded, kNone, P::kIdle, {A::kEndShell, A::kLogStopped, A::kBalloonStopped}}}},
    {"a stop before the server appeared ends the shell",
     P::kStarting,
     {{E::kStop,
       kNone,
       P::kIdle,
       {A::kCancelTimers, A::kEndStart, A::kLogStopped, A::kLookNotRunning, A::kBalloonStopped}},
      {E::kAppearBound, kNone, P::kIdle, {}}}},
    {"a port held by another program is named and nothing starts",
     P::kIdle,
     {{E::kStart, kNone, P::kChecking, {A::kCheckPort}},
      {E::kPortHeld, kNone, P::kIdle, {A::kMessagePortHeld}},
      {E::kScriptWritten, kNone, P::kIdle, {}}}},
    {"a launch script that cannot be written is reported and nothing starts",
     P::kChecking,
     {{E::kPortFree, kNone, P::kChecking, {A::kWriteScript}},
      {E::kScriptFailed, kNone, P::kIdle, {A::kMessageScriptFailed}}}},
    {"an exit while the port is asked: the answer changes nothing",
     P::kChecking,
     {{E::kExit, kNone, P::kExiting, {A::kLetGo}}, {E::kPortFree, kNone, P::kExiting, {}}}},
    {"the server ends by itself; another run of the same file keeps the look",
     P::kRunning,
     {{E::kServerEnded, kOurs, P::kRunning, {A::kLogExitCode, A::kWatchServer}},
      {E::kServerEnded,
       kNone,
       P::kIdle,
       {A::kLogExitCode, A::kCancelWatch, A::kLookNotRunning, A::kTooltipIdle, A::kBalloonEnded}},
      {E::kServerEnded, kNone, P::kIdle, {}}}},
    {"a server that had run a while is started again after its wait, by the start request",
     P::kRunning,
     {{E::kServerEnded,
       kRestartDue,
       P::kRestartWaiting,
       {A::kLogExitCode, A::kCancelWatch, A::kLookRestartWaiting, A::kBalloonRestart,
        A::kArmRestartWait}},
      {E::kServerEnded, kNone, P::kRestartWaiting, {}},
      {E::kRestartWaitOver, kNone, P::kIdle, {A::kLookNotRunning, A::kRestart}}}},
    {"a quick death, or config.ini saying no restart or unreadable at the end: nothing is armed, "
     "and the log tab says why",
     P::kRunning,
     {{E::kServerEnded,
       kNotRestartable,
       P::kIdle,
       {A::kLogExitCode, A::kMarkNotRestarted, A::kBalloonEnded}},
      {E::kRestartWaitOver, kNone, P::kIdle, {}}}},
    {"restarts used up are announced and none follows",
     P::kRunning,
     {{E::kServerEnded,
       kRestartsUsedUp,
       P::kIdle,
       {A::kLogExitCode, A::kLookNotRunning, A::kBalloonRestartsUsedUp}},
      {E::kRestartWaitOver, kNone, P::kIdle, {}}}},
    {"a start by hand during the wait takes the restart's place",
     P::kRestartWaiting,
     {{E::kStart, kNone, P::kChecking, {A::kCancelTimers, A::kCheckPort}},
      {E::kRestartWaitOver, kNone, P::kChecking, {}}}},
    {"a stop during the wait (enabled then) cancels it and disables itself again",
     P::kRestartWaiting,
     {{E::kStop, kNone, P::kIdle, {A::kCancelTimers, A::kLookNotRunning}},
      {E::kRestartWaitOver, kNone, P::kIdle, {}}}},
    {"an exit during the wait cancels it",
     P::kRestartWaiting,
     {{E::kExit, kNone, P::kExiting, {A::kCancelTimers, A::kLetGo}}}},
    {"a stop that Ctrl+C ends; a second stop during the grace starts nothing",
     P::kRunning,
     {{E::kStop,
       kOurs,
       P::kStopAsked,
       {A::kCancelWatch, A::kSendCtrlC, A::kAwaitEnd, A::kArmStopGrace}},
      {E::kStop, kOurs, P::kStopAsked, {}},
      {E::kStart, kNone, P::kStopAsked, {}},
      {E::kServerEnded,
       kNone,
       P::kIdle,
       {A::kEndShell, A::kLogStopped, A::kLookNotRunning, A::kBalloonStopped, A::kTooltipIdle}}}},
    {"a server deaf to Ctrl+C is forced once the grace is over",
     P::kRunning,
     {{E::kStop, kOurs, P::kStopAsked, {A::kSendCtrlC}},
      {E::kStopGraceOver, kNone, P::kStopForced, {A::kEndServerAndShell, A::kArmStopWait}},
      {E::kStop, kOurs, P::kStopForced, {}},
      {E::kServerEnded,
       kNone,
       P::kIdle,
       {A::kLogStopped, A::kLookNotRunning, A::kBalloonStopped}}}},
    {"Ctrl+C that cannot be delivered forces the end at once",
     P::kRunning,
     {{E::kStop, kOurs, P::kStopAsked, {A::kSendCtrlC}},
      {E::kCtrlCFailed, kNone, P::kStopForced, {A::kEndServerAndShell, A::kArmStopWait}}}},
    {"a server not under our shell is terminated without Ctrl+C",
     P::kRunning,
     {{E::kStop, kForeign, P::kStopForced, {A::kCancelWatch, A::kEndServerAndShell, A::kAwaitEnd}},
      {E::kStopWaitOver,
       kNone,
       P::kIdle,
       {A::kLogStopped, A::kLookNotRunning, A::kBalloonStopped, A::kTooltipIdle}}}},
    {"a termination that did not take is reported and the server watched again",
     P::kStopForced,
     {{E::kStopWaitOver, kStillThere, P::kRunning, {A::kWatchServer, A::kBalloonStopFailed}}}},
    {"the same from the not-running look leaves that look",
     P::kStopForced,
     {{E::kStopWaitOver, {true, false, false}, P::kIdle, {A::kBalloonStopFailed}}}},
    {"a stop with no server says so, then shows not running",
     P::kRunning,
     {{E::kStop,
       kNone,
       P::kIdle,
       {A::kCancelWatch, A::kMessageNoServer, A::kLookNotRunning, A::kBalloonStopped,
        A::kTooltipIdle}}}},
    {"an exit asks the server, waits the exit grace, and a second exit starts nothing",
     P::kRunning,
     {{E::kExit,
       kOursShown,
       P::kExiting,
       {A::kCancelWatch, A::kSendCtrlC, A::kAwaitEnd, A::kArmExitGrace}},
      {E::kExit, kOursShown, P::kExiting, {}},
      {E::kStop, kOursShown, P::kExiting, {}},
      {E::kStart, kNone, P::kExiting, {}},
      {E::kExitGraceOver, kNone, P::kExiting, {A::kLetGo}},
      {E::kShutdown, kNone, P::kEnded, {A::kKillAll}},
      {E::kShutdown, kNone, P::kEnded, {}}}},
    {"an exit with no server of ours to ask goes at once",
     P::kIdle,
     {{E::kExit, kForeign, P::kExiting, {A::kLetGo}}}},
    {"an exit during a start's wait",
     P::kTyping,
     {{E::kExit, kOurs, P::kExiting, {A::kCancelTimers, A::kSendCtrlC, A::kArmExitGrace}},
      {E::kServerEnded, kNone, P::kExiting, {A::kLetGo}}}},
    {"an exit during a stop's grace sends no second Ctrl+C",
     P::kStopAsked,
     {{E::kExit, kOurs, P::kExiting, {A::kArmExitGrace}},
      {E::kCtrlCFailed, kNone, P::kExiting, {A::kLetGo}}}},
    {"the session ends: the server gets its grace in place, once",
     P::kRunning,
     {{E::kSessionEnd, kOurs, P::kEnded, {A::kAskInPlace, A::kKillAll}},
      {E::kSessionEnd, kOurs, P::kEnded, {}},
      {E::kShutdown, kNone, P::kEnded, {}},
      {E::kStart, kNone, P::kEnded, {}},
      {E::kExitGraceOver, kNone, P::kEnded, {}}}},
    {"the session ends during the exit grace: only its rest is waited for",
     P::kExiting,
     {{E::kSessionEnd, kOurs, P::kEnded, {A::kWaitRestInPlace, A::kKillAll}}}},
    {"the session ends during a stop's grace: no second Ctrl+C",
     P::kStopAsked,
     {{E::kSessionEnd, kOurs, P::kEnded, {A::kWaitInPlace, A::kKillAll}}}},
    {"the session ends with no server to ask",
     P::kIdle,
     {{E::kSessionEnd, kNone, P::kEnded, {A::kCancelTimers, A::kCancelWatch, A::kKillAll}}}},
};

TEST(ControlRules, Stories) {
  for (const Story& story : kStories) {
    SCOPED_TRACE(story.what);
    Phase phase = story.from;
    for (const Move& move : story.moves) {
      const std::string at = where(phase, move.event);
      const auto step = control::step(phase, move.event, move.facts);
      if (move.expected.empty()) {
        EXPECT_FALSE(step) << at << " should be ignored";
        continue;
      }
      ASSERT_TRUE(step) << at;
      EXPECT_EQ(step->to, move.to) << at << " leads to " << control::name(step->to);
      // The expected actions come in this order, others may come between them.
      const std::vector<Action> actions = actions_of(*step->actions);
      auto from = actions.begin();
      for (Action a : move.expected) {
        from = std::find(from, actions.end(), a);
        EXPECT_NE(from, actions.end()) << at << ": action " << static_cast<int>(a);
        if (from == actions.end()) break;
        ++from;
      }
      phase = step->to;
    }
  }
}

}  // namespace
