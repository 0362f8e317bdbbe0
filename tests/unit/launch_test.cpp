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

TEST(LaunchChecks, TextsThatWouldRunCommandsAreRefusedInFieldOrder) {
  Fields f = filled();
  for (const char* port : {"88&calc", "1|2", "8<8", "8>8", "8^8", "8%8", "8\"8", "８８"}) {
    f.port = port;
    EXPECT_EQ(first_problem(f), "网页端口 包含不允许的字符！") << port;
  }
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
    {"colon, which only the account may not hold", "a:b", true},
};

// Every set of fields the rule accepts reads as the server's arguments under both readings. Where
// the address or the password is refused for its characters, the line reads wrong under one of
// them: there the rule is as tight as it must be, not tighter. (A final backslash in the account
// is refused all the same: it stands before the colon, where it does no harm, but one rule for
// all is simpler. Lengths and the port's range are limits of their own.)
bool reads_wrong(const Fields& f, const std::string& why, bool accepted) {
  bool wrong = false;
  for (const cmd_reading::InvalidPair reading : cmd_reading::kBothReadings) {
    const std::string fault = cmd_reading::line_fault(f, reading);
    if (accepted) {
      EXPECT_EQ(fault, "") << why << " (" << cmd_reading::name(reading) << ")";
    }
    wrong = wrong || !fault.empty();
  }
  return wrong;
}

void expect_rule_matches_reading(const Fields& f, const std::string& why) {
  const std::optional<std::string> problem = first_problem(f);
  const bool wrong = reads_wrong(f, why, !problem);
  if (problem == "访问地址 包含不允许的字符！" || problem == "访问密码 包含不允许的字符！") {
    EXPECT_TRUE(wrong) << why << ": refused, yet it reads right";
  }
}

void expect_rule_matches_reading(const Fields& f, const char* field, const std::string& why) {
  const std::optional<std::string> problem = first_problem(f);
  if (problem) {
    EXPECT_EQ(*problem, std::string(field) + " 包含不允许的字符！") << why;
  }
  expect_rule_matches_reading(f, why);
}

// The checks as they stood before lengths, the port's range and the account's colon counted.
bool old_rule_accepts(const Fields& f) {
  const bool port_ok =
      !f.port.empty() && f.port.find_first_not_of("0123456789- ") == std::string::npos;
  if (!port_ok || f.ip.empty() || !launch::quoted_text_safe(f.ip)) return false;
  return !f.access_control ||
         (!f.user.empty() && !f.password.empty() && launch::quoted_text_safe(f.user) &&
          launch::quoted_text_safe(f.password));
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
  const char* const ports[] = {"8888", " 8-8 ", "8888 --", "   ", "0", "65536", "--", "-1"};
  int accepted = 0;
  int refused = 0;
  // What the old checks let through and the shell or the server reads otherwise.
  int old_broken_by_length = 0;
  int old_broken_by_port = 0;
  int old_broken_by_account = 0;
  for (int i = 0; i < 30000; ++i) {
    Fields f = filled();
    f.access_control = random() % 4 != 0;
    f.ip = text(5);
    f.user = text(4);
    f.password = text(5);
    if (random() % 8 == 0) f.port = ports[random() % std::size(ports)];
    if (random() % 64 == 0) {
      // A field that alone fills a script line, with a command after the shell's cut.
      std::string& field = random() % 2 ? f.ip : f.password;
      field = std::string(200 + random() % 8100, 'a') + std::string(random() % 40, ' ') +
              "echo INJECTED>pwned.txt & rem ";
    }
    const std::string line = launch::command_line(f);
    const std::optional<std::string> problem = first_problem(f);
    const std::string why = line.size() < 100 ? ::testing::PrintToString(line)
                                              : std::to_string(line.size()) + "-byte line";
    expect_rule_matches_reading(f, why);
    ++(problem ? refused : accepted);
    if (old_rule_accepts(f) && reads_wrong(f, why, false)) {
      if (line.size() > cmd_reading::kLineCut) ++old_broken_by_length;
      if (f.port != "8888") ++old_broken_by_port;
      if (f.user.find(':') != std::string::npos) ++old_broken_by_account;
    }
    if (::testing::Test::HasFailure()) break;
  }
  EXPECT_GT(accepted, 3000);
  EXPECT_GT(refused, 3000);
  EXPECT_GT(old_broken_by_length, 0);
  EXPECT_GT(old_broken_by_port, 0);
  EXPECT_GT(old_broken_by_account, 0);
}

