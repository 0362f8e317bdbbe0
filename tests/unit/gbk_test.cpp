#include "platform/gbk.h"

#include <gtest/gtest.h>

// 0x87 0x5C is one double-byte character whose trail byte looks like a backslash.
const std::string kTrailBackslash = "\x87\x5C";

TEST(Gbk, LastBackslashSkipsTrailBytes) {
  EXPECT_EQ(gbk::folder_part("C:\\服务\\rivermesh_windows_amd64.exe"), "C:\\服务\\");
  EXPECT_EQ(gbk::folder_part("C:\\a" + kTrailBackslash + "b"), "C:\\");
  EXPECT_EQ(gbk::name_part("C:\\a" + kTrailBackslash), "a" + kTrailBackslash);
  EXPECT_EQ(gbk::folder_part("rivermesh_windows_amd64.exe"), "");
  EXPECT_EQ(gbk::name_part("no folder"), "no folder");
  EXPECT_EQ(gbk::folder_part("C:\\dir\\"), "C:\\dir\\");
  EXPECT_EQ(gbk::name_part("C:\\dir\\"), "");
}

TEST(Gbk, CutNeverSplitsACharacter) {
  EXPECT_EQ(gbk::cut_whole_chars("abc", 3), "abc");
  EXPECT_EQ(gbk::cut_whole_chars("abcd", 3), "abc");
  EXPECT_EQ(gbk::cut_whole_chars("ab状态", 3), "ab");
  EXPECT_EQ(gbk::cut_whole_chars("ab状态", 4), "ab状");
  EXPECT_EQ(gbk::cut_whole_chars("ab状态", 5), "ab状");
  EXPECT_EQ(gbk::cut_whole_chars("", 0), "");
}

TEST(Gbk, LowerCasesAsciiOnly) {
  // The full-width Ａ (0xA3 0xC1) stays; a trail byte in the A-Z range (0x81 0x41) stays.
  EXPECT_EQ(gbk::ascii_lower("EXPLORER.EXE"), "explorer.exe");
  EXPECT_EQ(gbk::ascii_lower("\xA3\xC1Z"), "\xA3\xC1z");
  EXPECT_EQ(gbk::ascii_lower("\x81\x41"
                             "A"),
            "\x81\x41"
            "a");
  EXPECT_TRUE(gbk::equals_ignoring_ascii_case("Explorer.EXE", "explorer.exe"));
  EXPECT_FALSE(gbk::equals_ignoring_ascii_case("\xA3\xC1", "\xA3\xE1"));
}
