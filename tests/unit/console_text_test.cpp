#include "server/console_text.h"

#include <gtest/gtest.h>

#include <string>

using console::ChunkDecoder;
using console::front_cut;
using console::slice_length;

TEST(ChunkDecoder, CarriesACharacterSplitBetweenReads) {
  ChunkDecoder d;
  const std::string text = "启动成功";  // four double-byte characters
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 3) out += d.feed(text.substr(i, 3));
  out += d.flush();
  EXPECT_EQ(out, text);

  ChunkDecoder e;
  EXPECT_EQ(e.feed("ab\xC6"), "ab");
  EXPECT_EQ(e.feed("\xF4x"), "\xC6\xF4x");
  // A second byte equal to a lead byte is not a new lead byte.
  EXPECT_EQ(e.feed("\xB1\xB1\xB1"), "\xB1\xB1");
  EXPECT_EQ(e.flush(), "\xB1");
  EXPECT_EQ(e.flush(), "");
  // 0x80 and 0xFF start nothing; a lead byte before a byte that ends no character stands alone.
  EXPECT_EQ(e.feed("a\x80"), "a\x80");
  EXPECT_EQ(e.feed("a\xFF"), "a\xFF");
  EXPECT_EQ(e.feed("\x81\x22"), "\x81\x22");
  EXPECT_EQ(e.feed("\x81\x7F\x81"), "\x81\x7F");
  EXPECT_EQ(e.flush(), "\x81");
}

TEST(ChunkDecoder, SkipsNulBytesAndKeepsWhatFollows) {
  ChunkDecoder d;
  EXPECT_EQ(d.feed(std::string("a\0b\0\0c", 6)), "abc");
  // A NUL between a lead byte and its trail does not split them apart.
  EXPECT_EQ(d.feed(std::string("\xC6\0", 2)), "");
  EXPECT_EQ(d.feed("\xF4"), "\xC6\xF4");
}

TEST(LogCap, OldestWholeLinesGo) {
  const std::string text = "line1\r\nline2\r\nline3\r\n";
  EXPECT_EQ(front_cut(text, text.size()), 0u);
  EXPECT_EQ(front_cut(text, text.size() - 1), 7u);  // all of line1
  EXPECT_EQ(front_cut(text, 7), 14u);
  // The last line is longer than the cap: its end stays rather than nothing.
  EXPECT_EQ(text.substr(front_cut(text, 6)), "ine3\r\n");
  const std::string tail = "x\n" + std::string(600, 'y') + "\n";
  EXPECT_EQ(tail.size() - front_cut(tail, 602), 601u);
  const std::string long_line = std::string(600, 'x') + "\nyy\n";
  EXPECT_EQ(long_line.size() - front_cut(long_line, 500), 500u);
}

TEST(LogCap, OneLongLineIsCutOnAWholeCharacter) {
  const std::string text = "中文中文中文";  // 12 bytes, no line end
  EXPECT_EQ(front_cut(text, 5), 8u);        // 7 would split a character
  EXPECT_EQ(front_cut(text, 6), 6u);
  const std::string big = std::string(3000, 'x') + "\n" + std::string(5000, 'y');
  EXPECT_EQ(big.size() - front_cut(big, 4000), 4000u);
}

TEST(LogSlices, EndAtLineEndsOrWholeCharacters) {
  const std::string lines = "aaaa\nbbbb\ncccc\n";
  EXPECT_EQ(slice_length(lines, 100), lines.size());
  EXPECT_EQ(slice_length(lines, 12), 10u);
  const std::string chinese = "中文中文";
  EXPECT_EQ(slice_length(chinese, 3), 2u);
  EXPECT_EQ(slice_length(chinese, 1), 2u);  // never an empty slice
}

