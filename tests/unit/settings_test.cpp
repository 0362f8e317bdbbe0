#include "config/settings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "config/settings_text.h"
#include "platform/gbk.h"

namespace {

class FakeSource final : public settings::Source {
 public:
  std::map<std::string, std::string> values;  // "Section/Key" -> value
  std::set<std::string> files;

  std::string read(const char* section, const char* key, const char* fallback) override {
    auto it = values.find(std::string(section) + "/" + key);
    return it == values.end() ? fallback : it->second;
  }
  bool exists(const std::string& path) override { return files.count(path) != 0; }
};

constexpr char kDir[] = "C:\\程序";
const std::string kBeside = "C:\\程序\\rivermesh_windows_amd64.exe";

// Narrow literals are GBK; these are the same texts in UTF-8.
std::string u8s(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// UTF-16 bytes of a literal, spelled out apart from the code under test.
std::string utf16(const char16_t* text, bool big_endian) {
  std::string out;
  for (; *text; ++text) {
    const char hi = static_cast<char>(*text >> 8), lo = static_cast<char>(*text & 0xFF);
    out += big_endian ? hi : lo;
    out += big_endian ? lo : hi;
  }
  return out;
}

// Code page 936 for the characters of these tests only: ASCII and the table, nothing else, as
// the system's tables have no character beyond GBK.
class TableCodePage final : public settings::CodePage {
 public:
  std::optional<std::string> gbk_from_utf8(std::string_view text) const override {
    return convert(text, false);
  }
  std::optional<std::string> utf8_from_gbk(std::string_view text) const override {
    return convert(text, true);
  }

 private:
  static std::optional<std::string> convert(std::string_view text, bool from_gbk) {
    struct Char {
      std::string gbk, utf8;
    };
    static const Char table[] = {
        {"服", u8s(u8"服")}, {"务", u8s(u8"务")}, {"器", u8s(u8"器")}, {"管", u8s(u8"管")},
        {"理", u8s(u8"理")}, {"员", u8s(u8"员")}, {"密", u8s(u8"密")}, {"码", u8s(u8"码")},
        {"程", u8s(u8"程")}, {"序", u8s(u8"序")}, {"é", u8s(u8"é")},   {"聙", u8s(u8"聙")},
    };
    std::string out;
    while (!text.empty()) {
      if (static_cast<unsigned char>(text[0]) < 0x80) {
        out += text[0];
        text.remove_prefix(1);
        continue;
      }
      const Char* found = nullptr;
      for (const Char& c : table) {
        if (text.starts_with(from_gbk ? c.gbk : c.utf8)) found = &c;
      }
      if (!found) return std::nullopt;
      out += from_gbk ? found->utf8 : found->gbk;
      text.remove_prefix((from_gbk ? found->gbk : found->utf8).size());
    }
    return out;
  }
};
const TableCodePage kCodePage;

// The settings of a file's bytes, as one reading of config.ini gives them.
class TextSource final : public settings::IniSource {
 public:
  explicit TextSource(std::string_view bytes) : IniSource(kCodePage) {
    std::optional<settings::IniText> text = settings::IniText::from_bytes(bytes);
    EXPECT_TRUE(text.has_value());
    if (text) reset(std::move(*text));
  }
  std::set<std::string> files;
  bool exists(const std::string& path) override { return files.count(path) != 0; }
};

std::optional<std::string> value_in(std::string_view bytes, const char* section, const char* key) {
  return settings::IniText::from_bytes(bytes)->value(section, key);
}

}  // namespace

TEST(Settings, MissingFileGivesDefaults) {
  FakeSource source;
  const settings::Values v = settings::load(source, kDir);
  EXPECT_EQ(v.file, "");
  EXPECT_EQ(v.web_port, "8888");
  EXPECT_EQ(v.ip, "0.0.0.0");
  EXPECT_EQ(v.user, "");
  EXPECT_EQ(v.password, "");
  EXPECT_FALSE(v.run);
  EXPECT_FALSE(v.access_control);
  EXPECT_EQ(settings::auto_restart(settings::FileState::Missing, source),
            settings::AutoRestart::On);
}

TEST(Settings, OnlyNotThereIsAMissingFile) {
  using settings::FileState;
  constexpr std::uint32_t kNotFound = settings::kErrorFileNotFound;
  constexpr std::uint32_t kNoPath = settings::kErrorPathNotFound;
  constexpr std::uint32_t kAccessDenied = 5;
  constexpr std::uint32_t kSharingViolation = 32;
  struct Case {
    const char* name;
    settings::FileProbe probe;
    FileState state;
  };
  const Case cases[] = {
      {"not found", {false, kNotFound}, FileState::Missing},
      {"folder not found", {false, kNoPath}, FileState::Missing},
      {"lookup denied", {false, kAccessDenied}, FileState::Unreadable},
      {"lookup failed without a reason", {false, 0}, FileState::Unreadable},
      {"a folder named config.ini", {true, 0, true}, FileState::Unreadable},
      {"held open without sharing",
       {true, 0, false, false, kSharingViolation},
       FileState::Unreadable},
      {"no right to read", {true, 0, false, false, kAccessDenied}, FileState::Unreadable},
      {"deleted between the looks", {true, 0, false, false, kNotFound}, FileState::Missing},
      {"opened", {true, 0, false, true}, FileState::Readable},
      {"a lock held while it was read",
       {true, 0, false, true, 0, settings::kErrorLockViolation},
       FileState::Unreadable},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(settings::file_state(c.probe), c.state) << c.name;
  }
}

TEST(Settings, AnEmptyKeyIsNoMissingOne) {
  FakeSource source;
  source.values["BasisConfig/File"] = "";
  source.values["BasisConfig/Web port"] = "-";
  EXPECT_FALSE(settings::key_missing(source, "BasisConfig", "File"));
  EXPECT_FALSE(settings::key_missing(source, "BasisConfig", "Web port"));
  EXPECT_TRUE(settings::key_missing(source, "BasisConfig", "Run"));
}

TEST(Settings, OnlyExactFalseIsOff) {
  EXPECT_FALSE(settings::flag_from_text("false"));
  for (const char* on : {"", "False", "FALSE", "true", "0", " false"}) {
    EXPECT_TRUE(settings::flag_from_text(on)) << on;
  }
  FakeSource source;
  source.values["BasisConfig/Run"] = "";
  source.values["ServerConfig/Access control"] = "False";
  source.values["BasisConfig/Auto restart"] = "FALSE";
  const settings::Values v = settings::load(source, kDir);
  EXPECT_TRUE(v.run);
  EXPECT_TRUE(v.access_control);
  using settings::AutoRestart;
  using settings::FileState;
  EXPECT_EQ(settings::auto_restart(FileState::Readable, source), AutoRestart::On);
  source.values["BasisConfig/Auto restart"] = "false";
  EXPECT_EQ(settings::auto_restart(FileState::Readable, source), AutoRestart::Off);
  // The switches of "设置", the restart's among them, read alike.
  EXPECT_FALSE(settings::switches(FileState::Readable, source)->auto_restart);
  EXPECT_TRUE(settings::switches(FileState::Readable, source)->notices);
  EXPECT_FALSE(settings::switches(FileState::Unreadable, source).has_value());
  // A file held at the server's end reads as no keys: never as the restart's default, on.
  source.values.clear();
  EXPECT_EQ(settings::auto_restart(FileState::Unreadable, source), AutoRestart::Unreadable);
}

TEST(Settings, FileFallbackDecisionTable) {
  struct Case {
    const char* configured;
    bool configured_exists, default_exists, use_default;
  };
  const Case cases[] = {
      {"", false, true, true},           // empty, server beside the program
      {"", false, false, false},         // empty, nothing beside it
      {"D:\\x.exe", false, true, true},  // configured path gone
      {"D:\\x.exe", true, true, false},  // configured path there
      {"D:\\x.exe", false, false, false},
      {"D:\\x.exe", true, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(settings::use_default_path(c.configured, c.configured_exists, c.default_exists),
              c.use_default)
        << c.configured << " " << c.configured_exists << c.default_exists;
  }
  FakeSource source;
  source.values["BasisConfig/File"] = "D:\\gone.exe";
  source.files.insert(kBeside);
  std::string as_read;
  EXPECT_EQ(settings::load(source, kDir, &as_read).file, kBeside);
  EXPECT_EQ(as_read, "D:\\gone.exe");
}

TEST(Settings, ValuesStopAtTheReadBuffer) {
  const std::string fits(10239, 'x');
  EXPECT_EQ(settings::stored_value(fits), fits);
  EXPECT_EQ(settings::stored_value(fits + "y"), fits);
  // A double-byte character across the limit is left out whole.
  const std::string straddles = std::string(10238, 'x') + "端";
  EXPECT_EQ(settings::stored_value(straddles), std::string(10238, 'x'));
  FakeSource source;
  source.values["BasisConfig/Web port"] = fits + "123";
  EXPECT_EQ(settings::load(source, kDir).web_port.size(), 10239u);
}

// Whether the reader gives these back unchanged is checked against the real reader under Wine.
TEST(Settings, ValuesTheReaderLeavesAloneAreWrittenAsBefore) {
  // So older files read as they did.
  for (const std::string value : {"pw", "p w", "\"pw'", "'", "a\"", "1.2.3.4", "用户", ""}) {
    EXPECT_EQ(settings::written_value(value), value);
  }
}

TEST(Settings, SaveWritesSevenKeysInOrder) {
  settings::Values v;
  v.file = "C:\\s\\rivermesh_windows_amd64.exe";
  v.web_port = "9000";
  v.ip = "1.2.3.4";
  v.user = "用户";
  v.password = "p";
  v.run = true;
  v.access_control = false;
  const auto entries = settings::save_entries(v);
  ASSERT_EQ(entries.size(), 7u);
  const char* expected[][3] = {
      {"ServerConfig", "IP", "1.2.3.4"},           {"ServerConfig", "User", "用户"},
      {"ServerConfig", "Password", "p"},           {"BasisConfig", "File", v.file.c_str()},
      {"BasisConfig", "Web port", "9000"},         {"BasisConfig", "Run", "true"},
      {"ServerConfig", "Access control", "false"},
  };
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_STREQ(entries[i].section, expected[i][0]);
    EXPECT_STREQ(entries[i].key, expected[i][1]);
    EXPECT_EQ(entries[i].value, expected[i][2]);
  }
}

TEST(Settings, DropAcceptsOnlyTheServerName) {
  EXPECT_TRUE(settings::accepts_dropped("D:\\任意\\rivermesh_windows_amd64.exe"));
  EXPECT_TRUE(settings::accepts_dropped("rivermesh_windows_amd64.exe"));
  EXPECT_FALSE(settings::accepts_dropped("D:\\RIVERMESH_WINDOWS_AMD64.EXE"));
  // Several files come as one text with a line break after each path.
  EXPECT_FALSE(settings::accepts_dropped("D:\\a.txt\r\nD:\\rivermesh_windows_amd64.exe\r\n"));
  // A trail byte 0x5C is no folder separator: the name is the whole text after "D:\".
  EXPECT_FALSE(settings::accepts_dropped("D:\\\x87\x5Crivermesh_windows_amd64.exe"));
}

TEST(Settings, AHeldFileIsTriedAgainForAMomentOnly) {
  constexpr std::uint32_t kHeld = settings::kErrorSharingViolation;
  constexpr std::uint32_t kLocked = settings::kErrorLockViolation;
  constexpr std::uint32_t kDenied = 5;
  struct Case {
    const char* name;
    std::vector<std::uint32_t> answers;  // the last one repeats
    std::uint32_t result;
    std::size_t tries;
  };
  const Case cases[] = {
      {"free at once", {0}, 0, 1},
      {"held twice, then free", {kHeld, kLocked, 0}, 0, 3},
      {"no right to read", {kDenied}, kDenied, 1},
      {"held, then denied", {kHeld, kDenied}, kDenied, 2},
      {"not there", {settings::kErrorFileNotFound}, settings::kErrorFileNotFound, 1},
  };
  for (const Case& c : cases) {
    std::size_t tries = 0;
    std::uint32_t waited = 0;
    const std::uint32_t result =
        settings::try_while_held([&] { return c.answers[std::min(tries++, c.answers.size() - 1)]; },
                                 [&](std::uint32_t ms) { waited += ms; });
    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_EQ(tries, c.tries) << c.name;
  }
  // Held for good: the tries stop after about kHeldWaitMs of pauses, none of them long.
  std::size_t tries = 0;
  std::uint32_t waited = 0;
  std::vector<std::uint32_t> pauses;
  EXPECT_EQ(settings::try_while_held(
                [&] {
                  ++tries;
                  return kHeld;
                },
                [&](std::uint32_t ms) {
                  pauses.push_back(ms);
                  waited += ms;
                }),
            kHeld);
  EXPECT_GE(waited, settings::kHeldWaitMs);
  EXPECT_LE(waited, settings::kHeldWaitMs + settings::kLongestPauseMs);
  EXPECT_EQ(tries, pauses.size() + 1);
  EXPECT_EQ(pauses.front(), settings::kFirstPauseMs);
  for (const std::uint32_t ms : pauses) EXPECT_LE(ms, settings::kLongestPauseMs);
}

TEST(Settings, TheFileSaysWhichEncodingItIsIn) {
  using settings::Encoding;
  struct Case {
    const char* name;
    std::string bytes;
    Encoding encoding;
  };
  const Case cases[] = {
      {"empty", "", Encoding::Gbk},
      {"ASCII", "[BasisConfig]\r\nWeb port=8888\r\n", Encoding::Gbk},
      {"GBK", "File=D:\\服务器\\a.exe", Encoding::Gbk},
      {"GBK beyond GB2312", "User=镕", Encoding::Gbk},
      {"UTF-8", u8s(u8"File=D:\\服务器\\a.exe"), Encoding::Utf8},
      {"UTF-8 of an account", u8s(u8"User=管理员"), Encoding::Utf8},
      {"UTF-8 with a mark", "\xEF\xBB\xBF" + u8s(u8"User=管理员"), Encoding::Utf8Marked},
      {"a mark alone", "\xEF\xBB\xBF", Encoding::Utf8Marked},
      {"UTF-16, little end first", "\xFF\xFE" + utf16(u"[S]", false), Encoding::Utf16Le},
      {"UTF-16, big end first", "\xFE\xFF" + utf16(u"[S]", true), Encoding::Utf16Be},
      // Reads both ways: GBK, as it always was read.
      {"UTF-8 that is GB2312 too", u8s(u8"User=é"), Encoding::Gbk},
      {"a sequence cut short", "User=\xE4\xB8", Encoding::Gbk},
      {"an overlong form", "User=\xC0\xAF", Encoding::Gbk},
      {"a surrogate", "User=\xED\xA0\x80", Encoding::Gbk},
      {"beyond U+10FFFF", "User=\xF4\x90\x80\x80", Encoding::Gbk},
      // The rule's price: a GBK file whose only characters beyond ASCII are rare ones that form
      // valid UTF-8 is taken for UTF-8 (and, as here, mostly refused: U+0080 is no GBK).
      {"GBK of a rare character alone", "User=聙", Encoding::Utf8},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(settings::encoding_of(c.bytes), c.encoding) << c.name;
  }
}

// The same settings in every encoding a file may have come in read as the same GBK texts; the
// folder of a path whose UTF-8 ends a character in A8 before a backslash is its own, not the
// program's.
TEST(Settings, TheSameTextsReadAlikeInEveryEncoding) {
  const std::string path = "D:\\服务器\\rivermesh_windows_amd64.exe";
  const std::u16string path16 = u"D:\\服务器\\rivermesh_windows_amd64.exe";
  const auto config = [](const std::string& file, const std::string& user,
                         const std::string& password) {
    return "[ServerConfig]\r\nIP=127.0.0.1\r\nUser=" + user + "\r\nPassword=" + password +
           "\r\nAccess control=true\r\n[BasisConfig]\r\nFile=" + file + "\r\nWeb port=9000\r\n";
  };
  const std::u16string config16 =
      u"[ServerConfig]\r\nIP=127.0.0.1\r\nUser=管理员\r\nPassword=密码\r\nAccess "
      u"control=true\r\n[BasisConfig]\r\nFile=" +
      path16 + u"\r\nWeb port=9000\r\n";
  const std::string utf8_config =
      config(u8s(u8"D:\\服务器\\rivermesh_windows_amd64.exe"), u8s(u8"管理员"), u8s(u8"密码"));
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"GBK", config(path, "管理员", "密码")},
      {"UTF-8", utf8_config},
      {"UTF-8 with a mark", "\xEF\xBB\xBF" + utf8_config},
      {"UTF-16, little end first", "\xFF\xFE" + utf16(config16.c_str(), false)},
      {"UTF-16, big end first", "\xFE\xFF" + utf16(config16.c_str(), true)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TextSource source(c.bytes);
    source.files = {path, "C:\\程序\\rivermesh_windows_amd64.exe"};
    const settings::Values v = settings::load(source, kDir);
    EXPECT_EQ(v.file, path);
    EXPECT_EQ(gbk::folder_part(v.file), "D:\\服务器\\");
    EXPECT_EQ(v.ip, "127.0.0.1");
    EXPECT_EQ(v.user, "管理员");
    EXPECT_EQ(v.password, "密码");
    EXPECT_EQ(v.web_port, "9000");
    EXPECT_TRUE(v.access_control);
    EXPECT_EQ(source.refused_key(), "");
  }
}

