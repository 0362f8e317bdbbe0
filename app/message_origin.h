// What the main window may believe of the messages it gets. A WM_NOTIFY carries a pointer that the
// system passes on as it is: it points at a record only when the window's own thread sent it.
// Whether it did cannot be told while another program's message is being handled: Windows and
// Wine then report every message sent meanwhile as that program's, the tab control's own notices
// too, and the control's procedure itself may wait for another program (it hands mouse messages on
// to a tooltip that any program may name with TCM_SETTOOLTIPS). So no notice is read at all, and
// the page the window shows is learnt from the tab control itself.
#pragma once

namespace origin {

// The window shows the page of the tab control's selection, read once the control's own procedure
// has handled a message. A click, an arrow key and a switch that another program asks for
// (automation and accessibility tools send TCM_SETCURFOCUS; TCM_SETCURSEL selects without telling
// the window at all) each end in a new selection, whoever sent the message and whatever it
// carried.
class TabPages {
 public:
  explicit TabPages(int pages) : pages_(pages) {}

  // selection() reads the control's selection; show(page) switches the window to a page. While it
  // does, the control hears from the window again (its size, its children) and, where a call waits
  // for another program, maybe from that program: those inner calls switch nothing, and the
  // selection is read again once the page is shown, so each page follows the one shown before it.
  template <typename Selection, typename Show>
  void follow(Selection selection, Show show) {
    if (following_ || closed_) return;
    following_ = true;
    for (int page = selection(); page >= 0 && page < pages_ && page != shown_; page = selection()) {
      shown_ = page;
      show(page);
    }
    following_ = false;
  }

  // The control is being destroyed: what it answers from then on is no selection.
  void close() { closed_ = true; }

 private:
  int pages_;
  int shown_ = 0;  // the window opens on the first page
  bool following_ = false;
  bool closed_ = false;
};

}  // namespace origin
