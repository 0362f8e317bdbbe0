// Asking the server to end before forcing it: how long it is given, and which server may be
// asked at all. A console server ends cleanly on Ctrl+C, but only one that runs under our own
// hidden shell is sent it, or one taken over at start-up (through its own console, as a key press
// there would): any other's console may be a window of the user's that has nothing to do with us.
#pragma once

#include <cstdint>
#include <vector>

#include "server/process_rules.h"

namespace graceful {

// A stop waits this long for the server to end by itself before it is terminated.
inline constexpr std::uint32_t kStopGraceMs = 3000;
// At exit, and when the session ends, the program is gone from the screen already and Windows
// gives it little time: it waits at most this long.
inline constexpr std::uint32_t kExitGraceMs = 2000;

// Whether the process server_id was started by our shell shell_id (0: we have none), which still
// runs. Our shell's id is not reused while the program holds its handle.
bool under_our_shell(const std::vector<proc::ProcessRecord>& list, std::uint32_t server_id,
                     std::uint32_t shell_id);

// The console calls a Ctrl+C for our shell's console needs. The program sends the event to every
// process on that console, itself included, and the event may reach it late, on a thread of its
// own, after it has left the console: a process whose handlers are only the default one then
// ends. AttachConsole, AllocConsole and FreeConsole put the table of handlers back to the default
// one alone; the ignore flag stays as it was set, and every process created while it is set
// inherits it.
class ConsoleApi {
 public:
  enum class Attach { Attached, HasConsole, Failed };
  virtual ~ConsoleApi() = default;
  // HasConsole: the program holds a console already (Wine hands down its starter's).
  virtual Attach attach(std::uint32_t process_id) = 0;
  virtual bool free() = 0;
  // Our handler, which takes Ctrl+C and does nothing.
  virtual void add_handler() = 0;
  virtual void remove_handler() = 0;
  virtual void ignore_ctrl_c(bool ignore) = 0;
  // CTRL_C_EVENT to every process on the console the program is attached to.
  virtual bool generate_ctrl_c() = 0;
};

// Before a shell is made: our handler registered, and an ignore flag inherited from whoever
// started the program cleared, or the shell and its server would ignore every stop's Ctrl+C.
void before_shell(ConsoleApi& console);

// Ctrl+C to the console of shell_id (or of a server taken over), leaving the program as
// before_shell leaves it: whenever the event may reach the program, our handler or the ignore flag
// takes it. False when it was not sent.
bool send_ctrl_c(ConsoleApi& console, std::uint32_t shell_id);

}  // namespace graceful