TEST(Settings, AValueGbkCannotHoldRefusesTheFile) {
  // An emoji in the account, and bytes that are no UTF-8 in a file marked UTF-8.
  for (const std::string& bytes :
       {u8s(u8"[ServerConfig]\r\nIP=127.0.0.1\r\nUser=管理员\U0001F600\r\nPassword=密码\r\n"),
        std::string(
            "\xEF\xBB\xBF[ServerConfig]\r\nIP=1.2.3.4\r\nUser=\xB9\xDC\r\nPassword=p\r\n")}) {
    TextSource source(bytes);
    const settings::Values v = settings::load(source, kDir);
    EXPECT_EQ(source.refused_key(), "User");
    EXPECT_EQ(v.user, "");
  }
  EXPECT_EQ(settings::not_gbk_message("User"),
            "配置文件 config.ini 中“User”的值含有 GBK 编码无法表示的字符，请修改后重新启动。");
  // A UTF-16 file with half a character cannot be read at all.
  EXPECT_FALSE(
      settings::IniText::from_bytes(std::string_view("\xFF\xFE[\0S\0]\0\x3D\xD8", 10)).has_value());
  EXPECT_FALSE(settings::IniText::from_bytes(std::string_view("\xFF\xFE[\0S", 5)).has_value());
}

