// The console output's way from the pipe to the log box, as rules on byte strings: reads are
// turned into whole-character text, and the log keeps only its newest part. Characters are those
// of code page 936 as platform/gbk.h reads them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace console {

// The log holds at most this many bytes; older whole lines go first.
inline constexpr std::size_t kLogCap = 1024 * 1024;
// Once over the cap, the log drops this much more, so that it is not trimmed on every append.
inline constexpr std::size_t kTrimSlack = 256 * 1024;
// The window takes at most this much text per hand-over, so that it keeps answering.
inline constexpr std::size_t kSliceBytes = 8 * 1024;

// Turns pipe reads into text: NUL bytes are skipped (the log box would end its text there), and a
// lead byte that ends a read waits for its trail byte in the next one.
class ChunkDecoder {
 public:
  std::string feed(std::string_view bytes);
  // What is still held back when the output ends: a lone lead byte, shown as it is.
  std::string flush();

 private:
  std::string carry_;
};

// The output the window has received but not shown yet; it takes it in slices, so that other
// messages are answered in between. Bounded like the log: older whole lines go first.
class Backlog {
 public:
  void add(std::string text);
  // The next slice of at most max_bytes, ending on a whole character; valid until the next add.
  std::string_view next(std::size_t max_bytes);
  bool empty() const { return shown_ == text_.size(); }
  void clear();

 private:
  std::string text_;
  std::size_t shown_ = 0;
};

// How many bytes to cut from the front of text so that at most cap bytes remain: up to the end of
// a line where one ends in the part that must go, else on a whole character.
std::size_t front_cut(std::string_view text, std::size_t cap);

// Length of the first part of text that is at most max_bytes long and ends on a whole character
// (at a line end where one lies in the second half of that part).
std::size_t slice_length(std::string_view text, std::size_t max_bytes);

}  // namespace console
