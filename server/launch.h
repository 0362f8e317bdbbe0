// The start request's decisions: which field is missing or unsafe, and the one line of the launch
// script that the hidden shell runs in the server folder.
#pragma once

#include <cstddef>
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
inline constexpr char kNetworkFolder[] = "初始化目录不能是网络路径！";

// The longest address, account or password taken. The shell cuts a script line at 8,191
// characters and runs the rest as a command of its own; with every field within this, the whole
// line stays far below that.
inline constexpr std::size_t kMaxFieldBytes = 255;

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
// it is empty, then when it is too long, and then when it holds what would let cmd run something
// else, break the line or hand the server other arguments than its own.
std::optional<std::string> first_problem(const Fields& fields);

// Whether a text may stand unquoted as the port: digits only, so that it is one argument and
// never a flag (a blank would part it, '-' could make it "--" or another flag).
bool port_text_safe(std::string_view port);
// Whether the port's digits name a port: 1 to 65535, in at most five digits.
bool port_in_range(std::string_view port);
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

// Why the shell cannot run the script in the server folder, or nothing when it can. An empty
// folder (a file location without one, such as "C:x.exe") would leave the script in whatever
// folder is current; a network path (\\server\share\) can never be the shell's folder, which
// then falls back to the Windows folder.
std::optional<std::string> folder_problem(std::string_view server_folder);

// Where the launch script goes: the server folder (which ends in a separator) and its name.
// Nothing for an empty server folder.
std::optional<std::string> script_path(std::string_view server_folder);

// The shell's environment: the program's own (a block of NAME=value entries, each ending in a
// zero, and a zero after the last) without NoDefaultCurrentDirectoryInExePath, with which the
// shell would look neither for run.bat nor for the server in its own folder.
std::wstring shell_environment(std::wstring_view environment);

}  // namespace launch
