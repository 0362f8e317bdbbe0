// The log tab's edit box as the console output sees it: text goes in as appends at the end, and
// the oldest whole lines go once the log holds more than its cap.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

class LogBox {
 public:
  // edit: the multi-line edit box, empty.
  void attach(HWND edit);
  void clear();
  void append(std::string_view text);
  bool empty() const { return text_.empty(); }

 private:
  // Positions in the box are counted in bytes where it keeps ANSI text and in UTF-16 units where
  // it keeps wide text; this is the length of text in the box's units.
  std::size_t units(std::string_view text) const;

  HWND edit_ = nullptr;
  bool byte_units_ = true;
  // What the box holds, so that line ends can be found without asking it.
  std::string text_;
  std::size_t text_units_ = 0;
};
