// config.ini as a user meets it: defaults and the fallback path at start-up, values written back
// when a field is left, and "保存配置" writing every key.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/layout.h"
#include "config/settings_win.h"
#include "platform/handles_win.h"
#include "tests/e2e/harness.h"

using namespace e2e;
using namespace layout;

namespace {

constexpr char kBasis[] = "BasisConfig";
constexpr char kServer[] = "ServerConfig";

void type_into(HWND edit, const std::string& text) {
  focus(edit);
  SendMessageA(edit, EM_SETSEL, 0, -1);
  // Sent, not posted: every key has reached the field before the focus moves on.
  for (unsigned char c : text) SendMessageA(edit, WM_CHAR, c, 1);
}

}  // namespace

TEST(Settings, FirstStartWithTheServerBesideTheProgram) {
  TestFolder folder;
  folder.copy_standin();
  Program program = start_program(folder, false);
  ASSERT_NE(program.main, nullptr);
  const std::string beside = folder.file("rivermesh_windows_amd64.exe");

  EXPECT_EQ(text_of(find_control(program.main, 编辑框_文件位置)), beside);
  EXPECT_EQ(text_of(find_control(program.main, 编辑框_网页端口)), "8888");
  EXPECT_EQ(text_of(find_control(program.main, 编辑框_IP)), "0.0.0.0");
  EXPECT_EQ(text_of(find_control(program.main, 编辑框_账号)), "");
  EXPECT_EQ(text_of(find_control(program.main, 编辑框_密码)), "");
  EXPECT_FALSE(checked(find_control(program.main, 选择框_开机启动)));
  EXPECT_FALSE(checked(find_control(program.main, 选择框_访问控制)));
  EXPECT_FALSE(enabled(find_control(program.main, 编辑框_账号)));
  EXPECT_FALSE(enabled(find_control(program.main, 编辑框_密码)));
  EXPECT_FALSE(enabled(find_control(program.main, 选择框_密码明文)));

  const std::string ini = folder.file("config.ini");
  EXPECT_TRUE(wait_until([&] { return ini_value(ini, kBasis, "File") == beside; }));
  // Only what the loader changed was written.
  EXPECT_FALSE(ini_has_key(ini, kBasis, "Web port"));
}

TEST(Settings, FilePathFallbackRules) {
  {
    SCOPED_TRACE("no config.ini and no server: File is written empty");
    TestFolder folder;
    Program program = start_program(folder, false);
    ASSERT_NE(program.main, nullptr);
    const std::string ini = folder.file("config.ini");
    EXPECT_TRUE(wait_until([&] { return ini_has_key(ini, kBasis, "File"); }));
    EXPECT_EQ(ini_value(ini, kBasis, "File"), "");
    EXPECT_EQ(text_of(find_control(program.main, 编辑框_文件位置)), "");
  }
  {
    SCOPED_TRACE("a configured path that is gone is shown as the one beside the program");
    TestFolder folder;
    folder.copy_standin();
    // A drive that is not there yet at login: the file keeps the path until the user saves.
    const std::string configured = "X:\\服务\\rivermesh_windows_amd64.exe";
    folder.write_file("config.ini", "[BasisConfig]\r\nFile=" + configured + "\r\n");
    Program program = start_program(folder, true);
    ASSERT_NE(program.main, nullptr);
    const std::string beside = folder.file("rivermesh_windows_amd64.exe");
    const std::string ini = folder.file("config.ini");
    EXPECT_EQ(text_of(find_control(program.main, 编辑框_文件位置)), beside);
    EXPECT_TRUE(sync(program.main));
    EXPECT_EQ(ini_value(ini, kBasis, "File"), configured);
    SendMessageA(find_control(program.main, 按钮_保存), BM_CLICK, 0, 0);
    EXPECT_TRUE(wait_until([&] { return ini_value(ini, kBasis, "File") == beside; }));
  }
  {
    SCOPED_TRACE("neither path exists: the configured one stays");
    TestFolder folder;
    folder.write_file("config.ini",
                      "[BasisConfig]\r\nFile=D:\\服务\\rivermesh_windows_amd64.exe\r\n");
    Program program = start_program(folder, false);
    ASSERT_NE(program.main, nullptr);
    EXPECT_EQ(text_of(find_control(program.main, 编辑框_文件位置)),
              "D:\\服务\\rivermesh_windows_amd64.exe");
  }
}

TEST(Settings, OnlyTheExactWordFalseReadsAsOff) {
  for (const char* value : {"", "False", "FALSE", "no"}) {
    SCOPED_TRACE(value);
    TestFolder folder;
    folder.write_file("config.ini", std::string("[BasisConfig]\r\nRun=") + value +
                                        "\r\n[ServerConfig]\r\nAccess control=" + value + "\r\n");
    Program program = start_program(folder, false);
    ASSERT_NE(program.main, nullptr);
    EXPECT_TRUE(checked(find_control(program.main, 选择框_开机启动)));
    EXPECT_TRUE(checked(find_control(program.main, 选择框_访问控制)));
    EXPECT_TRUE(enabled(find_control(program.main, 编辑框_账号)));
  }
  TestFolder folder;
  folder.write_file("config.ini",
                    "[BasisConfig]\r\nRun=false\r\n[ServerConfig]\r\nAccess control=false\r\n");
  Program program = start_program(folder, false);
  ASSERT_NE(program.main, nullptr);
  EXPECT_FALSE(checked(find_control(program.main, 选择框_开机启动)));
  EXPECT_FALSE(checked(find_control(program.main, 选择框_访问控制)));
}

