#include "server/graceful_stop.h"

#include <gtest/gtest.h>

#include "tests/unit/process_record.h"

namespace {

TEST(GracefulStop, OnlyAServerUnderOurRunningShellIsAsked) {
  const std::vector<proc::ProcessRecord> list = {
      record(10, "RivermeshTools.exe", 1),
      record(20, "cmd.exe", 10),
      record(30, "rivermesh_windows_amd64.exe", 20),  // ours
      record(40, "cmd.exe", 1),                       // a user's own prompt
      record(50, "rivermesh_windows_amd64.exe", 40),
      record(60, "rivermesh_windows_amd64.exe", 70),  // its shell has ended
  };
  struct Case {
    const char* what;
    std::uint32_t server, shell;
    bool asked;
  };
  const Case cases[] = {
      {"under our shell", 30, 20, true},    {"under a user's prompt", 50, 20, false},
      {"no shell of ours", 30, 0, false},   {"our shell has ended", 60, 70, false},
      {"server not listed", 99, 20, false}, {"the shell itself", 20, 20, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(graceful::under_our_shell(list, c.server, c.shell), c.asked) << c.what;
  }
}

// A console as Windows keeps it: attaching, allocating and freeing put the table of handlers back
// to the default one alone. After every call it notes whether a Ctrl+C reaching the program then
// would end it.
class FakeConsole final : public graceful::ConsoleApi {
 public:
  FakeConsole(bool has_console, bool ignoring) : has_console_(has_console), ignore_(ignoring) {}

  Attach attach(std::uint32_t process_id) override {
    if (has_console_) return note(Attach::HasConsole);
    if (process_id != kShell) return note(Attach::Failed);
    has_console_ = true;
    handlers_ = 0;
    return note(Attach::Attached);
  }
  bool free() override {
    if (!has_console_) return note(false);
    has_console_ = false;
    handlers_ = 0;
    return note(true);
  }
  void add_handler() override { ++handlers_, note(true); }
  void remove_handler() override {
    if (handlers_ > 0) --handlers_;
    note(true);
  }
  void ignore_ctrl_c(bool ignore) override { ignore_ = ignore, note(true); }
  bool generate_ctrl_c() override {
    sent_ = true;
    return note(has_console_);
  }

  static constexpr std::uint32_t kShell = 20;
  // From the moment the event went out on, whether it could have ended the program.
  bool could_have_ended() const { return could_have_ended_; }
  bool ignoring() const { return ignore_; }
  int handlers() const { return handlers_; }
  bool attached() const { return has_console_; }

 private:
  template <typename T>
  T note(T result) {
    if (sent_ && !ignore_ && handlers_ == 0) could_have_ended_ = true;
    return result;
  }

  bool has_console_;
  bool ignore_;
  int handlers_ = 0;
  bool sent_ = false;
  bool could_have_ended_ = false;
};

// The sequence as it stood: the handler once, before the first attach, and the flag cleared after
// the console was freed.
bool send_once_registered(FakeConsole& console, std::uint32_t shell_id) {
  console.add_handler();
  if (console.attach(shell_id) != graceful::ConsoleApi::Attach::Attached) return false;
  console.ignore_ctrl_c(true);
  const bool sent = console.generate_ctrl_c();
  console.free();
  console.ignore_ctrl_c(false);
  return sent;
}

TEST(GracefulStop, CtrlCNeverReachesTheProgramWithoutItsHandler) {
  {
    FakeConsole old(false, false);
    EXPECT_TRUE(send_once_registered(old, FakeConsole::kShell));
    EXPECT_TRUE(old.could_have_ended()) << "the fake resets as Windows does";
  }
  struct Case {
    const char* what;
    bool has_console;  // one handed down by whoever started the program (Wine)
    bool ignoring;     // the ignore flag inherited from whoever started the program
  };
  for (const Case& c :
       {Case{"a window program", false, false}, Case{"started with a console", true, false},
        Case{"started ignoring Ctrl+C", false, true}}) {
    SCOPED_TRACE(c.what);
    FakeConsole console(c.has_console, c.ignoring);
    graceful::before_shell(console);
    EXPECT_FALSE(console.ignoring()) << "a shell made now takes Ctrl+C";
    EXPECT_EQ(console.handlers(), 1);
    for (int stop = 0; stop < 3; ++stop) {
      EXPECT_TRUE(graceful::send_ctrl_c(console, FakeConsole::kShell));
      EXPECT_FALSE(console.could_have_ended());
      EXPECT_FALSE(console.attached());
      EXPECT_FALSE(console.ignoring());
      EXPECT_EQ(console.handlers(), 1) << "registered once, however many stops";
    }
    EXPECT_FALSE(graceful::send_ctrl_c(console, 99)) << "no such console";
    EXPECT_FALSE(console.ignoring());
    EXPECT_EQ(console.handlers(), 1);
  }
}

}  // namespace
