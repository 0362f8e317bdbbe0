// The log tab's edit box as the console output sees it: output is kept in memory at once, and the
// box follows in steps on a one-shot timer of its own, so that the window keeps answering during a
// flood and leaves the processor to the server's reader meanwhile. The reader's notices come to
// the box itself: the output reaches the log without passing through the server control.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>

#include "app/layout.h"
#include "app/log_mirror.h"
#include "server/console_win.h"

class LogBox {
 public:
  LogBox() = default;
  ~LogBox();
  LogBox(const LogBox&) = delete;
  LogBox& operator=(const LogBox&) = delete;

  // edit: the multi-line edit box, empty.
  void attach(HWND edit);
  // An inbox for a new launch's output; the notices of earlier ones are dropped from here on.
  std::shared_ptr<console::Inbox> new_inbox();
  void clear();

 private:
  static LRESULT CALLBACK edit_proc(HWND hwnd, UINT message, WPARAM wp, LPARAM lp, UINT_PTR id,
                                    DWORD_PTR data);
  // The log's own menu at the mouse, or below the caret when opened from the keyboard (lp -1).
  void context_menu(LPARAM lp);
  void open_logs_folder() const;
  // A notice from an inbox: its output, unless a step is due, which takes it then.
  void on_notice(WPARAM inbox);
  void on_step_timer();
  // Output taken from the inbox (may be empty): kept, and shown now or in later steps. stepping:
  // taken by the step timer.
  void output(std::string_view text, bool stepping);
  // Positions in the box are counted in bytes where it keeps ANSI text and in UTF-16 units where
  // it keeps wide text; this is the length of text in the box's units.
  std::size_t units(std::string_view text) const;
  void step(std::size_t max_bytes);
  void stop_timer();

  HWND edit_ = nullptr;
  bool byte_units_ = true;
  std::size_t box_units_ = 0;
  logbox::LogMirror mirror_;
  std::shared_ptr<console::Inbox> inbox_;
  bool step_due_ = false;
};
