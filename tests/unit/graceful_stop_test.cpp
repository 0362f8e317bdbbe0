#include "server/graceful_stop.h"

#include <gtest/gtest.h>

namespace {

proc::ProcessRecord record(std::uint32_t id, std::string name, std::uint32_t parent) {
  proc::ProcessRecord r;
  r.id = id;
  r.name = std::move(name);
  r.parent_id = parent;
  return r;
}

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
  EXPECT_LE(graceful::kExitGraceMs, 2000u) << "Windows gives a session end little time";
}

}  // namespace
