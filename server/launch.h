// The start request's decisions: which field is missing or unsafe, and the one line of the launch
// script that the hidden shell runs in the server folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "config/settings.h"

namespace launch {

using settings::kServerExe;
inline constexpr char kScriptName[] = "run.bat";
inline constexpr char kErrorCaption[] = "错误";
inline constexpr char kScriptFailed[] = "写入启动脚本失败！";
inline constexpr char kEmptyFolder[] = "初始化目录不能为空！";

// The launch settings as the window shows them at the moment of the request.
struct Fields {
  std::string file;
  std::string port;
  std::string ip;
  bool access_control = false;
  std::string user;
  std::string password;
};

// The message of the first check that fails, in the fixed order file, port, address, then (with
// access control) account and password; nothing when every check passes. A field is refused when
// it is empty, and then when it holds what would let cmd run something else or break the line.
std::optional<std::string> first_problem(const Fields& fields);

// Whether a text may stand unquoted as the port: digits, '-' and blanks only.
bool port_text_safe(std::string_view port);
// Whether a text may stand between double quotes on the line: no '"', no '%', no control byte
// (DEL included) anywhere, no lone lead byte at the end and no final backslash. Characters are
// read as the shell reads code page 936 (platform/gbk.h), so a valid second byte that looks like
// a backslash is part of its character.
bool quoted_text_safe(std::string_view text);

// The server command line, without line end: the address and the account:password pair in
// double quotes, the port bare, -l last.
std::string command_line(const Fields& fields);

// The hidden shell: the system's own cmd.exe (system_folder as GetSystemDirectory gives it), never
// one found beside the program or in the current folder.
std::string shell_path(std::string_view system_folder);
// Its command line: /D keeps the user's AutoRun commands from running before the script (they
// could change the folder or print into the log), /V:OFF keeps '!' in a quoted field as typed
// even where delayed expansion is switched on for every shell.
std::string shell_command_line(std::string_view system_folder);

// Where the launch script goes: the server folder (which ends in a separator) and its name.
// Nothing for an empty server folder (a file location without a folder, such as "C:x.exe"): the
// script would land in whatever folder is current, and the shell would run it there.
std::optional<std::string> script_path(std::string_view server_folder);

}  // namespace launch
