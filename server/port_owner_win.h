// The look-up behind the start request's port check: the system's TCP tables with their owning
// processes, and the process list that names them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace port_owner {

// The message to show instead of starting when another program listens where the server would;
// nothing when the port is free, held by a copy of the server, or the look-up failed.
std::optional<std::string> held_port_message(std::string_view port, std::string_view address);

}  // namespace port_owner