TEST(LaunchChecks, LongFieldsAreRefusedBeforeTheShellCutsTheLine) {
  // As reported: the line is 8,253 bytes, the shell runs what stands past its cut.
  Fields f = filled();
  f.ip = std::string(8139, 'a') + std::string(40, ' ') + "echo INJECTED>pwned.txt & rem ";
  ASSERT_EQ(launch::command_line(f).size(), 8253u);
  EXPECT_TRUE(old_rule_accepts(f));
  for (const cmd_reading::InvalidPair reading : cmd_reading::kBothReadings) {
    EXPECT_NE(cmd_reading::line_fault(f, reading), "") << cmd_reading::name(reading);
  }
  EXPECT_EQ(first_problem(f), "访问地址 不能超过 255 个字节！");

  // 255 bytes pass in each field, 256 do not, before their characters are looked at.
  struct Field {
    std::string Fields::*text;
    const char* message;
  };
  for (const Field& field : {Field{&Fields::ip, "访问地址 不能超过 255 个字节！"},
                             Field{&Fields::user, "访问账号 不能超过 255 个字节！"},
                             Field{&Fields::password, "访问密码 不能超过 255 个字节！"}}) {
    f = filled();
    f.access_control = true;
    f.*field.text = std::string(255, 'x');
    EXPECT_EQ(first_problem(f), std::nullopt) << field.message;
    f.*field.text = std::string(255, 'x') + "\"";
    EXPECT_EQ(first_problem(f), field.message);
  }
  // Double-byte characters count by their bytes.
  f = filled();
  f.ip = std::string(128 * 2, '\xB1');
  EXPECT_EQ(first_problem(f), "访问地址 不能超过 255 个字节！");

  // The longest line the checks let through reads whole.
  f = filled();
  f.access_control = true;
  f.port = "65535";
  f.ip = std::string(255, 'i');
  f.user = std::string(255, 'u');
  f.password = std::string(255, 'p');
  expect_rule_matches_reading(f, "longest line");
  EXPECT_LT(launch::command_line(f).size(), cmd_reading::kLineCut / 8);

  // The model's cut: a line of 8,191 characters reads whole, one more does not.
  const std::u32string quoted = U"rivermesh_windows_amd64.exe -h \"\" -p 80 -l";
  std::u32string line = quoted;
  line.insert(33, cmd_reading::kLineCut - quoted.size(), U'a');
  EXPECT_EQ(cmd_reading::read(line).fault, "");
  line.insert(33, 1, U'a');
  EXPECT_NE(cmd_reading::read(line).fault, "");
}

