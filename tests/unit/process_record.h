// A process list's entry as the tests write one: its id, file name and parent's id.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "server/process_rules.h"

inline proc::ProcessRecord record(std::uint32_t id, std::string name, std::uint32_t parent) {
  proc::ProcessRecord r;
  r.id = id;
  r.name = std::move(name);
  r.parent_id = parent;
  return r;
}
