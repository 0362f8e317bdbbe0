// Asking the server to end before forcing it: how long it is given, and which server may be
// asked at all. A console server ends cleanly on Ctrl+C, but only one that runs under our own
// hidden shell is sent it: any other's console may be a window of the user's.
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

}  // namespace graceful
