// The log tab's edit box as the console output sees it: output is kept in memory at once, and the
// box follows in steps on a one-shot timer of the window, so that the window keeps answering
// during a flood and leaves the processor to the server's reader meanwhile.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "server/console_text.h"

class LogBox {
 public:
  // The window's timer with this id brings the next step.
  static constexpr UINT_PTR kStepTimer = 1;

  // edit: the multi-line edit box, empty.
  void attach(HWND edit);
  void clear();
  // Output taken from the console (may be empty): kept, and shown now or in later steps.
  void output(std::string_view text);
  // While a step is due, output waits with the console until the step takes it.
  bool step_due() const { return step_due_; }

 private:
  // Positions in the box are counted in bytes where it keeps ANSI text and in UTF-16 units where
  // it keeps wide text; this is the length of text in the box's units.
  std::size_t units(std::string_view text) const;
  void step(std::size_t max_bytes);

  HWND edit_ = nullptr;
  bool byte_units_ = true;
  std::size_t box_units_ = 0;
  console::LogMirror mirror_;
  bool step_due_ = false;
};
