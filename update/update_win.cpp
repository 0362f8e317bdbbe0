#include "update/update_win.h"

#include <shellapi.h>
#include <wininet.h>

#include <atomic>
#include <memory>
#include <thread>

#include "platform/handles_win.h"
#include "platform/ui_task_win.h"
#include "update/info.h"
#include "update/url.h"

namespace update {

namespace {

constexpr char kProbeAgent[] = "test";
constexpr char kDownloadAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
constexpr char kSendHeaders[] = "Accept: */*\r\n\r\n";
constexpr DWORD kIniBuffer = 10240;

// The download's root handle, opened by the first download and kept for later ones. A worker
// given up at its deadline may still use it beside the next one: it is opened once, and a plain
// value, so that nothing of it is torn down under a worker that still runs when the program ends.
std::atomic<HINTERNET> g_root{nullptr};
// Workers that have not ended, given-up ones included.
std::atomic<int> g_workers{0};

HINTERNET root_handle() {
  if (HINTERNET root = g_root.load()) return root;
  HINTERNET opened =
      InternetOpenA(kDownloadAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!opened) return nullptr;
  HINTERNET expected = nullptr;
  if (g_root.compare_exchange_strong(expected, opened)) return opened;
  InternetCloseHandle(opened);  // another worker was first
  return expected;
}

// Closes the root handle when the program ends, unless a worker still runs: then the process end
// takes it with the worker.
struct RootCloser {
  ~RootCloser() {
    if (g_workers.load() == 0) {
      if (HINTERNET root = g_root.exchange(nullptr)) InternetCloseHandle(root);
    }
  }
} g_root_closer;

const char* skip_blanks(const char* s) {
  while (*s && static_cast<unsigned char>(*s) <= 32) ++s;
  return s;
}

// A network handle of the check, which the watchdog may close first. Empty when the handle could
// not be had, or came after the deadline.
class watched_hinternet {
 public:
  watched_hinternet(DeadlineHandles& handles, HINTERNET handle)
      : handles_(handles), handle_(handles.adopt(handle) ? handle : nullptr) {}
  ~watched_hinternet() {
    if (handle_) handles_.close(handle_);
  }
  watched_hinternet(const watched_hinternet&) = delete;
  watched_hinternet& operator=(const watched_hinternet&) = delete;
  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  DeadlineHandles& handles_;
  const HINTERNET handle_;
};

// Closes the check's handles when its deadline passes. Blocking WinINet calls on them then fail at
// once: a server that trickles a byte before every receive time-out, or a name lookup that takes
// none, cannot hold the check (and the one-check gate) for longer.
class Watchdog {
 public:
  Watchdog(DeadlineHandles& handles, DWORD deadline_ms)
      : done_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    if (!done_) {
      // No watchdog, no network: the worker lets go of the gate when it ends.
      handles.finish();
      return;
    }
    thread_ = std::thread([this, &handles, deadline_ms] {
      // Given up, the check no longer holds the gate: the next one may run.
      if (WaitForSingleObject(done_.get(), deadline_ms) == WAIT_TIMEOUT && handles.expire()) {
        end_check();
      }
    });
  }
  ~Watchdog() {
    if (done_) SetEvent(done_.get());
    if (thread_.joinable()) thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  win::unique_handle done_;
  std::thread thread_;
};

class WinPlatform final : public Platform {
 public:
  explicit WinPlatform(DeadlineHandles& handles) : handles_(handles) {}

