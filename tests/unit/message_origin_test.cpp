#include "app/message_origin.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

// The window's thread as Windows and Wine report on it: while it handles a message sent from
// another thread, every message it sends itself meanwhile counts as sent from that thread too.
class Thread {
 public:
  // A message another thread (or program) sends, handled in full.
  void from_another_thread(const std::function<void()>& handling) {
    ++outer_;
    handling();
    --outer_;
  }
  // The tab control's procedure at work on a message (a click, a tab switch asked for).
  void in_tab(const std::function<void()>& handling) {
    gate_.control_entered();
    handling();
    gate_.control_left();
  }
  // A WM_NOTIFY reaches the window: whether it is read, and then acted on.
  void notice(const std::function<void()>& acting = [] {}) {
    const bool accepted = gate_.accepts_notice(outer_ > 0);
    seen_.push_back(accepted);
    if (!accepted) return;
    const origin::NoticeGate::Acting act(gate_);
    acting();
  }
  const std::vector<bool>& seen() const { return seen_; }

 private:
  origin::NoticeGate gate_;
  int outer_ = 0;
  std::vector<bool> seen_;
};

}  // namespace

TEST(MessageOrigin, TheTabsOwnNoticesAreReadAndNoOtherThreadsAre) {
  struct Story {
    const char* what;
    std::function<void(Thread&)> run;
    std::vector<bool> seen;
  };
  const Story stories[] = {
      {"a click on a tab", [](Thread& t) { t.in_tab([&] { t.notice(); }); }, {true}},
      {"a tab switch another program asks for",
       [](Thread& t) { t.from_another_thread([&] { t.in_tab([&] { t.notice(); }); }); },
       {true}},
      {"another program's notice",
       [](Thread& t) { t.from_another_thread([&] { t.notice(); }); },
       {false}},
      {"another program's notice once the asked-for switch is done",
       [](Thread& t) {
         t.from_another_thread([&] {
           t.in_tab([&] { t.in_tab([&] { t.notice(); }); });
           t.notice();
         });
       },
       {true, false}},
      {"another program's notice while the window acts on the tab's",
       [](Thread& t) {
         t.from_another_thread([&] {
           t.in_tab([&] {
             t.notice([&] { t.from_another_thread([&] { t.notice(); }); });
             t.notice();  // the tab's next one
           });
         });
       },
       {true, false, true}},
  };
  for (const Story& s : stories) {
    SCOPED_TRACE(s.what);
    Thread thread;
    s.run(thread);
    EXPECT_EQ(thread.seen(), s.seen);
  }
}