namespace {

// Plays the mirror's steps on a string as the edit box would; answers the kinds of steps taken.
std::string follow(console::LogMirror& m, std::string& box, std::size_t max_bytes) {
  std::string kinds;
  for (auto s = m.next(max_bytes); s.kind != console::LogMirror::Step::Kind::kNone;
       s = m.next(max_bytes)) {
    switch (s.kind) {
      case console::LogMirror::Step::Kind::kClear:
        box.clear();
        kinds += 'C';
        break;
      case console::LogMirror::Step::Kind::kCut:
        EXPECT_EQ(box.compare(0, s.text.size(), s.text), 0) << "a cut takes the box's front";
        box.erase(0, s.text.size());
        kinds += 'X';
        break;
      default:
        EXPECT_LE(s.text.size(), max_bytes);
        box += s.text;
        kinds += 'A';
        break;
    }
  }
  EXPECT_TRUE(m.synced());
  return kinds;
}

}  // namespace

TEST(LogBacklog, HandsOutSlicesAndKeepsOnlyTheNewestPart) {
  console::LogMirror m;
  std::string box;
  EXPECT_TRUE(m.synced());
  m.add("第一行\r\n第二行\r\n");
  EXPECT_FALSE(m.synced());
  EXPECT_EQ(m.next(9).text, "第一行\r\n");
  m.add("第三行\r\n");
  EXPECT_EQ(m.next(100).text, "第二行\r\n第三行\r\n");
  EXPECT_TRUE(m.synced());
  box = "第一行\r\n第二行\r\n第三行\r\n";

  // So much at once that nothing the box holds is kept: it is emptied, not cut; what the log
  // would drop anyway is never appended.
  const std::string line = std::string(1000, 'x') + "\r\n";
  std::string flood;
  while (flood.size() <= console::kLogCap) flood += line;
  m.add(flood);
  EXPECT_EQ(follow(m, box, console::kHiddenSliceBytes).substr(0, 2), "CA");
  EXPECT_LE(box.size(), console::kLogCap);
  EXPECT_GE(box.size(), console::kLogCap - console::kTrimSlack - line.size());
  EXPECT_EQ(box, flood.substr(flood.size() - box.size()));

  // Past the cap while the box holds lines that stay: its oldest whole lines are cut, then the
  // rest follows.
  const std::string more = "第四行\r\n" + flood.substr(0, console::kTrimSlack + 10 * line.size());
  const std::string all = box + more;
  m.add(more);
  EXPECT_EQ(follow(m, box, console::kSliceBytes).substr(0, 2), "XA");
  EXPECT_LE(box.size(), console::kLogCap);
  EXPECT_EQ(box, all.substr(all.size() - box.size()));
  EXPECT_EQ(all[all.size() - box.size() - 1], '\n');

  // A new launch: the owner empties the box; nothing older comes back.
  m.add("旧");
  m.clear();
  box.clear();
  m.add("新\r\n");
  EXPECT_EQ(follow(m, box, console::kSliceBytes), "A");
  EXPECT_EQ(box, "新\r\n");
}

TEST(LogBacklog, AHiddenBoxWaitsForAFloodToPauseAShownOneSlowsDown) {
  struct Case {
    bool shown, flooding;
  };
  for (const Case c :
       {Case{false, false}, Case{false, true}, Case{true, false}, Case{true, true}}) {
    const console::LogPace pace = console::log_pace(c.shown, c.flooding);
    const console::LogPace calm = console::log_pace(c.shown, false);
    SCOPED_TRACE(testing::Message() << "shown " << c.shown << ", flooding " << c.flooding);
    EXPECT_EQ(pace.step, c.shown || !c.flooding);
    if (pace.step) {
      EXPECT_GT(pace.slice_bytes, 0u);
    }
    // A shown box repaints after each step: its steps are no larger than a hidden box's.
    if (c.shown) {
      EXPECT_LE(pace.slice_bytes, console::log_pace(false, false).slice_bytes);
    }
    // During a flood the box looks again later, leaving the processor to the reader.
    if (c.flooding) {
      EXPECT_GE(pace.next_ms, 5 * calm.next_ms);
    }
    EXPECT_GE(pace.next_ms, 10u);  // a window timer's shortest period
  }
}