TEST(Settings, LongValuesAreCutAtTheReadBuffer) {
  TestFolder folder;
  // 10238 ASCII bytes, then a double-byte character that would end past the 10239th byte.
  const std::string long_ip = std::string(10238, '1') + "地";
  folder.write_file("config.ini", "[ServerConfig]\r\nIP=" + long_ip + "\r\n");
  Program program = start_program(folder, false);
  ASSERT_NE(program.main, nullptr);
  EXPECT_EQ(text_of(find_control(program.main, 编辑框_IP)), std::string(10238, '1'));
}

TEST(Settings, FieldsAreWrittenBackWhenLeft) {
  TestFolder folder;
  folder.write_file("config.ini", "[ServerConfig]\r\nAccess control=true\r\n");
  Program program = start_program(folder, true);
  ASSERT_NE(program.main, nullptr);
  const std::string ini = folder.file("config.ini");
  HWND port = find_control(program.main, 编辑框_网页端口);
  HWND ip = find_control(program.main, 编辑框_IP);
  HWND user = find_control(program.main, 编辑框_账号);
  HWND password = find_control(program.main, 编辑框_密码);

  type_into(port, "9a0-x9");  // letters typed into the port box are ignored
  type_into(ip, "127.0.0.1");
  EXPECT_TRUE(wait_until([&] { return ini_value(ini, kBasis, "Web port") == "90-9"; }));
  EXPECT_EQ(text_of(port), "90-9");
  type_into(user, "管理员");
  EXPECT_TRUE(wait_until([&] { return ini_value(ini, kServer, "IP") == "127.0.0.1"; }));
  type_into(password, "pa:ss");
  EXPECT_TRUE(wait_until([&] { return ini_value(ini, kServer, "User") == "管理员"; }));
  focus(port);
  EXPECT_TRUE(wait_until([&] { return ini_value(ini, kServer, "Password") == "pa:ss"; }));
  // Typing alone writes nothing: only leaving the field does.
  type_into(ip, "10.1.1.1");
  sync(program.main);
  EXPECT_EQ(ini_value(ini, kServer, "IP"), "127.0.0.1");
}

TEST(Settings, CheckboxesAndSaveWriteTheirKeys) {
  TestFolder folder;
  folder.copy_standin();
  Program program = start_program(folder, true);
  ASSERT_NE(program.main, nullptr);
  const std::string ini = folder.file("config.ini");
  HWND access = find_control(program.main, 选择框_访问控制);
  HWND show = find_control(program.main, 选择框_密码明文);
  HWND password = find_control(program.main, 编辑框_密码);

  SendMessageA(access, BM_CLICK, 0, 0);
  EXPECT_TRUE(wait_until([&] { return ini_value(ini, kServer, "Access control") == "true"; }));
  EXPECT_TRUE(enabled(find_control(program.main, 编辑框_账号)));
  EXPECT_TRUE(enabled(password));
  EXPECT_TRUE(enabled(show));

  SendMessageA(show, BM_CLICK, 0, 0);
  EXPECT_EQ(SendMessageA(password, EM_GETPASSWORDCHAR, 0, 0), 0);
  SendMessageA(show, BM_CLICK, 0, 0);
  EXPECT_EQ(SendMessageA(password, EM_GETPASSWORDCHAR, 0, 0), '*');

  SendMessageA(access, BM_CLICK, 0, 0);
  EXPECT_TRUE(wait_until([&] { return ini_value(ini, kServer, "Access control") == "false"; }));
  EXPECT_FALSE(enabled(password));

  DeleteFileA(ini.c_str());
  SendMessageA(find_control(program.main, 按钮_保存), BM_CLICK, 0, 0);
  ASSERT_TRUE(wait_until([&] { return ini_has_key(ini, kServer, "Access control"); }));
  EXPECT_EQ(ini_value(ini, kServer, "IP"), "0.0.0.0");
  EXPECT_EQ(ini_value(ini, kServer, "User"), "");
  EXPECT_EQ(ini_value(ini, kServer, "Password"), "");
  EXPECT_EQ(ini_value(ini, kBasis, "File"), folder.file("rivermesh_windows_amd64.exe"));
  EXPECT_EQ(ini_value(ini, kBasis, "Web port"), "8888");
  EXPECT_EQ(ini_value(ini, kBasis, "Run"), "false");
  EXPECT_EQ(ini_value(ini, kServer, "Access control"), "false");
  // Sections and keys appear in the order save writes them.
  EXPECT_EQ(folder.read_file("config.ini").find("[ServerConfig]"), 0u);
}