TEST(Settings, KeysAreFoundAsTheProfileFunctionsFindThem) {
  struct Case {
    const char* name;
    std::string text;
    std::optional<std::string> ip;  // of ServerConfig
  };
  const std::optional<std::string> missing;
  const Case cases[] = {
      {"plain", "[ServerConfig]\r\nIP=1.2.3.4\r\n", "1.2.3.4"},
      {"names in any case", "[serverCONFIG]\r\nip=1.2.3.4\r\n", "1.2.3.4"},
      {"blanks around everything", "  [ServerConfig]  \r\n\t IP \t= \t1.2.3.4 \t\r\n", "1.2.3.4"},
      {"line feeds alone", "[ServerConfig]\nIP=1.2.3.4\n", "1.2.3.4"},
      {"no line break at the end", "[ServerConfig]\r\nIP=1.2.3.4", "1.2.3.4"},
      {"an empty value", "[ServerConfig]\r\nIP=\r\n", ""},
      {"Ctrl+Z is a blank",
       "[ServerConfig]\r\nIP=\x1A"
       "1.2.3.4\x1A\r\n",
       "1.2.3.4"},
      {"an equals sign in the value", "[ServerConfig]\r\nIP=a=b\r\n", "a=b"},
      {"one pair of quotes goes", "[ServerConfig]\r\nIP=\"' a '\"\r\n", "' a '"},
      {"single quotes", "[ServerConfig]\r\nIP='1.2.3.4'\r\n", "1.2.3.4"},
      {"quotes that do not match", "[ServerConfig]\r\nIP=\"1.2.3.4'\r\n", "\"1.2.3.4'"},
      {"one quote", "[ServerConfig]\r\nIP=\"\r\n", "\""},
      {"a key without a value", "[ServerConfig]\r\nIP\r\n", missing},
      {"the first key counts", "[ServerConfig]\r\nIP=1\r\nIP=2\r\n", "1"},
      {"the first section counts", "[ServerConfig]\r\nUser=u\r\n[ServerConfig]\r\nIP=2\r\n",
       missing},
      {"another section's key", "[BasisConfig]\r\nIP=1\r\n[ServerConfig]\r\nUser=u\r\n", missing},
      {"a key before every section", "IP=1\r\n[ServerConfig]\r\n", missing},
      {"a section line without its bracket", "[ServerConfig\r\nIP=1\r\n", missing},
      {"a commented key", "[ServerConfig]\r\n;IP=1\r\n", missing},
      {"text after the bracket", "[ServerConfig] ; the server\r\nIP=1\r\n", "1"},
      {"a bracket in the text after it", "[ServerConfig] ; [the server]\r\nIP=1\r\n", missing},
      // The last "]" closes the name; one that ends a GBK character is no bracket.
      {"a GBK character ending in ]", "[ServerConfig]\x81]\r\nIP=1\r\n", "1"},
      {"a GBK value ending in a quote's look-alike", "[ServerConfig]\r\nIP=\"地址\"\r\n", "地址"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(value_in(c.text, "ServerConfig", "IP"), c.ip) << c.name;
  }
}

TEST(Settings, AWriteChangesOneLineAndKeepsTheRest) {
  struct Case {
    const char* name;
    std::string before;
    const char* section;
    const char* key;
    std::string value;
    std::string after;
  };
  const Case cases[] = {
      {"a key there", "[S]\r\nA=1\r\nB=2\r\n", "S", "A", "9", "[S]\r\nA=9\r\nB=2\r\n"},
      {"its own spelling stays", "; note\r\n[s]\r\n  a = 1 \r\n", "S", "A", "9",
       "; note\r\n[s]\r\n  a =9\r\n"},
      {"a new key after the section's last line", "[S]\r\nA=1\r\n\r\n[T]\r\nB=2\r\n", "S", "C", "3",
       "[S]\r\nA=1\r\nC=3\r\n\r\n[T]\r\nB=2\r\n"},
      {"a new key in a section without keys", "[S]\r\n[T]\r\n", "S", "A", "1",
       "[S]\r\nA=1\r\n[T]\r\n"},
      {"a new section at the end", "[S]\r\nA=1\r\n", "T", "B", "2", "[S]\r\nA=1\r\n[T]\r\nB=2\r\n"},
      {"a new file", "", "S", "A", "1", "[S]\r\nA=1\r\n"},
      {"no line break at the end", "[S]\r\nA=1", "S", "B", "2", "[S]\r\nA=1\r\nB=2\r\n"},
      {"line feeds alone", "[S]\nA=1\n", "S", "B", "2", "[S]\nA=1\nB=2\n"},
      {"carriage returns alone", "[S]\rA=1\r", "S", "B", "2", "[S]\rA=1\rB=2\r"},
      // Past the last line feed the lines end at carriage returns: one more feed would join
      // them into one line.
      {"carriage returns after the last feed", "[T]\r\n[S]\rA=1\r", "S", "B", "2",
       "[T]\r\n[S]\rA=1\rB=2\r"},
      {"the same without a break at the end", "[T]\r\n[S]\rA=1", "S", "B", "2",
       "[T]\r\n[S]\rA=1\rB=2\r"},
      {"a key without a value", "[S]\r\nA\r\n", "S", "A", "1", "[S]\r\nA=1\r\n"},
      {"only the first section of a name", "[S]\r\n[S]\r\nA=1\r\n", "S", "A", "2",
       "[S]\r\nA=2\r\n[S]\r\nA=1\r\n"},
      {"a GBK section name ending in ]", "[S\x81]]\r\nA=1\r\n", "S\x81]", "A", "2",
       "[S\x81]]\r\nA=2\r\n"},
  };
  for (const Case& c : cases) {
    settings::IniText text = *settings::IniText::from_bytes(c.before);
    text.set(c.section, c.key, c.value);
    EXPECT_EQ(text.bytes(), c.after) << c.name;
    EXPECT_EQ(settings::IniText::from_bytes(text.bytes())->value(c.section, c.key), c.value)
        << c.name;
  }
}

TEST(Settings, ARewriteKeepsTheFileInOneEncoding) {
  using settings::Encoding;
  const std::vector<settings::Entry> user = {{"ServerConfig", "User", "管理员"}};
  struct Case {
    const char* name;
    std::string before;
    std::vector<settings::Entry> entries;
    std::optional<std::string> after;
  };
  const std::string utf8_file = u8s(u8"[BasisConfig]\r\nFile=D:\\服务器\\a.exe\r\n");
  const Case cases[] = {
      {"GBK", "[ServerConfig]\r\nUser=x\r\n", user, "[ServerConfig]\r\nUser=管理员\r\n"},
      {"UTF-8", utf8_file, user, utf8_file + u8s(u8"[ServerConfig]\r\nUser=管理员\r\n")},
      {"UTF-8 with a mark", "\xEF\xBB\xBF" + utf8_file, user,
       "\xEF\xBB\xBF" + utf8_file + u8s(u8"[ServerConfig]\r\nUser=管理员\r\n")},
      {"UTF-16", "\xFF\xFE" + utf16(u"[ServerConfig]\r\nUser=x\r\n", false), user,
       "\xFF\xFE" + utf16(u"[ServerConfig]\r\nUser=管理员\r\n", false)},
      // What the reader strips goes in quotes, in every encoding.
      {"a value in quotes",
       utf8_file,
       {{"BasisConfig", "File", " 服务器 "}},
       u8s(u8"[BasisConfig]\r\nFile=\" 服务器 \"\r\n")},
      {"bytes that are no GBK, into UTF-8",
       utf8_file,
       {{"ServerConfig", "User", "\x81"}},
       std::nullopt},
      {"bytes that are no GBK, into GBK",
       "",
       {{"ServerConfig", "User", "\x81"}},
       "[ServerConfig]\r\nUser=\x81\r\n"},
      // Left as it is, each would read as the other encoding the next time.
      {"UTF-8 that would pass for GBK",
       utf8_file,
       {{"BasisConfig", "File", "é"}},
       u8s(u8"\uFEFF[BasisConfig]\r\nFile=é\r\n")},
      {"GBK that would pass for UTF-8",
       "[ServerConfig]\r\nUser=x\r\n",
       {{"ServerConfig", "User", "聙"}},
       u8s(u8"\uFEFF[ServerConfig]\r\nUser=聙\r\n")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<std::string> after =
        settings::rewritten(*settings::IniText::from_bytes(c.before), c.entries, kCodePage);
    EXPECT_EQ(after, c.after);
    if (!after) continue;
    // It reads back as written.
    TextSource source(*after);
    for (const settings::Entry& e : c.entries) {
      EXPECT_EQ(source.read(e.section, e.key, "<missing>"), e.value);
    }
  }
}
