// One copy of the program per program folder: the names under which a copy makes itself known
// to a second copy started from the same folder, under any file name and through any path, and
// what the second copy does then.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_identity.h"

namespace instance {

// The folder as the file system knows it: a symbolic link, a junction, a mapped or substituted
// drive letter all lead to the same identity, while their path texts differ. A file system that
// gives no unique id gives none here (file_id), and the path's key stands.
using FolderIdentity = file_id::FileId;

// The name that stands for the executable's folder. A renamed copy beside the program shares its
// config.ini, run.bat and server, so it gets the same name. Fit for kernel object and window
// message names: letters, digits and '-' only.
std::string key(FolderIdentity folder);

// The same from the path alone, for a folder that cannot be opened: the folder whatever the case
// of its letters, as the file system takes them (path_case). The caller hands in the long form of
// the path, so that a start through a short 8.3 path agrees with a long one.
std::string key(std::string_view exe_path);

// The mutexes the running copy holds: one seen by every session of the machine (the Run value
// starts a copy at every user's login, and two would fight over the folder's server and port),
// and one seen only in the copy's own session, which tells a second copy whether the first one
// runs on its desktop. And the message a second copy sends to have the window shown.
std::string machine_mutex_name(std::string_view key);
std::string session_mutex_name(std::string_view key);
std::string show_message_name(std::string_view key);

// Who may open the machine-wide mutex, in the system's descriptor language: everyone may wait on
// it, so that another user's copy finds it there instead of failing to open it; its owner may do
// anything.
inline constexpr char kMachineMutexAccess[] = "D:(A;;0x00100000;;;WD)(A;;GA;;;OW)";

// The system's answers to creating the mutex that matter here.
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;

// Whether another copy holds the mutex, from what creating it gave: a handle to an existing one,
// or no handle because the existing one belongs to a copy with more rights (an elevated copy's
// mutex refuses a normal one access). Any other failure lets this copy run.
bool already_running(bool got_handle, std::uint32_t last_error);

// How this copy was started: a double click (the desktop shell), the Run value at login, or
// anything else (a scheduler, a command prompt, another program).
enum class Start { DesktopShell, Login, Other };

enum class Action {
  Run,           // no copy runs for this folder: this one does
  BringForward,  // the copy on this desktop shows its window; this one ends
  EndQuietly,    // this one ends and shows nothing
  SayOtherUser,  // the copy runs for another user: this one says so in a box and ends
};

// in_session: a copy holds the session's mutex; on_machine: a copy holds the machine's. Only a
// double click asks for something to be seen; a start at login or by a program ends quietly.
Action decide(bool in_session, bool on_machine, Start start);

// Shown on a double click while the copy of this folder runs for another user.
inline constexpr char kOtherUser[] =
    "Rivermesh Tools 已在另一个用户的会话中运行！同一文件夹中的程序同时只能运行一份。";
inline constexpr char kOtherUserCaption[] = "错误";

}  // namespace instance