  bool probe() override {
    if (!InternetGetConnectedState(nullptr, 0)) return false;
    const watched_hinternet session(
        handles_, InternetOpenA(kProbeAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session || !limit_calls(session.get())) return false;
    const watched_hinternet page(handles_, InternetOpenUrlA(session.get(), address::kProbe, nullptr,
                                                            0, INTERNET_FLAG_RELOAD, 0));
    return static_cast<bool>(page);
  }

  std::string download(const std::string& address) override {
    const std::optional<Url> url = split_url(address);
    if (!url) return {};
    if (handles_.expired()) return {};
    const HINTERNET root = root_handle();
    if (!root) return {};
    const watched_hinternet connection(
        handles_, InternetConnectA(root, url->host.c_str(), static_cast<INTERNET_PORT>(url->port),
                                   url->user.empty() ? nullptr : url->user.c_str(),
                                   url->password.empty() ? nullptr : url->password.c_str(),
                                   INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection || !limit_calls(connection.get())) return {};
    const char* accept[] = {"Accept: */* \r\n", nullptr};
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
    if (url->secure) flags |= INTERNET_FLAG_SECURE;
    const watched_hinternet request(
        handles_, HttpOpenRequestA(connection.get(), "GET", url->path.c_str(), "HTTP/1.0", nullptr,
                                   accept, flags, 0));
    if (!request || !limit_calls(request.get())) return {};
    if (!HttpSendRequestA(request.get(), kSendHeaders, sizeof kSendHeaders - 1, nullptr, 0)) {
      return {};
    }
    // Whatever the server answers is the body, an error page included; a body that is still
    // coming at the deadline is no body.
    std::string body = read_body([&](char* buf, std::size_t cap, std::size_t& got) {
      got = 0;
      if (!limit_calls(request.get())) return false;
      DWORD n = 0;
      const bool ok = InternetReadFile(request.get(), buf, static_cast<DWORD>(cap), &n) != FALSE;
      got = n;
      return ok;
    });
    if (!handles_.finish()) body.clear();
    return body;
  }

  // A check given up at its deadline leaves the files to the checks after it.
  void write_file(const std::string& path, const std::string& bytes) override {
    if (handles_.expired()) return;
    win::unique_file f(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return;
    std::size_t done = 0;
    while (done < bytes.size()) {
      DWORD n = 0;
      if (!WriteFile(f.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n,
                     nullptr) ||
          n == 0) {
        return;
      }
      done += n;
    }
  }

  std::string read_ini(const std::string& path, const char* section, const char* key) override {
    if (handles_.expired()) return {};
    const char* file = skip_blanks(path.c_str());
    section = skip_blanks(section);
    key = skip_blanks(key);
    if (!*file || !*section || !*key) return {};
    std::string buf(kIniBuffer, '\0');
    const DWORD n = GetPrivateProfileStringA(section, key, "", buf.data(), kIniBuffer, file);
    buf.resize(n);
    return buf;
  }

  void delete_file(const std::string& path) override {
    if (!handles_.expired()) DeleteFileA(path.c_str());
  }

 private:
  // Gives the handle's next calls time-outs that end them by the check's deadline (a stalled or
  // trickling server would otherwise hold the one-check gate for hours). False once it has passed.
  bool limit_calls(HINTERNET handle) const {
    const std::uint32_t left = time_left(started_, GetTickCount(), build::kCheckDeadlineMs);
    if (left == 0) return false;
    DWORD timeout = call_timeout(left);
    for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                               INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT,
                               INTERNET_OPTION_DATA_RECEIVE_TIMEOUT}) {
      InternetSetOptionA(handle, option, &timeout, sizeof timeout);
    }
    return true;
  }

  DeadlineHandles& handles_;
  const std::uint32_t started_ = GetTickCount();
};

// Everything a worker uses, owned by the worker: nothing here is destroyed by the program's end.
struct Job {
  HWND window;
  Config config;
  NoticeHandler handler;
};

DWORD WINAPI check_thread(void* param) {
  std::unique_ptr<Job> job(static_cast<Job*>(param));
  // Whoever ends the check lets go of the gate: this worker, or the watchdog at the deadline.
  bool ended_in_time = true;
  // Out of memory at worst: the check stays silent, as every other failure does.
  try {
    DeadlineHandles handles([](void* handle) { InternetCloseHandle(handle); });
    try {
      const Watchdog watchdog(handles, build::kCheckDeadlineMs);
      WinPlatform platform(handles);
      run_check(platform, job->config, [&job](const Notice& notice) {
        ui_task::post(job->window, [handler = job->handler, notice] { handler(notice); });
      });
    } catch (...) {
    }
    ended_in_time = handles.finish();
  } catch (...) {
  }
  job.reset();
  if (ended_in_time) end_check();
  --g_workers;
  return 0;
}

}  // namespace

void open_url(const std::string& url) {
  ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

std::string project_page() { return address::kProjectPage; }

void start_check(HWND ui_window, const std::string& program_dir, const std::string& own_version,
                 const std::string& own_build, NoticeHandler handler) {
  if (!try_begin_check()) return;
  auto job = std::make_unique<Job>(
      Job{ui_window,
          Config{program_dir, own_version, own_build, address::kManifest, address::kProjectPage},
          std::move(handler)});
  ++g_workers;
  win::unique_handle thread(CreateThread(nullptr, 0, check_thread, job.get(), 0, nullptr));
  if (!thread) {
    --g_workers;
    end_check();
    return;
  }
  job.release();  // the worker owns it now; the thread itself is never waited on
}

void show_usage() { open_url(address::kProjectPage); }

void show_about(HWND owner, const std::string& display_version) {
  MessageBoxA(owner, about_text(display_version, address::kProjectPage).c_str(), kAboutCaption,
              MB_OK | MB_TASKMODAL);
}

void donate() {
  open_url(address::kDonationMain);
  open_url(address::kDonationMirror);
}

}  // namespace update
