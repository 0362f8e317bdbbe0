#include "server/launch.h"

#include "platform/gbk.h"

namespace launch {
namespace {

struct Check {
  const char* name;  // as the messages name the field
  std::string Fields::*text;
  bool quoted;
  bool only_with_access_control;
};

constexpr Check kChecks[] = {
    {"文件位置", &Fields::file, false, false},   {"网页端口", &Fields::port, false, false},
    {"访问地址", &Fields::ip, true, false},      {"访问账号", &Fields::user, true, true},
    {"访问密码", &Fields::password, true, true},
};

}  // namespace

bool port_text_safe(std::string_view port) {
  for (char c : port) {
    if (!((c >= '0' && c <= '9') || c == '-' || c == ' ')) return false;
  }
  return true;
}

bool quoted_text_safe(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (gbk::is_lead_byte(c) && i + 1 < text.size()) {
      ++i;  // the trail byte belongs to the character
      continue;
    }
    if (c == '"' || c == '%' || c < 0x20) return false;
    if (c == '\\' && i + 1 == text.size()) return false;
  }
  return true;
}

std::optional<std::string> first_problem(const Fields& fields) {
  for (const Check& check : kChecks) {
    if (check.only_with_access_control && !fields.access_control) continue;
    const std::string& text = fields.*check.text;
    if (text.empty()) return std::string(check.name) + " 不能为空！";
    // The file location is never written into the line: it needs no character check.
    if (check.text == &Fields::file) continue;
    const bool safe = check.quoted ? quoted_text_safe(text) : port_text_safe(text);
    if (!safe) return std::string(check.name) + " 包含不允许的字符！";
  }
  return std::nullopt;
}

std::string command_line(const Fields& fields) {
  std::string line = std::string(kServerExe) + " -h \"" + fields.ip + "\" -p " + fields.port;
  if (fields.access_control) line += " -a \"" + fields.user + ":" + fields.password + "\"";
  line += " -l";
  return line;
}

std::optional<std::string> script_path(std::string_view server_folder) {
  if (server_folder.empty()) return std::nullopt;
  return std::string(server_folder) + kScriptName;
}

}  // namespace launch
