#include "app/message_origin.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

namespace {

// The tab control as the window meets it: every message, the window's reading of the selection
// too, runs the control's procedure and then lets the window follow the selection.
class Window {
 public:
  // The control's procedure at work on one message; during: what it does meanwhile (selects a
  // tab, or waits for another program, whose messages come in then).
  void message(const std::function<void()>& during = [] {}) {
    during();
    pages_.follow(
        [&] {
          message();  // TCM_GETCURSEL goes through the procedure as well
          return selection_;
        },
        [&](int page) {
          shown_.push_back(page);
          if (auto act = std::exchange(while_showing_, nullptr)) act();
        });
  }
  void select(int tab) { selection_ = tab; }
  // What comes in while the window shows the next page (its own calls reach the control).
  void while_showing(std::function<void()> act) { while_showing_ = std::move(act); }
  void destroy() { pages_.close(); }
  const std::vector<int>& shown() const { return shown_; }

 private:
  origin::TabPages pages_{2};
  int selection_ = 0;
  std::function<void()> while_showing_;
  std::vector<int> shown_;
};

}  // namespace

TEST(MessageOrigin, TheWindowShowsThePageOfTheTabsSelectionOnlyAndEachOnce) {
  struct Story {
    const char* what;
    std::function<void(Window&)> run;
    std::vector<int> shown;
  };
  const Story stories[] = {
      {"a click on a tab, an arrow key or a switch another program asks for, and back",
       [](Window& w) {
         w.message([&] { w.select(1); });
         w.message([&] { w.select(0); });
       },
       {1, 0}},
      {"another program's notice while the control hands a mouse move on to its tooltip",
       [](Window& w) { w.message([&] { w.message(); }); },
       {}},
      {"a switch another program asks for while the control hands a mouse move on",
       [](Window& w) { w.message([&] { w.message([&] { w.select(1); }); }); },
       {1}},
      {"another program selects the first tab again while the window shows the second",
       [](Window& w) {
         w.while_showing([&] { w.message([&] { w.select(0); }); });
         w.message([&] { w.select(1); });
       },
       {1, 0}},
      {"a selection that names no page keeps the page",
       [](Window& w) {
         w.message([&] { w.select(-1); });
         w.message([&] { w.select(2); });
         w.message([&] { w.select(1); });
       },
       {1}},
      {"the control answers no selection once it is being destroyed",
       [](Window& w) {
         w.message([&] { w.select(1); });
         w.destroy();
         w.message([&] { w.select(0); });
       },
       {1}},
  };
  for (const Story& s : stories) {
    SCOPED_TRACE(s.what);
    Window window;
    s.run(window);
    EXPECT_EQ(window.shown(), s.shown);
  }
}
