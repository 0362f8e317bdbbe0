// The update check: whether the maker's manifest announces a newer release, and what the user is
// then shown. The network and the files are reached through Platform, so that every rule here
// runs without Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace update {

inline constexpr char kSection[] = "Rivermesh Tools";
inline constexpr char kKeyLatest[] = "最新版本";
inline constexpr char kKeyBuild[] = "版本号";
inline constexpr char kScratchName[] = "Ver.ini";

// A manifest is a few lines; a body larger than this is no manifest and counts as a failed
// download, so that a wrong or hostile server cannot make the program read without end.
inline constexpr std::size_t kMaxManifestBytes = 64 * 1024;

// One check, from the probe to the last byte of the manifest, takes at most this long however
// slowly a server answers or trickles: the one-check gate is held no longer than that.
inline constexpr std::uint32_t kCheckDeadlineMs = 60000;
// The longest a connection, a send or a wait for bytes may take within that.
inline constexpr std::uint32_t kNetworkTimeoutMs = 20000;

// Milliseconds left of a check that started at `started`, 0 once the deadline has passed. Both are
// tick counts of a 32-bit millisecond clock, which wraps after 49.7 days.
std::uint32_t time_left(std::uint32_t started, std::uint32_t now,
                        std::uint32_t deadline_ms = kCheckDeadlineMs);

// The time-out to give the next network call: the usual one, or what is left when that is less.
std::uint32_t call_timeout(std::uint32_t left_ms);

// The network handles of one check, which a watchdog closes at the deadline: a blocking call on a
// handle that is closed returns at once (Windows), where a server that trickles a byte now and
// then would hold a read, or a name lookup would hold the send, far beyond every time-out. Where
// a closed handle does not end the call (Wine), the check is given up all the same: the deadline
// ends the check, and its worker, whenever its call returns, touches nothing more. Each handle is
// closed once, by whichever side comes first; handles are opaque values here.
class DeadlineHandles {
 public:
  using Closer = std::function<void(void* handle)>;
  explicit DeadlineHandles(Closer close) : close_(std::move(close)) {}
  DeadlineHandles(const DeadlineHandles&) = delete;
  DeadlineHandles& operator=(const DeadlineHandles&) = delete;

  // Puts a handle under watch. Past the deadline it is closed at once instead, and false says so.
  bool adopt(void* handle);
  // Closes a handle under watch, unless the watchdog has closed it already.
  void close(void* handle);
  // The deadline: every handle under watch is closed, unless the network part was finished in
  // time. True when the check was given up, which happens once.
  bool expire();
  // The network part is over: true when in time, false when the check was given up. Exactly one
  // of expire and finish answers true, so that exactly one side lets go of the one-check gate.
  bool finish();
  bool expired() const;

 private:
  const Closer close_;
  mutable std::mutex mutex_;
  std::vector<void*> open_;
  bool expired_ = false;
  bool finished_ = false;
};

// Full-width forms of ASCII characters in code page 936 (and the ideographic space) become their
// ASCII counterparts; every other byte and character is kept.
std::string fullwidth_to_ascii(std::string_view text);

// The leading integer as atoi reads it, after the full-width conversion: white space skipped,
// an optional sign, digits up to the first other character; no digits give 0. Values beyond the
// int range are held at its ends.
int text_to_int(std::string_view text);

// The bytes up to the first zero byte, or all of them.
std::string_view text_view(std::string_view body);

// latest and build are the manifest's values; own_* the program's display version and build.
bool is_newer(std::string_view latest, std::string_view build, std::string_view own_version,
              std::string_view own_build);

struct Notice {
  std::string balloon_title;
  std::string balloon_text;
  std::string window_title;
  std::string build;  // the manifest's 版本号, as it came
};

Notice make_notice(std::string_view latest, std::string_view own_version,
                   std::string_view project_page);

// Whether a check's newer build gets its balloon: always when the user asked for the check; else
// only a build beyond the one announced last (announced: as recorded, empty for none).
bool announce(bool asked, std::string_view build, std::string_view announced);

// Reads a response body chunk by chunk. read fills at most cap bytes, sets got and answers
// false when the read failed; a read of 0 bytes ends the body. What arrived before a failed read
// is kept. A body over kMaxManifestBytes gives an empty result.
std::string read_body(
    const std::function<bool(char* buf, std::size_t cap, std::size_t& got)>& read);

class Platform {
 public:
  virtual ~Platform() = default;
  virtual bool probe() = 0;
  // The body, or empty on any failure.
  virtual std::string download(const std::string& url) = 0;
  virtual void write_file(const std::string& path, const std::string& bytes) = 0;
  // Empty when the file, section or key is missing.
  virtual std::string read_ini(const std::string& path, const char* section, const char* key) = 0;
  virtual void delete_file(const std::string& path) = 0;
};

struct Config {
  std::string program_dir;  // without a trailing backslash
  std::string own_version;
  std::string own_build;
  std::string manifest_url;
  std::string project_page;
};

// One check from the probe to deleting the scratch file; notify runs when a newer release is
// announced, before the scratch file goes.
void run_check(Platform& platform, const Config& config,
               const std::function<void(const Notice&)>& notify);

// One check at a time: two would share the scratch file and could delete it under each other.
// A request while one runs is dropped.
bool try_begin_check();
void end_check();
bool check_running();

}  // namespace update
