#include "config/autostart.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

// A registry whose writes and deletes can be made to have no effect, as without the rights.
class FakeRegistry final : public autostart::Registry {
 public:
  std::map<std::string, std::string> values;  // "key|name" -> data
  std::vector<std::string> calls;
  bool writes_take = true;
  bool deletes_take = true;

  void set_text(const std::string& key, const std::string& name, const std::string& data) override {
    calls.push_back("set " + key + "|" + name);
    if (writes_take) values[key + "|" + name] = data;
  }
  bool delete_value(const std::string& key, const std::string& name) override {
    calls.push_back("delete " + key + "|" + name);
    if (!deletes_take) return false;
    return values.erase(key + "|" + name) != 0;
  }
  void delete_key(const std::string& path) override { calls.push_back("delete key " + path); }
  std::optional<std::string> read_value(const std::string& key, const std::string& name) override {
    const auto found = values.find(key + "|" + name);
    if (found == values.end()) return std::nullopt;
    return found->second;
  }
};

class FakeUi final : public autostart::Ui {
 public:
  std::vector<std::string> errors;
  std::vector<bool> put_back_to;
  std::vector<bool> recorded;
  std::vector<autostart::Elevation> elevations;
  bool held = false;  // the box greyed
  std::vector<bool> held_when_asked;
  bool record_takes = true;
  bool elevation_starts = false;

  void show_error(const std::string& text) override { errors.push_back(text); }
  void put_back(bool checked) override { put_back_to.push_back(checked); }
  bool record(bool on) override {
    recorded.push_back(on);
    return record_takes;
  }
  void hold(bool h) override { held = h; }
  bool elevate(const autostart::Elevation& change) override {
    elevations.push_back(change);
    held_when_asked.push_back(held);
    return elevation_starts;
  }
};

const std::string kRun = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string kSlot = kRun + "|Rivermesh Tools";
constexpr char kProgram[] = "C:\\Program Files (x86)\\工具\\RivermeshTools.exe";

}  // namespace

TEST(Autostart, CheckingRegistersTheQuotedPathAndRecordsIt) {
  FakeRegistry reg;
  FakeUi ui;
  autostart::toggled(true, false, kProgram, reg, ui);
  EXPECT_EQ(reg.values[kSlot], std::string("\"") + kProgram + "\" -autostart");
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_TRUE(ui.put_back_to.empty());
  EXPECT_EQ(ui.recorded, std::vector<bool>{true});
}

TEST(Autostart, UncheckingRemovesTheValueAndRecordsIt) {
  FakeRegistry reg;
  reg.values[kSlot] = "\"C:\\old\\RivermeshTools.exe\"";
  FakeUi ui;
  autostart::toggled(false, false, kProgram, reg, ui);
  EXPECT_EQ(reg.values.count(kSlot), 0u);
  EXPECT_EQ(ui.recorded, std::vector<bool>{false});
  // A deleted value needs no key delete.
  EXPECT_EQ(reg.calls, std::vector<std::string>{"delete " + kSlot});
}

TEST(Autostart, AWriteThatDoesNotTakeIsReportedAndPutBack) {
  FakeRegistry reg;
  reg.writes_take = false;
  FakeUi ui;
  autostart::toggled(true, false, kProgram, reg, ui);
  EXPECT_EQ(ui.errors, std::vector<std::string>{autostart::kSetFailed});
  EXPECT_EQ(ui.put_back_to, std::vector<bool>{false});
  EXPECT_TRUE(ui.recorded.empty());  // config.ini keeps what it had
  EXPECT_FALSE(ui.held);             // no elevated run started
}

TEST(Autostart, ADeleteThatDoesNotTakeIsReportedAndPutBack) {
  FakeRegistry reg;
  reg.deletes_take = false;
  reg.values[kSlot] = "\"x\"";
  FakeUi ui;
  autostart::toggled(false, false, kProgram, reg, ui);
  EXPECT_EQ(ui.errors, std::vector<std::string>{autostart::kUnsetFailed});
  EXPECT_EQ(ui.put_back_to, std::vector<bool>{true});
  EXPECT_TRUE(ui.recorded.empty());
  // The failed value delete is followed by a key delete on the value's full path.
  EXPECT_EQ(reg.calls.back(), "delete key " + kRun + "\\Rivermesh Tools");
}

