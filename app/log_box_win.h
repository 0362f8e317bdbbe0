// The log tab's edit box as the console output sees it: text goes in as appends at the end, and
// the oldest whole lines go once the log holds more than its cap.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

class LogBox {
 public:
  // edit: the multi-line edit box, empty. step_message: posted to the window when the box has
  // made room for text and shows it at the next call of step().
  void attach(HWND edit, UINT step_message);
  void clear();
  void append(std::string_view text);
  // Shows what waits after a cut.
  void step();
  bool empty() const { return text_.empty() && waiting_.empty(); }

 private:
  // Positions in the box are counted in bytes where it keeps ANSI text and in UTF-16 units where
  // it keeps wide text; this is the length of text in the box's units.
  std::size_t units(std::string_view text) const;
  // Drops the oldest whole lines so that `incoming` more bytes fit; false when nothing had to go.
  bool make_room(std::size_t incoming);
  void show_waiting();

  HWND edit_ = nullptr;
  UINT step_message_ = 0;
  bool byte_units_ = true;
  // What the box holds, so that line ends can be found without asking it.
  std::string text_;
  std::size_t text_units_ = 0;
  // Text that comes after a cut: a shown box repaints after each change, and a cut and an append
  // in one go would keep the window from answering for too long.
  std::string waiting_;
};
