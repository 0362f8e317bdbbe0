// The launch settings kept in config.ini next to the program: keys, defaults and the rules for
// reading and writing them. The controls of the main window hold the live values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace settings {

inline constexpr char kFileName[] = "config.ini";
inline constexpr char kServerExe[] = "rivermesh_windows_amd64.exe";

inline constexpr char kBasis[] = "BasisConfig";
inline constexpr char kServer[] = "ServerConfig";
inline constexpr char kFile[] = "File";
inline constexpr char kWebPort[] = "Web port";
inline constexpr char kRun[] = "Run";
inline constexpr char kIp[] = "IP";
inline constexpr char kUser[] = "User";
inline constexpr char kPassword[] = "Password";
inline constexpr char kAccessControl[] = "Access control";
// The switches of the tray menu's "设置", each written at once by its entry and read anew where it
// acts: absent, or anything but "false", is on. "Auto restart" may be edited by hand as before.
inline constexpr char kUpdateCheck[] = "Update check";
inline constexpr char kAutoRestart[] = "Auto restart";
inline constexpr char kNotices[] = "Notices";
// The build (the manifest's 版本号, as it came) whose newer-release balloon was last shown.
inline constexpr char kAnnouncedBuild[] = "Announced build";

inline constexpr char kDefaultPort[] = "8888";
inline constexpr char kDefaultIp[] = "0.0.0.0";
inline constexpr char kFalse[] = "false";
inline constexpr char kTrue[] = "true";

// Shown when config.ini is there but cannot be read; the run then starts nothing and writes
// nothing to it, so that the settings it holds are neither replaced by the defaults nor ignored
// by a server started without them.
inline constexpr char kUnreadable[] = "无法读取配置文件 config.ini，请检查后重新启动。";
// Shown once for a save, a field's write-back or a "开机启动" record that did not reach the file.
inline constexpr char kSaveFailed[] = "保存配置失败！";
inline constexpr char kErrorCaption[] = "错误";

// A value is read into a buffer of this size, so one byte less of it is used.
inline constexpr std::size_t kValueBuffer = 10240;

struct Values {
  std::string file;
  std::string web_port;
  std::string ip;
  std::string user;
  std::string password;
  bool run = false;
  bool access_control = false;
};

// Where the settings come from: a key that is missing answers the given default.
class Source {
 public:
  virtual ~Source() = default;
  virtual std::string read(const char* section, const char* key, const char* fallback) = 0;
  virtual bool exists(const std::string& path) = 0;
};

// What the system answered about config.ini: whether looking it up found something (else the
// error it gave), whether that is a folder, whether it opened for reading (else the error), and
// the error reading its bytes gave (0 when they were read).
struct FileProbe {
  bool found = false;
  std::uint32_t lookup_error = 0;
  bool folder = false;
  bool opened = false;
  std::uint32_t open_error = 0;
  std::uint32_t read_error = 0;
};

// The system's errors that mean "not there".
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
// The errors of a file another program holds without sharing it, or holds a lock in: a backup or
// sync tool, an editor saving. Such a hold is mostly over in moments.
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorLockViolation = 33;

enum class FileState { Missing, Readable, Unreadable };

// Only "not there" is a missing file: a file held open without sharing, one the user may not
// read, a folder of that name or any other error is one that cannot be read.
FileState file_state(const FileProbe& probe);

bool held_by_another(std::uint32_t error);

// How long a held config.ini is tried again before it counts as held for good: long enough for
// a backup tool's moment, short enough that a start at login still feels immediate.
inline constexpr std::uint32_t kHeldWaitMs = 1500;
inline constexpr std::uint32_t kFirstPauseMs = 5;
inline constexpr std::uint32_t kLongestPauseMs = 100;

// Runs attempt (which answers 0 or the system's error) until it answers anything but a hold, or
// the pauses between the tries add up to kHeldWaitMs; pause(ms) waits. Answers the last answer.
template <class Attempt, class Pause>
std::uint32_t try_while_held(Attempt&& attempt, Pause&& pause) {
  std::uint32_t waited = 0;
  std::uint32_t next = kFirstPauseMs;
  for (;;) {
    const std::uint32_t error = attempt();
    if (!held_by_another(error) || waited >= kHeldWaitMs) return error;
    pause(next);
    waited += next;
    next = next * 2 < kLongestPauseMs ? next * 2 : kLongestPauseMs;
  }
}

// Shown instead of kUnreadable when a value read from a UTF-8 or UTF-16 file holds a character
// that code page 936 has not got: the program could only guess it.
std::string not_gbk_message(std::string_view key);

// Whether a key is absent, as opposed to present with an empty value.
bool key_missing(Source& source, const char* section, const char* key);

// Only the exact text "false" means off; anything else, an empty text included, means on.
bool flag_from_text(std::string_view text);
const char* flag_text(bool on);

// What a stored value may hold: at most kValueBuffer - 1 bytes, ending on a whole character.
std::string stored_value(std::string_view raw);

// The blanks the profile functions strip around names and values: those of isspace, and Ctrl+Z
// (an end-of-file mark some old editors leave). No second byte of a GBK character is one.
inline bool profile_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == '\x1A'; }

// The form a value is written in so that reading it gives it back: the profile reader strips
// blanks around a value and one pair of matching quotes, so a value that starts or ends with a
// blank, or stands between such a pair, goes inside double quotes (which the reader removes
// again). Every other value is written as it is, as before.
std::string written_value(std::string_view value);

std::string settings_path(std::string_view program_dir);
std::string default_server_path(std::string_view program_dir);

// The file location after the fallback: the path next to the program replaces an empty or
// missing configured path when it exists itself; otherwise the configured text stays.
bool use_default_path(std::string_view configured, bool configured_exists, bool default_exists);

// Reads every key in the loader's order, with defaults and the file fallback applied.
// read_file, when given, receives the path as read, before the fallback.
Values load(Source& source, std::string_view program_dir, std::string* read_file = nullptr);

// Whether a server that ends by itself is started again (the "Auto restart" key), from a file read
// as state: a file that could not be read says nothing, and nothing is started on nothing.
enum class AutoRestart { On, Off, Unreadable };
AutoRestart auto_restart(FileState state, Source& source);

enum class Switch { UpdateCheck, AutoRestart, Notices };
const char* switch_key(Switch which);

// The switches from a file read as state; none when it could not be read.
struct Switches {
  bool update_check = true;
  bool auto_restart = true;
  bool notices = true;
  bool on(Switch which) const;
};
std::optional<Switches> switches(FileState state, Source& source);

struct Entry {
  const char* section;
  const char* key;
  std::string value;
};

// Everything "save" writes, in the order it writes it.
std::vector<Entry> save_entries(const Values& values);

// Accepts a dropped text only when its name part is exactly the server executable's name.
bool accepts_dropped(std::string_view dropped_text);

}  // namespace settings
