// Start at login: the program's value under the machine-wide Run key, and what a click on the
// "开机启动" checkbox does with it. A change counts only once reading it back agrees; only then is
// it recorded in config.ini.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace autostart {

inline constexpr char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char kValueName[] = "Rivermesh Tools";

inline constexpr char kSetFailed[] =
    "设置开机启动失败！可能是没有权限导致的，请尝试[以管理员方式运行] Rivermesh Tools 重试。";
inline constexpr char kUnsetFailed[] =
    "取消开机启动失败！可能是没有权限导致的，请尝试[以管理员方式运行] Rivermesh Tools 重试。";

// config.ini did not take the new state ("保存配置失败！", as for any other failed save).
inline constexpr char kRecordFailed[] = "保存配置失败！";

// The registry calls the Run-key operation needs, all on HKEY_LOCAL_MACHINE. Failures show only
// through the read-back, so only that and the value delete report anything.
class Registry {
 public:
  virtual ~Registry() = default;
  // Opens the key for writing, creating it when it cannot be opened, and sets a text value.
  virtual void set_text(const std::string& key, const std::string& name,
                        const std::string& data) = 0;
  virtual bool delete_value(const std::string& key, const std::string& name) = 0;
  virtual void delete_key(const std::string& path) = 0;
  // The value's data without its terminating zero, whatever its type; nothing when it is absent.
  virtual std::optional<std::string> read_value(const std::string& key,
                                                const std::string& name) = 0;
};

// Test: whether the value is there at all. Verify: whether it holds exactly data, so that a value
// left by a copy elsewhere does not pass for a write that did not take.
enum class Op { Write, Delete, Test, Verify };

// The Run-key operation for the value under name; its answer means something for Test and
// Verify only.
bool run_key(Registry& registry, Op op, const std::string& name, const std::string& data = {});

// The argument that marks a start by the Run value: at login Windows starts the program from
// explorer.exe, which must not be taken for a double click.
inline constexpr char kLoginArgument[] = "-autostart";

// What the Run value holds for a program at this path: the path in double quotes, then the
// login argument.
std::string value_data(std::string_view program_path);

// Whether a full command line (program first, as GetCommandLine gives it) carries the login
// argument. A value written by an older version has none, and such a start is judged by its
// parent as before.
bool started_at_login(std::string_view command_line);

// The switch of the run that makes the change with administrator rights: the program asks the
// system to start itself elevated with it, and that run changes the Run value for its own path
// and ends. It opens no window, starts no server and does not count as a second copy. The
// argument comes from a command line that anyone can type, so only the exact forms count.
inline constexpr char kChangeSwitch[] = "-set-autostart";
inline constexpr char kOn[] = "on";
inline constexpr char kOff[] = "off";

enum class Change { None, On, Off, Invalid };

// None: the switch is not there (a normal start). On or Off: the switch and its one argument,
// nothing else. Invalid: the switch with anything else, which must not start a window either.
Change change_request(std::string_view command_line);

// The arguments the program hands to the elevated run.
std::string change_arguments(bool on);

// What the elevated run answers in its exit code.
inline constexpr int kChangeTook = 0;
inline constexpr int kChangeRefused = 1;  // the registry did not take it
inline constexpr int kChangeInvalid = 2;  // no valid request

// The elevated run: the change for program_path, verified by reading it back.
int change(Change request, std::string_view program_path, Registry& registry);

// A change handed to the elevated run, until it ends: the state asked for and the value that was
// there before, to put back should config.ini not take the new state. An undo's own end is not
// reported: its message has been shown already.
struct Elevation {
  bool on = false;
  std::optional<std::string> before;
  bool undo = false;
};

// What the checkbox click handler acts on.
class Ui {
 public:
  virtual ~Ui() = default;
  virtual void show_error(const std::string& text) = 0;
  // Sets the checkbox without raising its click handler.
  virtual void put_back(bool checked) = 0;
  // Records a verified state in config.ini; false when it did not reach the file.
  virtual bool record(bool on) = 0;
  // Greys the checkbox while an elevated run is asked for and runs, or gives it back.
  virtual void hold(bool held) = 0;
  // Has the elevated run for the change asked for, off the window's thread: the consent prompt
  // stands for as long as the user leaves it. False when nothing was asked (the program has the
  // rights already, no thread); else elevated_ended follows on the window's thread.
  virtual bool elevate(const Elevation& change) = 0;
};

// The checkbox was clicked and is now checked or not. A change the registry does not take (no
// rights for the machine's key) goes to the elevated run. A change that config.ini cannot record
// is undone in the registry as well: the box shows what the file holds at the next start, and a
// Run value the file does not know of would start the program at login behind the user's back.
// waiting: an elevated run has not ended yet. The box is greyed then, but a click sent to it
// still arrives (Wine presses a greyed button), and must not ask a second time.
void toggled(bool now_checked, bool waiting, std::string_view program_path, Registry& registry,
             Ui& ui);

// The elevated run for change has ended, or the user declined it, or the system could not start
// it: the registry is read again in every case, so the box shows what it holds.
void elevated_ended(const Elevation& change, std::string_view program_path, Registry& registry,
                    Ui& ui);

}  // namespace autostart
