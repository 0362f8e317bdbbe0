// Winsock 2 must come before windows.h, and the TCP options after it.
#include <winsock2.h>

#include <ws2tcpip.h>

#include <mstcpip.h>

#include "server/start_lookout_win.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/file_identity.h"
#include "platform/gbk.h"
#include "platform/path_case.h"
#include "platform/program_win.h"
#include "platform/ui_task_win.h"
#include "platform/winsock_win.h"
#include "server/process_win.h"
#include "server/start_rules.h"

namespace server {

struct StartLookout::Shared {
  win::unique_handle port;
  std::atomic<bool> cancelled{false};
};

namespace {

// The completion key of the packet that wakes a cancelled look-out; a job's notices carry the
// job's handle value as their key, never this one.
constexpr ULONG_PTR kCancelKey = ~ULONG_PTR{0};

struct Target {
  std::string server_path;  // the server file as the settings name it
  file_id::Located server;  // what it leads to: located by the look-out's own thread
  std::string host;
  std::string port;
};

// Whether the process runs the server file; nothing while its path cannot be read. Windows gives
// the image path with links resolved: the file's identity decides, the name first sorting out the
// shell and whatever else runs in the job.
std::optional<bool> runs_server(HANDLE process, const Target& target) {
  const std::optional<std::string> image = proc::image_path_of(process);
  if (!image) return std::nullopt;
  if (!path_case::same(gbk::name_part(*image), gbk::name_part(target.server.listed))) return false;
  return file_id::same_file(program::locate(*image), target.server);
}

// Processes the job reported whose path could not be read yet (a process under a loaded machine
// takes a while to come up): tried again at each tick while they run. A handful at most.
class Unread {
 public:
  void add(DWORD pid, std::shared_ptr<win::unique_handle> process) {
    if (entries_.size() < kMost) entries_.push_back({pid, std::move(process)});
  }
  std::optional<StartLookout::Sighting> retry(const Target& target);

