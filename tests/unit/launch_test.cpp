#include "server/launch.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/unit/cmd_reading.h"

using launch::Fields;
using launch::first_problem;

namespace {

Fields filled() {
  Fields f;
  f.file = "C:\\srv\\rivermesh_windows_amd64.exe";
  f.port = "8888";
  f.ip = "0.0.0.0";
  f.user = "me";
  f.password = "pw";
  return f;
}

}  // namespace

TEST(LaunchChecks, OnlyTheFirstMissingFieldIsReported) {
  EXPECT_EQ(first_problem(Fields{}), "文件位置 不能为空！");
  Fields f = filled();
  f.port.clear();
  f.ip.clear();
  EXPECT_EQ(first_problem(f), "网页端口 不能为空！");
  f = filled();
  f.ip.clear();
  EXPECT_EQ(first_problem(f), "访问地址 不能为空！");
  f = filled();
  f.access_control = true;
  f.password.clear();
  EXPECT_EQ(first_problem(f), "访问密码 不能为空！");
  f.user.clear();
  EXPECT_EQ(first_problem(f), "访问账号 不能为空！");
}

TEST(LaunchChecks, AccountFieldsCountOnlyWithAccessControl) {
  Fields f = filled();
  f.user = "";
  f.password = "a\"b";
  EXPECT_EQ(first_problem(f), std::nullopt);
  f.access_control = true;
  EXPECT_EQ(first_problem(f), "访问账号 不能为空！");
}

TEST(LaunchChecks, BlankPortPassesAndIsWrittenAsIs) {
  Fields f = filled();
  f.port = "   ";
  EXPECT_EQ(first_problem(f), std::nullopt);
  EXPECT_EQ(launch::command_line(f), "rivermesh_windows_amd64.exe -h \"0.0.0.0\" -p     -l");
}

TEST(LaunchChecks, TextsThatWouldRunCommandsAreRefusedInFieldOrder) {
  Fields f = filled();
  for (const char* port : {"88&calc", "1|2", "8<8", "8>8", "8^8", "8%8", "8\"8", "８８"}) {
    f.port = port;
    EXPECT_EQ(first_problem(f), "网页端口 包含不允许的字符！") << port;
  }
  f = filled();
  f.port = "8-8 ";
  EXPECT_EQ(first_problem(f), std::nullopt);
  for (const char* bad : {"a\"&calc&\"", "%PATH%", "a\nb", "x\x1f", "dir\\"}) {
    f = filled();
    f.ip = bad;
    EXPECT_EQ(first_problem(f), "访问地址 包含不允许的字符！") << bad;
    f = filled();
    f.access_control = true;
    f.user = bad;
    EXPECT_EQ(first_problem(f), "访问账号 包含不允许的字符！") << bad;
    f.user = "ok";
    f.password = bad;
    EXPECT_EQ(first_problem(f), "访问密码 包含不允许的字符！") << bad;
  }
  // The empty check of a field comes before the character check of the next one.
  f = filled();
  f.port = "8&8";
  f.ip.clear();
  EXPECT_EQ(first_problem(f), "网页端口 包含不允许的字符！");
}

TEST(LaunchChecks, SecondBytesOfChineseCharactersAreNotTakenForSpecialOnes) {
  // 表 is 0xB1 0xED, 乗 0x81 0x5C (second byte a backslash), 癋 0xAF 0x7C ('|'-like second byte).
  Fields f = filled();
  f.access_control = true;
  f.user = "用户表\x81\x5C";
  f.password = "密码\xAF\x7C";
  f.ip = "地址\x81\x5C";
  EXPECT_EQ(first_problem(f), std::nullopt);
  EXPECT_FALSE(launch::quoted_text_safe("\xB1\xED\\"));
}

// Quoted fields as the shell reads them in code page 936: 0x80 and 0xFF are characters of their
// own, a lead byte takes only 0x40-0x7E and 0x80-0xFE as its second byte.
struct QuotedCase {
  const char* what;
  std::string text;
  bool accepted;
};

const QuotedCase kQuotedCases[] = {
    {"euro sign", "\x80", true},
    {"quote after the euro sign", "\x80\"", false},
    {"reported injection", "\x80\" & echo pwned>pwned.txt & rem ", false},
    {"0xFF", "\xFF", true},
    {"quote after 0xFF", "\xFF\"x", false},
    {"quote after a lead byte", "a\x81\x22", false},
    {"percent after a lead byte", "\xB1%PATH%", false},
    {"lead byte last", "ab\x81", false},
    {"lead byte before a blank, last but one", "\x81 ", true},
    {"trail byte equal to a lead byte, last", "\x81\x81", true},
    {"lone lead byte after a pair, last", "\x81\x81\x81", false},
    {"trail 0x5C last", "\x81\x5C", true},
    {"backslash after the euro sign, last", "\x80\\", false},
    {"backslash after 0xFF, last", "\xFF\\", false},
    {"backslash after an invalid pair, last", "\x81 \\", false},
    {"inner backslash", "a\\b", true},
    {"shell operators", "^&|<>()!", true},
    {"delimiters", "a b,c;d=e", true},
    {"DEL", "a\x7F", false},
    {"DEL after a lead byte", "\x81\x7F", false},
    {"NUL after a lead byte", std::string("\x81\0", 2), false},
    {"tab", "a\tb", false},
};