TEST(Settings, BlanksAndQuotesAroundAValueSurviveARestart) {
  TestFolder folder;
  // A file of an older version: its blanks and quotes are the reader's, as they always were.
  folder.write_file(
      "config.ini",
      "[BasisConfig]\r\nWeb port= '8080' \r\n[ServerConfig]\r\nAccess control=true\r\n");
  const std::string ip = "\"1.2.3.4\"";
  const std::string user = "'用户'";
  const std::string password = " pw ";
  {
    Program program = start_program(folder, true);
    ASSERT_NE(program.main, nullptr);
    EXPECT_EQ(text_of(find_control(program.main, 编辑框_网页端口)), "8080");
    type_into(find_control(program.main, 编辑框_IP), ip);
    type_into(find_control(program.main, 编辑框_账号), user);
    type_into(find_control(program.main, 编辑框_密码), password);
    focus(find_control(program.main, 编辑框_网页端口));
    sync(program.main);
    post_command(program.main, 托盘_退出);
    ASSERT_TRUE(ended(program.id));
  }
  Program program = start_program(folder, true);
  ASSERT_NE(program.main, nullptr);
  EXPECT_EQ(text_of(find_control(program.main, 编辑框_IP)), ip);
  EXPECT_EQ(text_of(find_control(program.main, 编辑框_账号)), user);
  EXPECT_EQ(text_of(find_control(program.main, 编辑框_密码)), password);
}

// The writer against the real profile reader, which strips blanks around a value and one pair of
// matching quotes.
TEST(Settings, WrittenValuesReadBackUnchanged) {
  TestFolder folder;
  settings::ProfileFile file(folder.file("config.ini"));
  for (const std::string value :
       {" pw ", "'pw'", "\"pw\"", " pw", "pw\t", "\"", "'", "''", "\"\"", "\"pw'", "'p\"",
        " \"pw\" ", "\"a\" b \"c\"", "密码 ", " 端", "p w", "pw", "a=b;c", ""}) {
    ASSERT_TRUE(file.write(kServer, "Password", value)) << value;
    EXPECT_EQ(file.read(kServer, "Password", "<missing>"), value) << value;
  }
}

TEST(Settings, AFileThatCannotBeReadIsNoMissingOne) {
  TestFolder folder;
  const std::string path = folder.file("config.ini");
  const settings::ProfileFile file(path);
  EXPECT_EQ(file.state(), settings::FileState::Missing);
  EXPECT_EQ(settings::ProfileFile(folder.file("gone\\config.ini")).state(),
            settings::FileState::Missing);
  folder.write_file("config.ini", "[BasisConfig]\r\n");
  EXPECT_EQ(file.state(), settings::FileState::Readable);
  {
    // Shared for reading only, as a viewer holds it: still readable.
    const win::unique_file viewer(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(viewer);
    EXPECT_EQ(file.state(), settings::FileState::Readable);
  }
  {
    const win::unique_file held(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    EXPECT_EQ(file.state(), settings::FileState::Unreadable);
  }
  ASSERT_TRUE(DeleteFileA(path.c_str()));
  ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
  EXPECT_EQ(file.state(), settings::FileState::Unreadable);
  RemoveDirectoryA(path.c_str());
}

TEST(Settings, BoxesTakeNoMoreThanTheStartAccepts) {
  TestFolder folder;
  folder.write_file("config.ini", "[ServerConfig]\r\nAccess control=true\r\n");
  Program program = start_program(folder, true);
  ASSERT_NE(program.main, nullptr);
  const std::string ini = folder.file("config.ini");
  HWND port = find_control(program.main, 编辑框_网页端口);
  HWND ip = find_control(program.main, 编辑框_IP);
  HWND user = find_control(program.main, 编辑框_账号);
  HWND password = find_control(program.main, 编辑框_密码);
  const auto paste = [](HWND edit, const std::string& text) {
    SendMessageA(edit, EM_SETSEL, 0, -1);
    SendMessageA(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
  };

  type_into(port, "1234567");
  EXPECT_EQ(text_of(port), "12345");
  type_into(ip, std::string(300, '1'));
  EXPECT_EQ(text_of(ip), std::string(255, '1'));
  focus(user);
  paste(user, std::string(300, 'u'));
  EXPECT_EQ(text_of(user), std::string(255, 'u'));
  // Double-byte characters count twice: 127 of them fit, the 128th would end past 255 bytes.
  std::string wide;
  for (int i = 0; i < 200; ++i) wide += "密";
  type_into(password, wide);
  EXPECT_EQ(text_of(password), wide.substr(0, 254));
  focus(port);
  EXPECT_TRUE(
      wait_until([&] { return ini_value(ini, kServer, "Password") == wide.substr(0, 254); }));
  EXPECT_EQ(ini_value(ini, kServer, "IP"), std::string(255, '1'));
  EXPECT_EQ(ini_value(ini, kServer, "User"), std::string(255, 'u'));
  EXPECT_EQ(ini_value(ini, kBasis, "Web port"), "12345");
}
