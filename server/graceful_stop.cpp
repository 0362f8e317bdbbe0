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

}  // namespace graceful
