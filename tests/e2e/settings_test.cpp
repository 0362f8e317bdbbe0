// config.ini as a user meets it: defaults and the fallback path at start-up, values written back
// when a field is left, "保存配置" writing every key, files in UTF-8 and files another program
// holds for a moment. Winsock 2 must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

#include "app/layout.h"
#include "config/settings_win.h"
#include "platform/handles_win.h"
#include "tests/e2e/server_fixture.h"
#include "tests/support/harness.h"

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

// UTF-8 bytes of a literal; narrow literals are GBK.
std::string utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// What a login start of these settings must write: the account and the address the file holds.
std::string guarded_script(const std::string& port) {
  return "rivermesh_windows_amd64.exe -h \"127.0.0.1\" -p " + port + " -a \"管理员:密码\" -l";
}

// The settings with the server in a folder with a Chinese name, the server section first (a mark
// in front of it must not cost it its name), in the bytes of one encoding.
std::string guarded_config(const std::string& mark, const std::string& server_path,
                           const std::string& user, const std::string& password,
                           const std::string& port) {
  return mark + "[ServerConfig]\r\nIP=127.0.0.1\r\nUser=" + user + "\r\nPassword=" + password +
         "\r\nAccess control=true\r\n[BasisConfig]\r\nFile=" + server_path +
         "\r\nWeb port=" + port + "\r\nRun=false\r\n";
}

// Another program that holds config.ini without sharing it, as a backup or sync tool or an
// editor saving does, on a thread of its own until stopped.
class Holder {
 public:
  // Holds the file for on_ms, lets go for off_ms, again and again; off_ms 0 holds it throughout.
  Holder(std::string path, DWORD on_ms, DWORD off_ms)
      : thread_([this, path = std::move(path), on_ms, off_ms] {
          while (!stop_) {
            {
              const win::unique_file held(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                                      nullptr));
              if (held) held_once_ = true;
              if (off_ms == 0) {
                while (!stop_) Sleep(1);
                return;
              }
              Sleep(on_ms);
            }
            Sleep(off_ms);
          }
        }) {}
  ~Holder() { stop(); }
  void stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  bool held_once() const { return held_once_; }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<bool> held_once_{false};
  std::thread thread_;
};

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
       {" pw ", "'pw'",  "\"pw\"", " pw",      "pw\t",          "\"",    "'",   "''",
        "\"\"", "\"pw'", "'p\"",   " \"pw\" ", "\"a\" b \"c\"", "密码 ", " 端", "p w",
        "pw",   "a=b;c", "pw\x1A", ""}) {
    ASSERT_TRUE(file.write(kServer, "Password", value)) << value;
    EXPECT_EQ(ini_value(folder.file("config.ini"), kServer, "Password"), value) << value;
    settings::ProfileFile again(folder.file("config.ini"));
    ASSERT_EQ(again.load(), settings::FileState::Readable);
    EXPECT_EQ(again.read(kServer, "Password", "<missing>"), value) << value;
  }
}

// The program's own reader against the system's profile reader, on GBK files of every shape a
// hand edit may leave.
TEST(Settings, KeysReadAsTheProfileFunctionsReadThem) {
  TestFolder folder;
  const std::string path = folder.file("config.ini");
  const std::string texts[] = {
      "[ServerConfig]\r\nIP=1.2.3.4\r\nUser=用户\r\n",
      "[serverCONFIG]\r\nip=1.2.3.4\r\nUSER=u\r\n",
      "  [ServerConfig]  \r\n\t IP \t= \t1.2.3.4 \t\r\n User=\t'u' \r\n",
      "[ServerConfig]\nIP=1.2.3.4\nUser=u",
      "[ServerConfig]\rIP=1.2.3.4\rUser=u\r",
      "[ServerConfig]\r\nIP=\r\nUser=a=b\r\n",
      "[ServerConfig]\r\nIP=\"' a '\"\r\nUser=\"u'\r\n",
      "[ServerConfig]\r\nIP=\"\r\nUser=''\r\n",
      "[ServerConfig]\r\nIP\r\nUser =\r\n",
      "[ServerConfig]\r\nIP=1\r\nIP=2\r\nUser=u\r\n",
      "[ServerConfig]\r\nUser=u\r\n[ServerConfig]\r\nIP=2\r\n",
      "[BasisConfig]\r\nIP=1\r\n[ServerConfig]\r\nUser=u\r\n",
      "IP=1\r\n[ServerConfig]\r\nUser=u\r\n",
      "[ServerConfig\r\nIP=1\r\n",
      "[ServerConfig]\r\n;IP=1\r\n=u\r\n",
      "[ServerConfig] ; the server\r\nIP=1\r\n",
      "[ServerConfig] ; [the server]\r\nIP=1\r\n",
      "[ServerConfig]\x81]\r\nIP=1\r\n",
      "[ServerConfig]\r\nIP=\"地址\"\r\nUser=端\r\n",
      "[ServerConfig]\r\nIP= 1 \x0B\x0C\r\nUser=\x1Au\x1A\r\n",
  };
  for (const std::string& text : texts) {
    folder.write_file("config.ini", text);
    settings::ProfileFile file(path);
    ASSERT_EQ(file.load(), settings::FileState::Readable);
    for (const char* key : {"IP", "User"}) {
      EXPECT_EQ(file.read(kServer, key, "<missing>"), ini_value(path, kServer, key))
          << key << " in " << text;
    }
  }
}

