// The log box's model: the log as the window keeps it and how much of it the edit box shows, the
// slices the box takes in one step and how fast it follows the output. Characters are those of
// code page 936 as platform/gbk.h reads them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "server/console_text.h"

namespace logbox {

using console::kLogCap;

// Once over the cap, the log drops this much more, so that it is not trimmed on every append.
inline constexpr std::size_t kTrimSlack = 256 * 1024;
// The most one step puts into the log box while it is shown, and while it is hidden. A shown box
// spends 15-20 ms on drawing and scrolling at every change, whatever its size, and about 0.5 ms
// per KiB on top, as a hidden one does (Wine 8).
inline constexpr std::size_t kSliceBytes = 8 * 1024;
inline constexpr std::size_t kHiddenSliceBytes = 16 * 1024;

// The log as the window keeps it, and how much of it the edit box holds. Output is kept here at
// once, which costs next to nothing; the box follows in steps, each a message of its own: under
// Wine every change of the box costs a few milliseconds per kilobyte, and several times that in
// repaints while it is on the screen.
class LogMirror {
 public:
  struct Step {
    enum class Kind { kNone, kClear, kCut, kAppend };
    Kind kind = Kind::kNone;
    // kCut: the box's oldest text, to be removed; kAppend: the text to add at its end. Valid
    // until the next call.
    std::string_view text;
  };

  // Keeps text; once more than kLogCap bytes are kept, the oldest whole lines go, with slack.
  void add(std::string_view text);
  // The box's next step, an append of at most max_bytes; counted as done.
  Step next(std::size_t max_bytes);
  // Whether the box holds exactly what the log keeps.
  bool synced() const { return !clear_box_ && dropped_ == 0 && box_ == text_.size(); }
  // For a box that was emptied by its owner.
  void clear();

 private:
  // What the box holds, [0, box_), then what it does not show yet. The first dropped_ bytes are
  // no longer kept: the box's next step removes them.
  std::string text_;
  std::size_t box_ = 0;
  std::size_t dropped_ = 0;
  bool clear_box_ = false;
  std::string cut_;
};

// How the box follows the output. shown: the box is on the screen; flooding: more output came
// since the last step than one step shows; stepping: the box's own timer asks, not new output. A
// hidden box waits until a flood pauses; a shown one keeps showing it, slowly enough to leave the
// processor to the reader and the server, from its first step on: a burst that has just begun
// is shown at the next step, not amid it (a shown box's step costs as much processor time as
// tens of megabytes of the server's writing).
struct LogPace {
  bool step = false;            // take a step now
  std::size_t slice_bytes = 0;  // the most an append takes
  unsigned next_ms = 0;         // when to look again, while the box is behind
};
LogPace log_pace(bool shown, bool flooding, bool stepping);

// Length of the first part of text that is at most max_bytes long and ends on a whole character
// (at a line end where one lies in the second half of that part).
std::size_t slice_length(std::string_view text, std::size_t max_bytes);

}  // namespace logbox
