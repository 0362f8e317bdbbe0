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
  // No trail byte is ever one of these, so they are refused wherever they stand: the shell sees
  // them whatever it makes of the bytes around them.
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '%' || c < 0x20 || c == 0x7F) return false;
  }
  // A lone lead byte at the end would take the closing quote as its second byte; a final
  // backslash would escape it for the server's argument parser.
  if (gbk::ends_in_lone_lead(text)) return false;
  const std::size_t last = gbk::last_char_start(text);
  return last == std::string_view::npos || text.substr(last) != "\\";
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

std::string shell_path(std::string_view system_folder) {
  std::string path(system_folder);
  if (!path.empty() && gbk::last_separator(path) + 1 != path.size()) path += '\\';
  return path + "cmd.exe";
}

std::string shell_command_line(std::string_view system_folder) {
  std::string line = "\"";
  line += shell_path(system_folder);
  line += "\" /D /V:OFF";
  return line;
}

std::optional<std::string> script_path(std::string_view server_folder) {
  if (server_folder.empty()) return std::nullopt;
  return std::string(server_folder) + kScriptName;
}

}  // namespace launch