TEST(LaunchChecks, PortIsOneNumberFromOneTo65535) {
  struct Case {
    const char* port;
    const char* message;  // nullptr: accepted
  };
  const Case cases[] = {
      {"1", nullptr},
      {"65535", nullptr},
      {"08888", nullptr},
      // Blanks and '-' part the port or turn it into a flag: "8888 --" ends the server's options
      // before "-a", and a port of blanks lets the server take "-l" for its port.
      {"8888 --", "网页端口 包含不允许的字符！"},
      {"   ", "网页端口 包含不允许的字符！"},
      {"8-8 ", "网页端口 包含不允许的字符！"},
      {"-1", "网页端口 包含不允许的字符！"},
      {" 80", "网页端口 包含不允许的字符！"},
      {"0", "网页端口 必须在 1 到 65535 之间！"},
      {"65536", "网页端口 必须在 1 到 65535 之间！"},
      {"99999", "网页端口 必须在 1 到 65535 之间！"},
      {"000080", "网页端口 必须在 1 到 65535 之间！"},
      {"4294967377", "网页端口 必须在 1 到 65535 之间！"},  // 2^32 + 81
  };
  for (const Case& c : cases) {
    Fields f = filled();
    f.access_control = true;
    f.port = c.port;
    if (c.message) {
      EXPECT_EQ(first_problem(f), c.message) << c.port;
    } else {
      EXPECT_EQ(first_problem(f), std::nullopt) << c.port;
    }
    // The old rule let each of those with other characters through, and none reads as one port.
    if (c.message && std::string(c.message).find("字符") != std::string::npos) {
      EXPECT_TRUE(old_rule_accepts(f)) << c.port;
      EXPECT_TRUE(reads_wrong(f, c.port, false)) << c.port;
    }
  }
}

TEST(LaunchChecks, AColonInTheAccountIsRefused) {
  // "ops:admin" with "s3cret" would reach the server as account "ops", password "admin:s3cret".
  Fields f = filled();
  f.access_control = true;
  f.user = "ops:admin";
  f.password = "s3cret";
  EXPECT_TRUE(old_rule_accepts(f));
  EXPECT_TRUE(reads_wrong(f, "colon in the account", false));
  EXPECT_EQ(first_problem(f), "访问账号 包含不允许的字符！");
  // In the password it stays: the server parts at the first colon.
  f.user = "ops";
  f.password = "ad:min";
  EXPECT_EQ(first_problem(f), std::nullopt);
  EXPECT_FALSE(reads_wrong(f, "colon in the password", true));
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

TEST(LaunchScript, TheShellCanRunOnlyInALocalFolder) {
  EXPECT_EQ(launch::folder_problem(""), "初始化目录不能为空！");
  for (const char* network : {"\\\\nas\\srv\\", "//nas/srv/", "\\/nas/srv/",
                              "\\\\?\\UNC\\nas\\srv\\", "\\\\?\\C:\\srv\\", "\\\\.\\C:\\srv\\"}) {
    EXPECT_EQ(launch::folder_problem(network), "初始化目录不能是网络路径！") << network;
  }
  for (const char* local : {"C:\\srv\\", "D:/srv/", "\\srv\\", "Z:\\"}) {
    EXPECT_EQ(launch::folder_problem(local), std::nullopt) << local;
  }
}

TEST(LaunchScript, TheShellsEnvironmentLetsItLookInItsOwnFolder) {
  using namespace std::string_literals;
  EXPECT_EQ(launch::shell_environment(L"=C:=C:\\srv\0PATH=C:\\w\0"
                                      L"NODEFAULTCURRENTDIRECTORYINEXEPATH=1\0TEMP=C:\\t\0\0"s),
            L"=C:=C:\\srv\0PATH=C:\\w\0TEMP=C:\\t\0\0"s);
  // Only that name: values and longer names that hold it stay.
  const std::wstring kept =
      L"X=NoDefaultCurrentDirectoryInExePath\0"
      L"NoDefaultCurrentDirectoryInExePathX=1\0\0"s;
  EXPECT_EQ(launch::shell_environment(kept), kept);
  EXPECT_EQ(launch::shell_environment(L"NoDefaultCurrentDirectoryInExePath=\0\0"s), L"\0\0"s);
  EXPECT_EQ(launch::shell_environment(L"\0"s), L"\0\0"s);
}

TEST(LaunchScript, TheSystemsOwnShellWithoutAutoRun) {
  EXPECT_EQ(launch::shell_command_line("C:\\windows\\system32"),
            "\"C:\\windows\\system32\\cmd.exe\" /D /V:OFF");
  EXPECT_EQ(launch::shell_path("C:\\"), "C:\\cmd.exe");
  EXPECT_EQ(launch::shell_path("D:\\系统\x81\x5C"), "D:\\系统\x81\x5C\\cmd.exe");
}
