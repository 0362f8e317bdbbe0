// The look-up behind the start request's port check: the system's TCP tables with their owning
// processes, and the process list that names them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace port_owner {

// The message to show instead of starting: another program listens where the server would, or,
// with nobody there and trial_bind, the system refuses a bind of the server's address and port
// (reserved_message; the port is bound for a moment only, after resolving the address, which may
// take a while: never on the window's thread). Nothing when the port is free, held by this copy's
// server (server_path, the file as the settings name it) or an owner the tables do not name, or
// when a look-up or Winsock fails. Another copy's server on the port is named like any program.
std::optional<std::string> held_port_message(std::string_view port, std::string_view address,
                                             const std::string& server_path, bool trial_bind);

}  // namespace port_owner
