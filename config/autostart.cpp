#include "config/autostart.h"

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

bool started_at_login(std::string_view command_line) {
  // Arguments split as the C runtime splits them at blanks; quotes only group. The program's
  // own path comes first and may hold anything, so it is never taken for the argument.
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
    if (!first && argument == kLoginArgument) return true;
    first = false;
  }
  return false;
}

void toggled(bool now_checked, std::string_view program_path, Registry& registry, Ui& ui) {
  const ValuePath p = value_path(kValueName);
  const std::optional<std::string> before = registry.read_value(p.key, p.name);
  if (now_checked) {
    const std::string data = value_data(program_path);
    run_key(registry, Op::Write, kValueName, data);
    if (!run_key(registry, Op::Verify, kValueName, data)) {
      ui.show_error(kSetFailed);
      ui.put_back(false);
      return;
    }
  } else {
    run_key(registry, Op::Delete, kValueName);
    if (run_key(registry, Op::Test, kValueName)) {
      ui.show_error(kUnsetFailed);
      ui.put_back(true);
      return;
    }
  }
  if (ui.record(now_checked)) return;
  if (before) {
    registry.set_text(p.key, p.name, *before);
  } else {
    run_key(registry, Op::Delete, kValueName);
  }
  ui.show_error(kRecordFailed);
  ui.put_back(!now_checked);
}

}  // namespace autostart
