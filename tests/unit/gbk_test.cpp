#include "platform/gbk.h"
#include "platform/path_case.h"

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
  // Windows takes a slash for a separator too; a drive-relative name has no folder at all.
  EXPECT_EQ(gbk::folder_part("D:/srv/x.exe"), "D:/srv/");
  EXPECT_EQ(gbk::name_part("D:/srv/x.exe"), "x.exe");
  EXPECT_EQ(gbk::folder_part("D:\\a/b\\c/x.exe"), "D:\\a/b\\c/");
  EXPECT_EQ(gbk::folder_part("C:x.exe"), "");
  EXPECT_EQ(gbk::name_part("C:x.exe"), "C:x.exe");
  // 0x80 and 0xFF are characters of their own; a lead byte before a byte that cannot end a
  // character stands alone.
  EXPECT_EQ(gbk::folder_part("C:\\a\x80\\x.exe"), "C:\\a\x80\\");
  EXPECT_EQ(gbk::folder_part("C:\\a\xFF\\x.exe"), "C:\\a\xFF\\");
  EXPECT_EQ(gbk::folder_part("C:\\\x81 \\x.exe"), "C:\\\x81 \\");
}

TEST(Gbk, CutNeverSplitsACharacter) {
  EXPECT_EQ(gbk::cut_whole_chars("abc", 3), "abc");
  EXPECT_EQ(gbk::cut_whole_chars("abcd", 3), "abc");
  EXPECT_EQ(gbk::cut_whole_chars("ab状态", 3), "ab");
  EXPECT_EQ(gbk::cut_whole_chars("ab状态", 4), "ab状");
  EXPECT_EQ(gbk::cut_whole_chars("ab状态", 5), "ab状");
  EXPECT_EQ(gbk::cut_whole_chars("", 0), "");
  EXPECT_EQ(gbk::cut_whole_chars("a\x80\xB1\xED", 3), "a\x80");
  EXPECT_EQ(gbk::cut_whole_chars("a\x81\x22", 2), "a\x81");  // 0x22 ends no character
  EXPECT_EQ(gbk::cut_whole_chars("a\x81\x7F", 2), "a\x81");
  EXPECT_EQ(gbk::cut_whole_chars("a\x81\xFF", 2), "a\x81");
  EXPECT_TRUE(gbk::ends_in_lone_lead("\xB1\xED\xB1"));
  EXPECT_FALSE(gbk::ends_in_lone_lead("\xB1\xB1"));
  EXPECT_FALSE(gbk::ends_in_lone_lead("a\x80"));
  EXPECT_FALSE(gbk::ends_in_lone_lead(""));
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

TEST(Gbk, FileNamesFoldTheLettersTheFileSystemFolds) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  };
  const Case cases[] = {
      {"C:\\Tools\\X.EXE", "c:\\tools\\x.exe", true},
      {"Ａ.exe", "ａ.exe", true},  // full-width A3 C1 / A3 E1
      {"Ｚ.exe", "ｚ.exe", true},  // the row's last pair
      {"Ａ.exe", "Ｂ.exe", false},
      {"Ａ.exe", "A.exe", false},  // full-width and ASCII are other letters
      {"Σ", "σ", true},            // Greek A6 B2 / A6 D2
      {"Ω", "ω", true},
      {"Ё", "ё", true},  // Cyrillic A7 A7 / A7 D7
      {"Я", "я", true},
      {"Ⅹ", "ⅹ", true},  // Roman numerals A2 FA / A2 AA
      {"Ⅺ", "ⅹ", false},
      {"工具", "工具", true},
      {"服务", "服务A", false},
      // Trail bytes that look like ASCII letters belong to their character.
      {"\x81\x41", "\x81\x61", false},
      {"\x81\x41X", "\x81\x41x", true},
      // A byte that looks like a small full-width letter's trail after a single-byte character.
      {"a\xE1", "a\xC1", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(path_case::same(c.a, c.b), c.same) << c.a << " / " << c.b;
  }
}

namespace {

// Code page 936 as far as the paths below need it: ASCII, two Chinese characters, ü and à.
struct Known {
  wchar_t wide;
  const char* bytes;
};
const Known kKnown[] = {{L'中', "中"}, {L'文', "文"}, {L'ü', "\xA8\xB9"}, {L'à', "\xA8\xA4"}};

std::string known_bytes(wchar_t c) {
  if (c < 0x80) return std::string(1, static_cast<char>(c));
  for (const Known& k : kKnown) {
    if (k.wide == c) return k.bytes;
  }
  return {};
}

std::wstring widen(std::string_view bytes) {
  std::wstring out;
  for (std::size_t i = 0; i < bytes.size(); i += gbk::char_width(bytes, i)) {
    const std::string_view one = bytes.substr(i, gbk::char_width(bytes, i));
    wchar_t c = L'?';
    if (one.size() == 1) c = static_cast<unsigned char>(one[0]);
    for (const Known& k : kKnown) {
      if (one == k.bytes) c = k.wide;
    }
    out += c;
  }
  return out;
}

// The system's conversion without best-fit mappings: best_fit_anyway maps À to à as Wine does;
// reports_default says whether the default character put in is reported.
gbk::Narrowed narrow(std::wstring_view text, bool best_fit_anyway, bool reports_default) {
  gbk::Narrowed n;
  for (const wchar_t c : text) {
    const std::string bytes = known_bytes(c == L'À' && best_fit_anyway ? L'à' : c);
    if (bytes.empty()) {
      n.bytes += '?';
      n.used_default = n.used_default || reports_default;
    } else {
      n.bytes += bytes;
    }
  }
  return n;
}

}  // namespace

TEST(Gbk, AWideTextIsKeptOnlyWhenItComesBackUnchanged) {
  struct System {
    const char* what;
    bool best_fit_anyway, reports_default;
  };
  const System systems[] = {
      {"as Windows", false, true}, {"as Wine", true, true}, {"reporting no default", false, false}};
  for (const System& s : systems) {
    SCOPED_TRACE(s.what);
    const auto convert = [&](std::wstring_view text) {
      return gbk::exactly(
          text,
          [&](std::wstring_view t) { return narrow(t, s.best_fit_anyway, s.reports_default); },
          widen);
    };
    EXPECT_EQ(convert(L"C:\\中文\\ü\\rivermesh_windows_amd64.exe"),
              std::optional<std::string>("C:\\中文\\\xA8\xB9\\rivermesh_windows_amd64.exe"));
    EXPECT_EQ(convert(L""), std::optional<std::string>(""));
    // A question mark of the text's own is no replaced character.
    EXPECT_EQ(convert(L"a?b"), std::optional<std::string>("a?b"));
    // Hangul has no form in code page 936; À has none but its look-alike à.
    // (Kept out of the checks' own texts, which are narrow.)
    for (const std::wstring_view lost :
         {L"C:\\ü한\\rivermesh_windows_amd64.exe", L"C:\\À\\rivermesh_windows_amd64.exe", L"한"}) {
      EXPECT_EQ(convert(lost), std::nullopt);
    }
  }
}
