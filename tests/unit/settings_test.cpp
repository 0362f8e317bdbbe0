#include "config/settings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>

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
  EXPECT_TRUE(settings::auto_restart(source));
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
  EXPECT_TRUE(settings::auto_restart(source));
  source.values["BasisConfig/Auto restart"] = "false";
  EXPECT_FALSE(settings::auto_restart(source));
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
