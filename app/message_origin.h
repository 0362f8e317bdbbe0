// Which notices the main window may read. A WM_NOTIFY carries a pointer that the system passes on
// as it is: it points at a record only when the window's own thread sent the message. Another
// program can send one with any number in it, and reading there may fault.
#pragma once

namespace origin {

// Windows and Wine say whether the message being handled was sent from another thread; for a
// message that the window's own thread sends while it handles one from another thread, they
// report that outer message. A tab switch that another program asks for (automation and
// accessibility tools do) makes the tab control send its notice in just that nesting, so the
// report alone would refuse it.
class NoticeGate {
 public:
  // Between these the tab control's own procedure runs on the window's thread: a notice that
  // comes meanwhile is the control's, whatever the outer message.
  void control_entered() { ++inside_; }
  void control_left() {
    if (inside_ > 0) --inside_;
  }

  bool accepts_notice(bool sent_from_another_thread) const {
    return !sent_from_another_thread || inside_ > 0;
  }

  // While the window acts on an accepted notice, a message of another thread that reaches it
  // (the window's own calls may wait for one) is no notice of the control's.
  class Acting {
   public:
    explicit Acting(NoticeGate& gate) : gate_(gate), inside_(gate.inside_) { gate_.inside_ = 0; }
    ~Acting() { gate_.inside_ = inside_; }
    Acting(const Acting&) = delete;
    Acting& operator=(const Acting&) = delete;

   private:
    NoticeGate& gate_;
    int inside_;
  };

 private:
  int inside_ = 0;
};

}  // namespace origin
