#include "server/console_text.h"

#include <gtest/gtest.h>

#include <string>

using console::ChunkDecoder;
using console::front_cut;

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