TEST(Autostart, AValueThatWasAlreadyThereDoesNotPassForAFailedWrite) {
  // The program was moved, or an older version wrote the value without the login argument: a
  // write without the rights leaves the old data, and that is no success.
  for (const std::string& old :
       {std::string("\"D:\\elsewhere.exe\" -autostart"), std::string("\"") + kProgram + "\""}) {
    SCOPED_TRACE(old);
    FakeRegistry reg;
    reg.writes_take = false;
    reg.values[kSlot] = old;
    FakeUi ui;
    autostart::toggled(true, false, kProgram, reg, ui);
    EXPECT_EQ(ui.errors, std::vector<std::string>{autostart::kSetFailed});
    EXPECT_EQ(ui.put_back_to, std::vector<bool>{false});
    EXPECT_TRUE(ui.recorded.empty());
    EXPECT_EQ(reg.values[kSlot], old);
  }
}

TEST(Autostart, AChangeConfigIniCannotRecordIsUndoneInTheRegistry) {
  struct Case {
    const char* name;
    bool check;
    std::optional<std::string> before;
  };
  const Case cases[] = {
      {"checked, no value before", true, std::nullopt},
      {"checked over a value of a copy elsewhere", true, "\"D:\\elsewhere.exe\" -autostart"},
      {"unchecked", false, std::string("\"") + kProgram + "\" -autostart"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeRegistry reg;
    if (c.before) reg.values[kSlot] = *c.before;
    FakeUi ui;
    ui.record_takes = false;
    autostart::toggled(c.check, false, kProgram, reg, ui);
    EXPECT_EQ(ui.recorded, std::vector<bool>{c.check});
    EXPECT_EQ(ui.errors, std::vector<std::string>{autostart::kRecordFailed});
    EXPECT_EQ(ui.put_back_to, std::vector<bool>{!c.check});
    const auto after = reg.values.find(kSlot);
    EXPECT_EQ(after == reg.values.end() ? std::nullopt : std::optional(after->second), c.before);
  }
}

TEST(Autostart, OnlyTheLoginArgumentAfterTheProgramMarksAStartAtLogin) {
  struct Case {
    const char* line;
    bool at_login;
  };
  const Case cases[] = {
      {"\"C:\\Tools\\RivermeshTools.exe\" -autostart", true},
      {"\"C:\\Tools\\RivermeshTools.exe\"   -autostart  ", true},
      {"C:\\Tools\\RivermeshTools.exe\t-autostart", true},
      {"RivermeshTools.exe \"-autostart\"", true},
      {"RivermeshTools.exe other -autostart", true},
      // A value written by an older version, and other starts.
      {"\"C:\\Tools\\RivermeshTools.exe\"", false},
      {"RivermeshTools.exe", false},
      {"", false},
      {"RivermeshTools.exe -autostartx", false},
      {"RivermeshTools.exe -AUTOSTART", false},
      {"RivermeshTools.exe \"-autostart x\"", false},
      // The program's own path is no argument, whatever it holds.
      {"-autostart", false},
      {"\"C:\\a b\\-autostart\"", false},
      {"\"C:\\a -autostart\\RivermeshTools.exe\"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(autostart::started_at_login(c.line), c.at_login) << c.line;
  }
  // What the Run value holds is a command line that says so.
  EXPECT_TRUE(autostart::started_at_login(autostart::value_data(kProgram)));
}

TEST(Autostart, UncheckingWithNothingRegisteredStillRecordsOff) {
  FakeRegistry reg;
  FakeUi ui;
  autostart::toggled(false, false, kProgram, reg, ui);
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_EQ(ui.recorded, std::vector<bool>{false});
}

namespace {

std::string command(const std::string& arguments) {
  return std::string("\"") + kProgram + "\" " + arguments;
}

}  // namespace

TEST(Autostart, AChangeTheRegistryRefusesGoesToTheElevatedRunAndItsEndIsShown) {
  struct Case {
    const char* name;
    bool check;
    bool elevated_takes;
    std::vector<std::string> errors;
    std::vector<bool> recorded;
  };
  const std::string ours = autostart::value_data(kProgram);
  // A prompt the user declines, or a run the system cannot start, leaves the registry as a run
  // that is refused does: the end reads it the same way.
  const Case cases[] = {
      {"checked, allowed", true, true, {}, {true}},
      {"checked, refused all the same", true, false, {autostart::kSetFailed}, {}},
      {"unchecked, allowed", false, true, {}, {false}},
      {"unchecked, refused all the same", false, false, {autostart::kUnsetFailed}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeRegistry reg;
    reg.writes_take = reg.deletes_take = false;
    if (!c.check) reg.values[kSlot] = ours;
    FakeUi ui;
    ui.elevation_starts = true;
    autostart::toggled(c.check, false, kProgram, reg, ui);
    // Greyed before the prompt is asked for; nothing is shown or recorded while the run waits
    // for the user and the registry.
    ASSERT_EQ(ui.elevations.size(), 1u);
    EXPECT_EQ(ui.held_when_asked, std::vector<bool>{true});
    EXPECT_TRUE(ui.held);
    EXPECT_EQ(ui.elevations[0].on, c.check);
    EXPECT_FALSE(ui.elevations[0].undo);
    EXPECT_TRUE(ui.errors.empty());
    EXPECT_TRUE(ui.put_back_to.empty());
    EXPECT_TRUE(ui.recorded.empty());

    // A click that reaches the greyed box meanwhile asks nothing and touches nothing.
    const std::size_t calls = reg.calls.size();
    autostart::toggled(!c.check, true, kProgram, reg, ui);
    EXPECT_EQ(ui.put_back_to, std::vector<bool>{c.check});
    EXPECT_EQ(reg.calls.size(), calls);
    EXPECT_EQ(ui.elevations.size(), 1u);
    ui.put_back_to.clear();

    // The elevated run: it has the rights, or not even it does.
    reg.writes_take = reg.deletes_take = c.elevated_takes;
    const autostart::Change request =
        autostart::change_request(command(autostart::change_arguments(ui.elevations[0].on)));
    EXPECT_EQ(autostart::change(request, kProgram, reg),
              c.elevated_takes ? autostart::kChangeTook : autostart::kChangeRefused);
    autostart::elevated_ended(ui.elevations[0], kProgram, reg, ui);
    EXPECT_FALSE(ui.held);
    EXPECT_EQ(ui.errors, c.errors);
    EXPECT_EQ(ui.recorded, c.recorded);
    EXPECT_EQ(ui.put_back_to, c.errors.empty() ? std::vector<bool>{} : std::vector<bool>{!c.check});
    EXPECT_EQ(reg.values.count(kSlot) != 0, c.check == c.elevated_takes);
    if (c.check && c.elevated_takes) {
      EXPECT_EQ(reg.values[kSlot], ours);
    }
    EXPECT_EQ(ui.elevations.size(), 1u);
  }
}

TEST(Autostart, AnElevatedChangeConfigIniCannotRecordIsUndoneByAnotherElevatedRun) {
  struct Case {
    const char* name;
    bool check;
    std::optional<std::string> before;
    bool undone;
  };
  const std::string ours = autostart::value_data(kProgram);
  const Case cases[] = {
      {"checked, no value before", true, std::nullopt, true},
      {"unchecked, this program's value before", false, ours, true},
      // The elevated run writes only this program's own value: another copy's stays removed.
      {"unchecked, a value of a copy elsewhere", false, "\"D:\\elsewhere.exe\" -autostart", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeRegistry reg;
    if (c.before) reg.values[kSlot] = *c.before;
    reg.writes_take = reg.deletes_take = false;
    FakeUi ui;
    ui.elevation_starts = true;
    ui.record_takes = false;
    autostart::toggled(c.check, false, kProgram, reg, ui);
    ASSERT_EQ(ui.elevations.size(), 1u);
    reg.writes_take = reg.deletes_take = true;
    autostart::change(c.check ? autostart::Change::On : autostart::Change::Off, kProgram, reg);
    autostart::elevated_ended(ui.elevations[0], kProgram, reg, ui);
    EXPECT_EQ(ui.errors, std::vector<std::string>{autostart::kRecordFailed});
    EXPECT_EQ(ui.put_back_to, std::vector<bool>{!c.check});
    ASSERT_EQ(ui.elevations.size(), c.undone ? 2u : 1u);
    // Greyed again while the undo is asked for, since a click now would race it.
    EXPECT_EQ(ui.held, c.undone);
    if (!c.undone) continue;
    EXPECT_TRUE(ui.held_when_asked[1]);
    const autostart::Elevation undo = ui.elevations[1];
    EXPECT_EQ(undo.on, !c.check);
    EXPECT_TRUE(undo.undo);
    autostart::change(undo.on ? autostart::Change::On : autostart::Change::Off, kProgram, reg);
    // The undo's end shows nothing more: its message is up already.
    autostart::elevated_ended(undo, kProgram, reg, ui);
    EXPECT_FALSE(ui.held);
    EXPECT_EQ(ui.errors.size(), 1u);
    EXPECT_EQ(ui.recorded.size(), 1u);
    const auto after = reg.values.find(kSlot);
    EXPECT_EQ(after == reg.values.end() ? std::nullopt : std::optional(after->second), c.before);
  }
}

TEST(Autostart, TheElevatedRunTakesOnlyTheExactSwitchAndChangesOnlyThisProgramsValue) {
  using autostart::Change;
  struct Case {
    const char* arguments;
    Change request;
  };
  const Case cases[] = {
      {"-set-autostart on", Change::On},
      {"-set-autostart off", Change::Off},
      {"  -set-autostart\t\"off\"  ", Change::Off},
      // Normal starts, the login's among them.
      {"", Change::None},
      {"-autostart", Change::None},
      {"-set-autostartx on", Change::None},
      // The switch with anything else is no normal start either.
      {"-set-autostart", Change::Invalid},
      {"-set-autostart ON", Change::Invalid},
      {"-set-autostart yes", Change::Invalid},
      {"-set-autostart \"\"", Change::Invalid},
      {"-set-autostart on off", Change::Invalid},
      {"-set-autostart on -autostart", Change::Invalid},
      {"-autostart -set-autostart on", Change::Invalid},
      {"on -set-autostart", Change::Invalid},
      {"\"-set-autostart on\"", Change::None},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(autostart::change_request(command(c.arguments)), c.request) << c.arguments;
  }
  // The program's own path is no argument, whatever it holds.
  EXPECT_EQ(autostart::change_request("\"C:\\-set-autostart\\RivermeshTools.exe\""), Change::None);
  for (const bool on : {true, false}) {
    EXPECT_EQ(autostart::change_request(command(autostart::change_arguments(on))),
              on ? Change::On : Change::Off);
  }

  FakeRegistry reg;
  reg.values[kSlot] = "\"D:\\elsewhere.exe\" -autostart";
  EXPECT_EQ(autostart::change(Change::On, kProgram, reg), autostart::kChangeTook);
  EXPECT_EQ(reg.values[kSlot], autostart::value_data(kProgram));
  EXPECT_EQ(autostart::change(Change::Off, kProgram, reg), autostart::kChangeTook);
  EXPECT_EQ(reg.values.count(kSlot), 0u);
  EXPECT_EQ(autostart::change(Change::Off, kProgram, reg), autostart::kChangeTook);
  reg.writes_take = false;
  EXPECT_EQ(autostart::change(Change::On, kProgram, reg), autostart::kChangeRefused);
  reg.values[kSlot] = "x";
  reg.deletes_take = false;
  EXPECT_EQ(autostart::change(Change::Off, kProgram, reg), autostart::kChangeRefused);
  // No valid request touches nothing.
  reg.calls.clear();
  for (const Change request : {Change::Invalid, Change::None}) {
    EXPECT_EQ(autostart::change(request, kProgram, reg), autostart::kChangeInvalid);
  }
  EXPECT_TRUE(reg.calls.empty());
  EXPECT_EQ(reg.values[kSlot], "x");
}
