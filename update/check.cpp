#include "update/check.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <vector>

#include "platform/gbk.h"

namespace update {

namespace {

std::atomic<bool> g_check_running{false};

// The ASCII character a double-byte code page 936 character stands for, or 0.
char ascii_for(unsigned char lead, unsigned char trail) {
  if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) {
    // Row A3 holds the full-width forms in ASCII order, except that two of its places are taken
    // by the full-width yen sign and macron; the dollar sign and tilde live in row A1.
    if (trail == 0xA4 || trail == 0xFE) return 0;
    return static_cast<char>(trail - 0x80);
  }
  if (lead == 0xA1) {
    if (trail == 0xA1) return ' ';  // ideographic space
    if (trail == 0xE7) return '$';
    if (trail == 0xAB) return '~';
  }
  return 0;
}

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

std::string fullwidth_to_ascii(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (gbk::char_width(text, i) == 1) {
      out += text[i];
      continue;
    }
    const auto lead = static_cast<unsigned char>(text[i]);
    const auto trail = static_cast<unsigned char>(text[i + 1]);
    if (const char a = ascii_for(lead, trail)) {
      out += a;
    } else {
      out += text.substr(i, 2);
    }
    ++i;
  }
  return out;
}

int text_to_int(std::string_view text) {
  const std::string s = fullwidth_to_ascii(text);
  std::size_t i = 0;
  while (i < s.size() && is_space(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  long long value = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    value = value * 10 + (s[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) break;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

std::string_view text_view(std::string_view body) {
  const std::size_t zero = body.find('\0');
  return zero == std::string_view::npos ? body : body.substr(0, zero);
}

bool is_newer(std::string_view latest, std::string_view build, std::string_view own_version,
              std::string_view own_build) {
  if (latest.empty() || build.empty()) return false;
  // An equal version text ends the decision before the build numbers are looked at.
  if (latest == own_version) return false;
  return text_to_int(build) > text_to_int(own_build);
}

Notice make_notice(std::string_view latest, std::string_view own_version,
                   std::string_view project_page) {
  Notice n;
  n.balloon_title.append("Rivermesh Tools 发现新版本 v").append(latest).append(" ！");
  n.balloon_text.append("请前往更新：").append(project_page);
  n.window_title.append("Rivermesh Tools    v")
      .append(own_version)
      .append("    发现新版本：v")
      .append(latest);
  return n;
}

bool announce(bool asked, std::string_view build, std::string_view announced) {
  return asked || text_to_int(build) > text_to_int(announced);
}

std::string read_body(const std::function<bool(char*, std::size_t, std::size_t&)>& read) {
  std::string body;
  std::vector<char> buf(4096);
  for (;;) {
    std::size_t got = 0;
    const bool ok = read(buf.data(), buf.size(), got);
    if (got > buf.size()) got = buf.size();
    body.append(buf.data(), got);
    if (body.size() > kMaxManifestBytes) return {};
    if (!ok || got == 0) return body;
  }
}

void run_check(Platform& platform, const Config& config,
               const std::function<void(const Notice&)>& notify) {
  if (!platform.probe()) return;
  const std::string scratch = config.program_dir + "\\" + kScratchName;
  const std::string body = platform.download(config.manifest_url);
  if (!text_view(body).empty()) {
    platform.write_file(scratch, body);
    const std::string latest = platform.read_ini(scratch, kSection, kKeyLatest);
    const std::string build = platform.read_ini(scratch, kSection, kKeyBuild);
    if (is_newer(latest, build, config.own_version, config.own_build) && notify) {
      Notice notice = make_notice(latest, config.own_version, config.project_page);
      notice.build = build;
      notify(notice);
    }
  }
  platform.delete_file(scratch);
}

std::uint32_t time_left(std::uint32_t started, std::uint32_t now, std::uint32_t deadline_ms) {
  // Unsigned subtraction gives the elapsed time across a wrap of the clock.
  const std::uint32_t elapsed = now - started;
  return elapsed >= deadline_ms ? 0 : deadline_ms - elapsed;
}

std::uint32_t call_timeout(std::uint32_t left_ms) {
  return left_ms < kNetworkTimeoutMs ? left_ms : kNetworkTimeoutMs;
}

bool DeadlineHandles::adopt(void* handle) {
  if (handle == nullptr) return false;
  const std::lock_guard<std::mutex> lock(mutex_);
  if (expired_) {
    close_(handle);
    return false;
  }
  open_.push_back(handle);
  return true;
}

void DeadlineHandles::close(void* handle) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto it = std::find(open_.begin(), open_.end(), handle);
  if (it == open_.end()) return;
  open_.erase(it);
  close_(handle);
}

bool DeadlineHandles::expire() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (finished_ || expired_) return false;
  expired_ = true;
  // The newest first: a request before its connection.
  for (auto it = open_.rbegin(); it != open_.rend(); ++it) close_(*it);
  open_.clear();
  return true;
}

bool DeadlineHandles::finish() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (expired_) return false;
  finished_ = true;
  return true;
}

bool DeadlineHandles::expired() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return expired_;
}

bool try_begin_check() { return !g_check_running.exchange(true, std::memory_order_acquire); }
void end_check() { g_check_running.store(false, std::memory_order_release); }
bool check_running() { return g_check_running.load(std::memory_order_acquire); }

}  // namespace update