TEST(Settings, AFileThatCannotBeReadIsNoMissingOne) {
  TestFolder folder;
  const std::string path = folder.file("config.ini");
  settings::ProfileFile file(path);
  EXPECT_EQ(file.load(), settings::FileState::Missing);
  EXPECT_EQ(settings::ProfileFile(folder.file("gone\\config.ini")).load(),
            settings::FileState::Missing);
  folder.write_file("config.ini", "[BasisConfig]\r\n");
  EXPECT_EQ(file.load(), settings::FileState::Readable);
  {
    // Shared for reading only, as a viewer holds it: still readable.
    const win::unique_file viewer(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(viewer);
    EXPECT_EQ(file.load(), settings::FileState::Readable);
  }
  {
    // Held for a moment, as a backup tool holds it: waited for, and read.
    folder.write_file("config.ini", "[BasisConfig]\r\nWeb port=1\r\n");
    Holder holder(path, 0, 0);
    ASSERT_TRUE(wait_until([&] { return holder.held_once(); }, 5000));
    std::thread release([&] {
      Sleep(300);
      holder.stop();
    });
    EXPECT_EQ(file.load(), settings::FileState::Readable);
    release.join();
    EXPECT_EQ(file.read(kBasis, "Web port", "<missing>"), "1");
  }
  {
    // Held for good: given up on after a moment, with nothing read.
    const win::unique_file held(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    const DWORD since = GetTickCount();
    EXPECT_EQ(file.load(), settings::FileState::Unreadable);
    const DWORD waited = GetTickCount() - since;
    EXPECT_GE(waited, 1000u);
    EXPECT_LT(waited, 5000u);
    EXPECT_EQ(file.read(kBasis, "Web port", "<missing>"), "<missing>");
  }
  ASSERT_TRUE(DeleteFileA(path.c_str()));
  ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
  EXPECT_EQ(file.load(), settings::FileState::Unreadable);
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

using StartedByTheRunValue = ServerFixture;

// Started at login: the settings come from the file whatever its encoding, and the server starts
// in the folder the file names.
TEST_F(StartedByTheRunValue, AUtf8ConfigIniIsReadInItsOwnEncoding) {
  const std::string folder_name = "服务器";
  ASSERT_TRUE(CreateDirectoryA(folder_.file(folder_name).c_str(), nullptr));
  folder_.copy_in("x64\\rivermesh_windows_amd64.exe", folder_name + "\\" + kServerExe);
  const std::string gbk_path = folder_.file(folder_name + "\\" + kServerExe);
  const std::string utf8_path = folder_.path() + utf8(u8"\\服务器\\") + kServerExe;
  struct Case {
    const char* what;
    std::string bytes;
    std::string after_edit;  // once the account is "用户"
  };
  const std::string port = settings_.port;
  const Case cases[] = {
      // Notepad's default since Windows 10 1903: "器" ends in A8, which GBK would join with the
      // backslash after it.
      {"UTF-8", guarded_config("", utf8_path, utf8(u8"管理员"), utf8(u8"密码"), port),
       guarded_config("", utf8_path, utf8(u8"用户"), utf8(u8"密码"), port)},
      {"UTF-8 with a mark",
       guarded_config("\xEF\xBB\xBF", utf8_path, utf8(u8"管理员"), utf8(u8"密码"), port),
       guarded_config("\xEF\xBB\xBF", utf8_path, utf8(u8"用户"), utf8(u8"密码"), port)},
      {"GBK", guarded_config("", gbk_path, "管理员", "密码", port),
       guarded_config("", gbk_path, "用户", "密码", port)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DeleteFileA(folder_.file(folder_name + "\\run.bat").c_str());
    DeleteFileA(folder_.file("run.bat").c_str());
    folder_.write_file("config.ini", c.bytes);
    program_ = start_program(folder_, true, "RivermeshTools.exe", "-autostart");
    ASSERT_NE(program_.main, nullptr);
    ASSERT_TRUE(wait_until([&] { return shows_running(); }))
        << status() << " " << message_box_of(program_.id, 0).text << " " << log();
    EXPECT_EQ(text_of(control(layout::编辑框_文件位置)), gbk_path);
    EXPECT_EQ(text_of(control(layout::编辑框_账号)), "管理员");
    EXPECT_EQ(folder_.read_file(folder_name + "\\run.bat"), guarded_script(port));
    EXPECT_EQ(GetFileAttributesA(folder_.file("run.bat").c_str()), INVALID_FILE_ATTRIBUTES);
    // A save keeps the file in its encoding: the same bytes, as nothing changed.
    click(layout::按钮_保存);
    EXPECT_TRUE(sync(program_.main));
    EXPECT_EQ(message_box_of(program_.id, 300).window, nullptr);
    EXPECT_EQ(folder_.read_file("config.ini"), c.bytes);
    // A field left writes its line in the file's encoding too.
    set_field(layout::编辑框_账号, "用户");
    PostMessageA(control(layout::编辑框_账号), WM_KILLFOCUS, 0, 0);
    EXPECT_TRUE(wait_until([&] { return folder_.read_file("config.ini") == c.after_edit; }, 5000))
        << folder_.read_file("config.ini");
    post_command(program_.main, layout::托盘_退出);
    ASSERT_TRUE(ended(program_.id));
    ASSERT_TRUE(wait_until([] { return running_server() == 0; }, 5000));
  }
}

// A moment's hold by another program costs no login start and no setting; a hold that lasts, or
// a value code page 936 cannot hold, starts nothing and writes nothing.
TEST_F(StartedByTheRunValue, AConfigIniHeldForAMomentIsWaitedFor) {
  settings_.access_control = true;
  settings_.user = "管理员";
  settings_.password = "密码";
  const std::string ini = folder_.file("config.ini");
  const std::string port = settings_.port;
  const auto start_while = [&](DWORD on_ms, DWORD off_ms, bool release_at_window) {
    Holder holder(ini, on_ms, off_ms);
    ASSERT_TRUE(wait_until([&] { return holder.held_once(); }, 5000));
    if (release_at_window) {
      // Let go once the program is in its window's creation, where it reads the settings.
      std::thread release([&] {
        wait_until([] { return FindWindowA("RivermeshToolsWindow", nullptr) != nullptr; }, 20000);
        Sleep(200);
        holder.stop();
      });
      program_ = start_program(folder_, true, "RivermeshTools.exe", "-autostart");
      release.join();
    } else {
      program_ = start_program(folder_, true, "RivermeshTools.exe", "-autostart");
    }
    ASSERT_NE(program_.main, nullptr);
    ASSERT_TRUE(wait_until([&] { return shows_running(); }))
        << status() << " " << message_box_of(program_.id, 0).text << " " << log();
  };
  const std::string expected = config_text(settings_);
  for (const bool flicker : {false, true}) {
    SCOPED_TRACE(flicker ? "held 1 ms of every 5" : "held until the window is being made");
    DeleteFileA(folder_.file("run.bat").c_str());
    folder_.write_file("config.ini", expected);
    if (flicker) {
      start_while(1, 4, false);
    } else {
      start_while(0, 0, true);
    }
    EXPECT_EQ(folder_.read_file("run.bat"), guarded_script(port));
    EXPECT_EQ(message_box_of(program_.id, 300).window, nullptr);
    EXPECT_EQ(folder_.read_file("config.ini"), expected);
    post_command(program_.main, layout::托盘_退出);
    ASSERT_TRUE(ended(program_.id));
    ASSERT_TRUE(wait_until([] { return running_server() == 0; }, 5000));
  }

  struct Refusal {
    const char* what;
    std::string bytes;
    bool held;
    std::string message;
  };
  const Refusal refusals[] = {
      {"held throughout", expected, true, "无法读取配置文件 config.ini，请检查后重新启动。"},
      {"an account GBK cannot hold",
       guarded_config("", folder_.file(kServerExe), utf8(u8"管理员\U0001F600"), utf8(u8"密码"),
                      port),
       false, "配置文件 config.ini 中“User”的值含有 GBK 编码无法表示的字符，请修改后重新启动。"},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.what);
    DeleteFileA(folder_.file("run.bat").c_str());
    folder_.write_file("config.ini", r.bytes);
    {
      std::optional<Holder> holder;
      if (r.held) {
        holder.emplace(ini, 0, 0);
        ASSERT_TRUE(wait_until([&] { return holder->held_once(); }, 5000));
      }
      program_ = start_program(folder_, true, "RivermeshTools.exe", "-autostart");
      ASSERT_NE(program_.main, nullptr);
      const Box box = message_box_of(program_.id);
      ASSERT_NE(box.window, nullptr);
      EXPECT_EQ(box.caption, "错误");
      EXPECT_EQ(box.text, r.message);
      close_box(box);
    }
    click(layout::按钮_保存);
    const Box again = message_box_of(program_.id);
    ASSERT_NE(again.window, nullptr);
    EXPECT_EQ(again.text, r.message);
    close_box(again);
    EXPECT_TRUE(sync(program_.main));
    EXPECT_EQ(GetFileAttributesA(folder_.file("run.bat").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(running_server(), 0u);
    EXPECT_EQ(folder_.read_file("config.ini"), r.bytes);
    post_command(program_.main, layout::托盘_退出);
    ASSERT_TRUE(ended(program_.id));
  }
}