// Every text the rule accepts reads as the server's arguments under both readings; in the fields
// that end at a closing quote, every text it refuses reads wrong under one of them: there the rule
// is as tight as it must be, not tighter. (A final backslash in the account is refused all the
// same: it stands before the colon, where it does no harm, but one rule for all is simpler.)
void expect_rule_matches_reading(const Fields& f, const char* field, const std::string& why) {
  const std::optional<std::string> problem = first_problem(f);
  bool reads_wrong = false;
  for (const cmd_reading::InvalidPair reading : cmd_reading::kBothReadings) {
    const std::string fault = cmd_reading::line_fault(f, reading);
    if (!problem) {
      EXPECT_EQ(fault, "") << why << " (" << cmd_reading::name(reading) << ")";
    }
    reads_wrong = reads_wrong || !fault.empty();
  }
  if (problem) {
    EXPECT_EQ(*problem, std::string(field) + " 包含不允许的字符！") << why;
    if (std::string(field) != "访问账号") {
      EXPECT_TRUE(reads_wrong) << why << ": refused, yet it reads right";
    }
  }
}

TEST(LaunchChecks, QuotedFieldsAreJudgedAsTheShellReadsThem) {
  for (const QuotedCase& c : kQuotedCases) {
    EXPECT_EQ(launch::quoted_text_safe(c.text), c.accepted) << c.what;
    Fields f = filled();
    f.access_control = true;
    f.ip = c.text;
    expect_rule_matches_reading(f, "访问地址", c.what);
    f = filled();
    f.access_control = true;
    f.user = c.text;
    expect_rule_matches_reading(f, "访问账号", c.what);
    f.user = "user";
    f.password = c.text;
    expect_rule_matches_reading(f, "访问密码", c.what);
  }
}

TEST(LaunchChecks, RandomFieldsAreAcceptedOnlyWhenTheLineReadsRight) {
  // Bytes near the edges of the code page's ranges and the shell's special characters come often.
  const std::string special =
      std::string("\x80\x81\xFE\xFF\x40\x7E\x7F\x3F\x5C\x22\x25\x20\x00\x0A", 14) +
      "\x3A&^|<>()!ab";
  std::mt19937 random(15);
  auto text = [&](std::size_t max_len) {
    std::string out(random() % (max_len + 1), '\0');
    for (char& c : out) {
      c = random() % 3 ? special[random() % special.size()] : static_cast<char>(random());
    }
    return out;
  };
  int accepted = 0;
  int refused = 0;
  for (int i = 0; i < 30000; ++i) {
    Fields f = filled();
    f.access_control = random() % 4 != 0;
    f.ip = text(5);
    f.user = text(4);
    f.password = text(5);
    if (random() % 8 == 0) f.port = " 8-8 ";
    const std::optional<std::string> problem = first_problem(f);
    if (problem && problem->find("包含不允许的字符") == std::string::npos) continue;
    const char* field = !launch::quoted_text_safe(f.ip)     ? "访问地址"
                        : !launch::quoted_text_safe(f.user) ? "访问账号"
                                                            : "访问密码";
    expect_rule_matches_reading(f, field, ::testing::PrintToString(launch::command_line(f)));
    ++(problem ? refused : accepted);
    if (::testing::Test::HasFailure()) break;
  }
  EXPECT_GT(accepted, 3000);
  EXPECT_GT(refused, 3000);
}

TEST(LaunchScript, BothFormsOfTheLine) {
  Fields f = filled();
  EXPECT_EQ(launch::command_line(f), "rivermesh_windows_amd64.exe -h \"0.0.0.0\" -p 8888 -l");
  f.access_control = true;
  f.user = "账号";
  f.password = "p w";
  EXPECT_EQ(launch::command_line(f),
            "rivermesh_windows_amd64.exe -h \"0.0.0.0\" -p 8888 -a \"账号:p w\" -l");
  EXPECT_EQ(launch::script_path("C:\\服务\\"), "C:\\服务\\run.bat");
  EXPECT_EQ(launch::script_path("D:/srv/"), "D:/srv/run.bat");
  EXPECT_EQ(launch::script_path(""), std::nullopt);
}

TEST(LaunchScript, TheSystemsOwnShellWithoutAutoRun) {
  EXPECT_EQ(launch::shell_command_line("C:\\windows\\system32"),
            "\"C:\\windows\\system32\\cmd.exe\" /D /V:OFF");
  EXPECT_EQ(launch::shell_path("C:\\"), "C:\\cmd.exe");
  EXPECT_EQ(launch::shell_path("D:\\系统\x81\x5C"), "D:\\系统\x81\x5C\\cmd.exe");
}
