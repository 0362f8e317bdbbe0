#include "app/log_mirror.h"

#include <gtest/gtest.h>

#include <string>

using console::kLogCap;
using logbox::slice_length;

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
std::string follow(logbox::LogMirror& m, std::string& box, std::size_t max_bytes) {
  std::string kinds;
  for (auto s = m.next(max_bytes); s.kind != logbox::LogMirror::Step::Kind::kNone;
       s = m.next(max_bytes)) {
    switch (s.kind) {
      case logbox::LogMirror::Step::Kind::kClear:
        box.clear();
        kinds += 'C';
        break;
      case logbox::LogMirror::Step::Kind::kCut:
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
  logbox::LogMirror m;
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
  while (flood.size() <= kLogCap) flood += line;
  m.add(flood);
  EXPECT_EQ(follow(m, box, logbox::kHiddenSliceBytes).substr(0, 2), "CA");
  EXPECT_LE(box.size(), kLogCap);
  EXPECT_GE(box.size(), kLogCap - logbox::kTrimSlack - line.size());
  EXPECT_EQ(box, flood.substr(flood.size() - box.size()));

  // Past the cap while the box holds lines that stay: its oldest whole lines are cut, then the
  // rest follows.
  const std::string more = "第四行\r\n" + flood.substr(0, logbox::kTrimSlack + 10 * line.size());
  const std::string all = box + more;
  m.add(more);
  EXPECT_EQ(follow(m, box, logbox::kSliceBytes).substr(0, 2), "XA");
  EXPECT_LE(box.size(), kLogCap);
  EXPECT_EQ(box, all.substr(all.size() - box.size()));
  EXPECT_EQ(all[all.size() - box.size() - 1], '\n');

  // A new launch: the owner empties the box; nothing older comes back.
  m.add("旧");
  m.clear();
  box.clear();
  m.add("新\r\n");
  EXPECT_EQ(follow(m, box, logbox::kSliceBytes), "A");
  EXPECT_EQ(box, "新\r\n");
}

TEST(LogBacklog, AHiddenBoxWaitsForAFloodToPauseAShownOneSlowsDown) {
  struct Case {
    bool shown, flooding, stepping;
  };
  for (const Case c : {Case{false, false, false}, Case{false, true, false}, Case{false, true, true},
                       Case{true, false, false}, Case{true, true, false}, Case{true, true, true}}) {
    const logbox::LogPace pace = logbox::log_pace(c.shown, c.flooding, c.stepping);
    const logbox::LogPace calm = logbox::log_pace(c.shown, false, false);
    SCOPED_TRACE(testing::Message() << "shown " << c.shown << ", flooding " << c.flooding
                                    << ", stepping " << c.stepping);
    // A burst's first notice never steps: a shown box follows a flood on its own timer only.
    EXPECT_EQ(pace.step, !c.flooding || (c.shown && c.stepping));
    if (pace.step) {
      EXPECT_GT(pace.slice_bytes, 0u);
    }
    // A shown box repaints after each step: its steps are no larger than a hidden box's.
    if (c.shown) {
      EXPECT_LE(pace.slice_bytes, logbox::log_pace(false, false, false).slice_bytes);
    }
    // During a flood the box looks again later, leaving the processor to the reader.
    if (c.flooding) {
      EXPECT_GE(pace.next_ms, 5 * calm.next_ms);
    }
    EXPECT_GE(pace.next_ms, 10u);  // a window timer's shortest period
  }
}
