// The console output's way from the pipe, as rules on byte strings: reads are turned into
// whole-character text, and no more than the log keeps waits for it. Characters are those of
// code page 936 as platform/gbk.h reads them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace console {

// The log holds at most this many bytes; older whole lines go first.
inline constexpr std::size_t kLogCap = 1024 * 1024;

// Turns pipe reads into text: NUL bytes are skipped (the log box would end its text there), and a
// lead byte that ends a read waits for its trail byte in the next one.
class ChunkDecoder {
 public:
  // The whole characters of what was read so far, NUL bytes skipped: a view of bytes or of the
  // decoder's own text, valid until the next call and while bytes is.
  std::string_view feed(std::string_view bytes);
  // What is still held back when the output ends: a lone lead byte, shown as it is.
  std::string flush();

 private:
  std::string carry_;
  std::string joined_;
};

// How many bytes to cut from the front of text so that at most cap bytes remain: up to the end of
// a line where one ends in the part that must go, else on a whole character.
std::size_t front_cut(std::string_view text, std::size_t cap);

}  // namespace console
