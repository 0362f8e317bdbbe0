#include "server/graceful_stop.h"

#include <algorithm>

namespace graceful {

bool under_our_shell(const std::vector<proc::ProcessRecord>& list, std::uint32_t server_id,
                     std::uint32_t shell_id) {
  if (shell_id == 0 || server_id == shell_id) return false;
  const auto listed = [&](std::uint32_t id) {
    return std::find_if(list.begin(), list.end(),
                        [id](const proc::ProcessRecord& r) { return r.id == id; });
  };
  const auto server = listed(server_id);
  return server != list.end() && server->parent_id == shell_id && listed(shell_id) != list.end();
}

namespace {

// Registered once however often this runs: removing first keeps the table from growing where a
// platform does not reset it. Only while the ignore flag is set: between the two a late Ctrl+C
// would meet the default handler alone.
void keep_handler(ConsoleApi& console) {
  console.remove_handler();
  console.add_handler();
}

bool attach_and_send(ConsoleApi& console, std::uint32_t shell_id) {
  ConsoleApi::Attach attached = console.attach(shell_id);
  if (attached == ConsoleApi::Attach::HasConsole) {
    // A console handed down by whoever started the program is let go; ours is another.
    if (!console.free()) return false;
    keep_handler(console);
    attached = console.attach(shell_id);
  }
  if (attached != ConsoleApi::Attach::Attached) return false;
  keep_handler(console);
  const bool sent = console.generate_ctrl_c();
  console.free();
  return sent;
}

}  // namespace

void before_shell(ConsoleApi& console) {
  console.ignore_ctrl_c(true);
  keep_handler(console);
  console.ignore_ctrl_c(false);
}

bool send_ctrl_c(ConsoleApi& console, std::uint32_t shell_id) {
  // The flag covers every step, the event's own included; it goes only once the handler is
  // back, and no shell is made in between.
  console.ignore_ctrl_c(true);
  keep_handler(console);
  const bool sent = attach_and_send(console, shell_id);
  keep_handler(console);
  console.ignore_ctrl_c(false);
  return sent;
}

}  // namespace graceful
