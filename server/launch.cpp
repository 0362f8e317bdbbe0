#include "server/launch.h"

#include <string>

#include "platform/gbk.h"

namespace launch {
namespace {

enum class Kind { File, Port, Quoted, Account };

struct Check {
  const char* name;  // as the messages name the field
  std::string Fields::*text;
  Kind kind;
  bool only_with_access_control;
};

constexpr Check kChecks[] = {
    {"文件位置", &Fields::file, Kind::File, false},
    {"网页端口", &Fields::port, Kind::Port, false},
    {"访问地址", &Fields::ip, Kind::Quoted, false},
    {"访问账号", &Fields::user, Kind::Account, true},
    {"访问密码", &Fields::password, Kind::Quoted, true},
};

constexpr std::size_t kMaxPortDigits = 5;

bool is_separator(char c) { return c == '\\' || c == '/'; }

// Windows compares environment names without regard to the case of ASCII letters.
bool same_name(std::wstring_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i];
    char y = b[i];
    if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x - L'A' + L'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != static_cast<unsigned char>(y)) return false;
  }
  return true;
}

}  // namespace

bool port_text_safe(std::string_view port) {
  for (char c : port) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool port_in_range(std::string_view port) {
  if (port.empty() || port.size() > kMaxPortDigits || !port_text_safe(port)) return false;
  unsigned value = 0;
  for (char c : port) value = value * 10 + static_cast<unsigned>(c - '0');
  return value >= 1 && value <= 65535;
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
    const std::string name(check.name);
    switch (check.kind) {
      case Kind::File:
        // The file location is never written into the line: it needs no character check.
        continue;
      case Kind::Port:
        if (!port_text_safe(text)) return name + " 包含不允许的字符！";
        if (!port_in_range(text)) return name + " 必须在 1 到 65535 之间！";
        continue;
      case Kind::Quoted:
      case Kind::Account:
        if (text.size() > kMaxFieldBytes) {
          return name + " 不能超过 " + std::to_string(kMaxFieldBytes) + " 个字节！";
        }
        // The server parts account and password at the first colon: one in the account would
        // move the rest of it into the password.
        if (!quoted_text_safe(text) ||
            (check.kind == Kind::Account && text.find(':') != std::string::npos)) {
          return name + " 包含不允许的字符！";
        }
        continue;
    }
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

std::optional<std::string> folder_problem(std::string_view server_folder) {
  if (server_folder.empty()) return std::string(kEmptyFolder);
  // \\server\share\, //server/share/ and the \\?\ and \\.\ forms alike: none can be the
  // shell's folder.
  if (server_folder.size() >= 2 && is_separator(server_folder[0]) &&
      is_separator(server_folder[1])) {
    return std::string(kNetworkFolder);
  }
  return std::nullopt;
}

std::optional<std::string> script_path(std::string_view server_folder) {
  if (server_folder.empty()) return std::nullopt;
  return std::string(server_folder) + kScriptName;
}

std::wstring shell_environment(std::wstring_view environment) {
  std::wstring out;
  while (!environment.empty() && environment.front() != L'\0') {
    const std::size_t end = environment.find(L'\0');
    const std::wstring_view entry = environment.substr(0, end);
    environment =
        end == std::wstring_view::npos ? std::wstring_view() : environment.substr(end + 1);
    // Entries such as "=C:=C:\srv" (each drive's current folder) have a name that begins with
    // '=': the name ends at the next '='.
    const std::wstring_view name = entry.substr(0, entry.find(L'=', 1));
    if (same_name(name, "NoDefaultCurrentDirectoryInExePath")) continue;
    out.append(entry);
    out += L'\0';
  }
  // An empty block still ends in two zeros.
  if (out.empty()) out += L'\0';
  out += L'\0';
  return out;
}

}  // namespace launch
