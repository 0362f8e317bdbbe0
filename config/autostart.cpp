#include "config/autostart.h"

#include <utility>
#include <vector>

namespace autostart {

namespace {

// The value's full path, split at its last backslash for every call. The value name holds no
// backslash, so the split gives back the Run key and the name.
struct ValuePath {
  std::string full;
  std::string key;
  std::string name;
};

ValuePath value_path(const std::string& name) {
  ValuePath p;
  p.full = std::string(kRunKey) + "\\" + name;
  const std::size_t cut = p.full.rfind('\\');
  p.key = p.full.substr(0, cut);
  p.name = p.full.substr(cut + 1);
  return p;
}

}  // namespace

bool run_key(Registry& registry, Op op, const std::string& name, const std::string& data) {
  const ValuePath p = value_path(name);
  switch (op) {
    case Op::Write:
      registry.set_text(p.key, p.name, data);
      return false;
    case Op::Delete:
      // Normally no key has this path and the call fails as well; it covers a registration
      // that was made as a key instead of a value.
      if (!registry.delete_value(p.key, p.name)) registry.delete_key(p.full);
      return false;
    case Op::Test:
      return registry.read_value(p.key, p.name).has_value();
    case Op::Verify:
      return registry.read_value(p.key, p.name) == data;
  }
  return false;
}

std::string value_data(std::string_view program_path) {
  std::string data(1, '"');
  data.append(program_path);
  data += "\" ";
  data += kLoginArgument;
  return data;
}

namespace {

// Arguments split as the C runtime splits them at blanks; quotes only group. The program's own
// path comes first and may hold anything, so it is never taken for an argument.
std::vector<std::string> arguments(std::string_view command_line) {
  std::vector<std::string> found;
  bool first = true;
  std::size_t i = 0;
  while (i < command_line.size()) {
    while (i < command_line.size() && (command_line[i] == ' ' || command_line[i] == '\t')) ++i;
    if (i == command_line.size()) break;
    std::string argument;
    bool quoted = false;
    for (; i < command_line.size(); ++i) {
      const char c = command_line[i];
      if (c == '"') {
        quoted = !quoted;
      } else if (!quoted && (c == ' ' || c == '\t')) {
        break;
      } else {
        argument += c;
      }
    }
    if (!first) found.push_back(std::move(argument));
    first = false;
  }
  return found;
}

// Whether the registry holds the state asked for, as this program's own value.
bool holds(Registry& registry, bool on, std::string_view program_path) {
  return on ? run_key(registry, Op::Verify, kValueName, value_data(program_path))
            : !run_key(registry, Op::Test, kValueName);
}

// Makes the change with the rights this run has; true when it took.
bool make(Registry& registry, bool on, std::string_view program_path) {
  if (on) {
    run_key(registry, Op::Write, kValueName, value_data(program_path));
  } else {
    run_key(registry, Op::Delete, kValueName);
  }
  return holds(registry, on, program_path);
}

void report_refused(bool on, Ui& ui) {
  ui.show_error(on ? kSetFailed : kUnsetFailed);
  ui.put_back(!on);
}

// The change took: config.ini records it, or the registry goes back to what it held. A copy of
// the change, since the undo's request may move the caller's.
void settle(const Elevation change, bool elevated, std::string_view program_path,
            Registry& registry, Ui& ui) {
  if (ui.record(change.on)) return;
  if (!elevated) {
    const ValuePath p = value_path(kValueName);
    if (change.before) {
      registry.set_text(p.key, p.name, *change.before);
    } else {
      run_key(registry, Op::Delete, kValueName);
    }
  } else if (change.on || change.before == value_data(program_path)) {
    // Only the elevated run can undo it, and it knows only this program's own value: a value of
    // a copy elsewhere that an unchecking removed stays removed.
    ui.hold(true);
    if (!ui.elevate({!change.on, change.before, true})) ui.hold(false);
  }
  ui.show_error(kRecordFailed);
  ui.put_back(!change.on);
}

}  // namespace

bool started_at_login(std::string_view command_line) {
  for (const std::string& argument : arguments(command_line)) {
    if (argument == kLoginArgument) return true;
  }
  return false;
}

Change change_request(std::string_view command_line) {
  const std::vector<std::string> given = arguments(command_line);
  bool named = false;
  for (const std::string& argument : given) named = named || argument == kChangeSwitch;
  if (!named) return Change::None;
  if (given.size() != 2 || given[0] != kChangeSwitch) return Change::Invalid;
  if (given[1] == kOn) return Change::On;
  if (given[1] == kOff) return Change::Off;
  return Change::Invalid;
}

std::string change_arguments(bool on) {
  return std::string(kChangeSwitch) + " " + (on ? kOn : kOff);
}

int change(Change request, std::string_view program_path, Registry& registry) {
  if (request != Change::On && request != Change::Off) return kChangeInvalid;
  return make(registry, request == Change::On, program_path) ? kChangeTook : kChangeRefused;
}

void toggled(bool now_checked, bool waiting, std::string_view program_path, Registry& registry,
             Ui& ui) {
  if (waiting) {
    ui.put_back(!now_checked);
    return;
  }
  const ValuePath p = value_path(kValueName);
  const Elevation wanted{now_checked, registry.read_value(p.key, p.name), false};
  if (make(registry, now_checked, program_path)) {
    settle(wanted, false, program_path, registry, ui);
    return;
  }
  // Greyed before anything is asked, so that no click gets in while the prompt comes up.
  ui.hold(true);
  if (!ui.elevate(wanted)) {
    ui.hold(false);
    report_refused(now_checked, ui);
  }
}

void elevated_ended(const Elevation& change, std::string_view program_path, Registry& registry,
                    Ui& ui) {
  ui.hold(false);
  // An undo's message is up already, and the box shows what config.ini holds.
  if (change.undo) return;
  if (holds(registry, change.on, program_path)) {
    settle(change, true, program_path, registry, ui);
  } else {
    report_refused(change.on, ui);
  }
}

}  // namespace autostart