 private:
  static constexpr std::size_t kMost = 8;
  std::vector<StartLookout::Sighting> entries_;
};

std::optional<StartLookout::Sighting> Unread::retry(const Target& target) {
  for (auto it = entries_.begin(); it != entries_.end();) {
    const std::optional<bool> server = runs_server(it->process->get(), target);
    if (server.value_or(false)) {
      StartLookout::Sighting seen = std::move(*it);
      entries_.erase(it);
      return seen;
    }
    if (server || ::WaitForSingleObject(it->process->get(), 0) == WAIT_OBJECT_0) {
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
  return std::nullopt;
}

// The process with that id when it is the server; patient: the job reports a new process a moment
// before its path can be read. unread, when given, keeps a process whose path is not readable yet.
std::optional<StartLookout::Sighting> sighting(DWORD pid, const Target& target, bool patient,
                                               Unread* unread = nullptr) {
  auto process = std::make_shared<win::unique_handle>(
      ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!*process) return std::nullopt;
  const DWORD begun = ::GetTickCount();
  for (;;) {
    if (const std::optional<bool> server = runs_server(process->get(), target)) {
      if (!*server) return std::nullopt;
      return StartLookout::Sighting{pid, std::move(process)};
    }
    if (!patient || ::GetTickCount() - begun >= start::kImagePathMostMs) {
      if (unread != nullptr) unread->add(pid, std::move(process));
      return std::nullopt;
    }
    ::Sleep(start::kImagePathRetryMs);
  }
}

// Every process in the job now; without a job, the server found in the process list.
std::optional<StartLookout::Sighting> look_around(HANDLE job, const Target& target) {
  if (job == nullptr) {
    const DWORD pid = proc::find_by_path(target.server_path);
    return pid != 0 ? sighting(pid, target, false) : std::nullopt;
  }
  constexpr DWORD kMostIds = 64;
  struct {
    JOBOBJECT_BASIC_PROCESS_ID_LIST list;
    ULONG_PTR more[kMostIds - 1];
  } ids{};
  // With more processes than room, the call fails but lists as many as fit.
  if (!::QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof ids, nullptr) &&
      ::GetLastError() != ERROR_MORE_DATA) {
    return std::nullopt;
  }
  const DWORD listed = std::min<DWORD>(ids.list.NumberOfProcessIdsInList, kMostIds);
  for (DWORD i = 0; i < listed; ++i) {
    const ULONG_PTR* all = ids.list.ProcessIdList;
    if (auto seen = sighting(static_cast<DWORD>(all[i]), target, false)) return seen;
  }
  return std::nullopt;
}

enum class Woken { kTimeUp, kCancelled, kNewProcess };

// Waits up to ms for the job's next notice of a new process; pid is its id.
Woken wait_on(HANDLE port, DWORD ms, const std::atomic<bool>& cancelled, DWORD& pid) {
  const DWORD until = ::GetTickCount() + ms;
  for (;;) {
    if (cancelled) return Woken::kCancelled;
    const auto left = static_cast<long>(until - ::GetTickCount());
    if (left <= 0) return Woken::kTimeUp;
    if (port == nullptr) {
      ::Sleep(static_cast<DWORD>(left));
      continue;
    }
    DWORD message = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED data = nullptr;
    if (!::GetQueuedCompletionStatus(port, &message, &key, &data, static_cast<DWORD>(left))) {
      // A time-out, or a port that fails: the rest of the wait without it.
      if (::GetLastError() != WAIT_TIMEOUT) port = nullptr;
      continue;
    }
    if (key == kCancelKey) return Woken::kCancelled;
    if (message == JOB_OBJECT_MSG_NEW_PROCESS) {
      pid = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(data));
      return Woken::kNewProcess;
    }
  }
}

// One knock: whether a TCP connection to the address is accepted within kKnockMostMs.
bool knock(const sockaddr* address, int length, int family) {
  const SOCKET s = ::socket(family, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return false;
  struct Closer {
    SOCKET s;
    ~Closer() { ::closesocket(s); }
  } closer{s};
  u_long non_blocking = 1;
  if (::ioctlsocket(s, FIONBIO, &non_blocking) != 0) return false;
  // Windows retries a refused loopback connect for about two seconds unless told not to; each
  // knock stands alone instead. Where the option is missing the knock's own time-out holds.
  TCP_INITIAL_RTO_PARAMETERS rto{TCP_INITIAL_RTO_UNSPECIFIED_RTT,
                                 TCP_INITIAL_RTO_NO_SYN_RETRANSMISSIONS};
  DWORD returned = 0;
  ::WSAIoctl(s, SIO_TCP_INITIAL_RTO, &rto, sizeof rto, nullptr, 0, &returned, nullptr, nullptr);
  if (::connect(s, address, length) == 0) return true;
  if (::WSAGetLastError() != WSAEWOULDBLOCK) return false;
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(s, &writable);
  FD_SET(s, &failed);
  timeval most{0, static_cast<long>(start::kKnockMostMs) * 1000};
  // Either set holds the socket now; the socket's own error says which.
  if (::select(0, nullptr, &writable, &failed, &most) <= 0) return false;
  int error = 0;
  int size = sizeof error;
  return ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
         error == 0;
}

bool answers(const Target& target) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  if (::getaddrinfo(target.host.c_str(), target.port.c_str(), &hints, &found) != 0) return false;
  bool answered = false;
  for (const addrinfo* a = found; a != nullptr && !answered; a = a->ai_next) {
    answered = knock(a->ai_addr, static_cast<int>(a->ai_addrlen), a->ai_family);
  }
  ::freeaddrinfo(found);
  return answered;
}

void look_out(std::shared_ptr<StartLookout::Shared> shared, win::unique_handle job, Target target,
              HWND window, std::function<void(const StartLookout::Sighting&)> appeared,
              std::function<void()> answered) noexcept {
  try {
    target.server = program::locate(target.server_path);
    const win::WinsockSession winsock;
    const DWORD begun = ::GetTickCount();
    bool seen = false;
    Unread unread;
    const auto report = [&](std::optional<StartLookout::Sighting> found) {
      if (!found || shared->cancelled) return;
      seen = true;
      ui_task::post(window, [appeared, sighting = std::move(*found)] { appeared(sighting); });
    };
    // A server of this file that runs already (started elsewhere) is the one the start finds:
    // the script's own would fail on the port it holds.
    report(sighting(proc::find_by_path(target.server_path), target, false));
    while (!shared->cancelled) {
      const DWORD since = ::GetTickCount() - begun;
      if (since >= start::kLookoutMostMs) return;
      const DWORD wait = start::next_look_ms(since);
      if (seen) {
        // Whose listener answered is not asked: reading the system's tables with their owners
        // can take seconds on a loaded machine, longer than a short-lived server runs, and the
        // start's port check has named any other program on the port already (another copy's
        // server too), wherever the system names the owners.
        if (winsock.ready() && answers(target)) {
          ui_task::post(window, answered);
          return;
        }
        DWORD unused = 0;
        while (wait_on(shared->port.get(), wait, shared->cancelled, unused) == Woken::kNewProcess) {
        }
        continue;
      }
      // The job's notice comes as the process starts; the look at the job's list at each tick
      // covers a notice the system did not deliver.
      DWORD pid = 0;
      std::optional<StartLookout::Sighting> found;
      switch (wait_on(shared->port.get(), wait, shared->cancelled, pid)) {
        case Woken::kCancelled:
          return;
        case Woken::kNewProcess:
          found = sighting(pid, target, true, &unread);
          break;
        case Woken::kTimeUp:
          found = unread.retry(target);
          if (!found) found = look_around(job.get(), target);
          break;
      }
      report(std::move(found));
    }
  } catch (const std::exception&) {
    // Out of memory: the look-out ends; the window's bounds decide the start.
  }
}

}  // namespace

HANDLE StartLookout::prepare() {
  cancel();
  try {
    shared_ = std::make_shared<Shared>();
  } catch (const std::exception&) {
    return nullptr;
  }
  shared_->port.reset(::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
  return shared_->port.get();
}

void StartLookout::begin(HANDLE job, const std::string& server_path, std::string host,
                         std::string port, HWND window,
                         std::function<void(const Sighting&)> appeared,
                         std::function<void()> answered) {
  if (!shared_) return;
  // The look-out's own handle to the job: the console may release its own meanwhile.
  win::unique_handle own_job;
  if (job != nullptr) {
    ::DuplicateHandle(::GetCurrentProcess(), job, ::GetCurrentProcess(), own_job.put(),
                      JOB_OBJECT_QUERY, FALSE, 0);
  }
  try {
    Target target{server_path, {}, std::move(host), std::move(port)};
    std::thread(look_out, shared_, std::move(own_job), std::move(target), window,
                std::move(appeared), std::move(answered))
        .detach();
  } catch (const std::exception&) {
    // No thread: nothing is reported, and the window's bound ends the start.
  }
}

void StartLookout::cancel() {
  if (!shared_) return;
  shared_->cancelled = true;
  if (shared_->port) ::PostQueuedCompletionStatus(shared_->port.get(), 0, kCancelKey, nullptr);
  shared_.reset();
}

}  // namespace server
