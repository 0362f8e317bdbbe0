#include "server/launch.h"

#include <gtest/gtest.h>

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
  // A lone lead byte at the end stands for itself; a final real backslash is refused.
  EXPECT_FALSE(launch::quoted_text_safe("\xB1\xED\\"));
  EXPECT_TRUE(launch::quoted_text_safe("\xB1"));
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
