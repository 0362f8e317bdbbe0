// Stand-in server for demos and tests: listens where the tool's launch script says and answers
// every request with a page that says what it is. One connection at a time is plenty here.
// Tests choose a misbehaviour (a flood of output, random bytes, an early exit, an answer to
// Ctrl+C) through the environment; see standin_rules.h.
// Winsock 2 must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "platform/handles_win.h"
#include "tools/standin/standin_rules.h"

namespace {

struct close_socket {
  void operator()(SOCKET s) const { ::closesocket(s); }
};
using unique_socket = win::unique_any<SOCKET, INVALID_SOCKET, close_socket>;

// Per-read and whole-request limits, so a client that stalls cannot hold the loop.
constexpr DWORD kReadTimeoutMs = 5000;
constexpr DWORD kRequestDeadlineMs = 10000;
constexpr DWORD kDrainTimeoutMs = 1000;

// Test bytes go out in blocks this large, each flushed, as a busy server's output would.
constexpr std::size_t kWriteBlock = 64 * 1024;

class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data;
    ok_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  ~WinsockSession() {
    if (ok_) ::WSACleanup();
  }
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

// The output is read through a pipe by the tool, which shows it as it comes: flush every line.
void print_line(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Browsers send Basic credentials in UTF-8 nowadays, older ones in the local code page; the
// command line gives them in the local code page. Accept both spellings.
std::vector<std::string> accepted_credentials(const std::string& local) {
  std::vector<std::string> accepted{local};
  const int wide_len =
      ::MultiByteToWideChar(CP_ACP, 0, local.data(), static_cast<int>(local.size()), nullptr, 0);
  if (wide_len <= 0) return accepted;
  std::wstring wide(static_cast<std::size_t>(wide_len), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, local.data(), static_cast<int>(local.size()), wide.data(),
                        wide_len);
  const int utf8_len =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_len, nullptr, 0, nullptr, nullptr);
  if (utf8_len <= 0) return accepted;
  std::string utf8(static_cast<std::size_t>(utf8_len), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_len, utf8.data(), utf8_len, nullptr, nullptr);
  if (utf8 != local) accepted.push_back(std::move(utf8));
  return accepted;
}

void set_timeout(SOCKET s, int option, DWORD ms) {
  ::setsockopt(s, SOL_SOCKET, option, reinterpret_cast<const char*>(&ms), sizeof ms);
}

std::string read_head(SOCKET s) {
  std::string received;
  char buffer[2048];
  const DWORD started = ::GetTickCount();
  while (standin::head_length(received) == 0 && received.size() <= standin::kMaxHeadBytes &&
         ::GetTickCount() - started < kRequestDeadlineMs) {
    const int n = ::recv(s, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    received.append(buffer, static_cast<std::size_t>(n));
  }
  return received;
}

void send_all(SOCKET s, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const int n = ::send(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

// Closing with unread bytes pending makes Windows reset the connection, which can destroy the
// answer before the client reads it; so finish sending, then read what is left for a moment.
void close_gracefully(SOCKET s) {
  ::shutdown(s, SD_SEND);
  set_timeout(s, SO_RCVTIMEO, kDrainTimeoutMs);
  char buffer[2048];
  for (int i = 0; i < 32 && ::recv(s, buffer, sizeof buffer, 0) > 0; ++i) {
  }
}

std::string environment(const char* name) {
  const DWORD needed = ::GetEnvironmentVariableA(name, nullptr, 0);
  if (needed == 0) return {};
  std::string value(needed, '\0');
  const DWORD got = ::GetEnvironmentVariableA(name, value.data(), needed);
  value.resize(got < needed ? got : 0);
  return value;
}

double now_ms() {
  LARGE_INTEGER frequency, count;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&count);
  return static_cast<double>(count.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// Writes the test bytes unchanged (binary mode: no LF to CR LF translation, no end at 0x1A);
// the console lines around them keep the text mode. Answers the milliseconds spent writing, or
// nothing when the reader went away before it had everything.
std::optional<std::uint64_t> write_raw(const std::string& bytes) {
  std::fflush(stdout);
  const int previous = ::_setmode(::_fileno(stdout), _O_BINARY);
  const double started = now_ms();
  bool complete = true;
  for (std::size_t at = 0; at < bytes.size() && complete; at += kWriteBlock) {
    const std::size_t n = std::min(kWriteBlock, bytes.size() - at);
    complete = std::fwrite(bytes.data() + at, 1, n, stdout) == n && std::fflush(stdout) == 0;
  }
  const double elapsed = now_ms() - started;
  if (previous != -1) ::_setmode(::_fileno(stdout), previous);
  if (!complete) return std::nullopt;
  return static_cast<std::uint64_t>(elapsed + 0.5);
}

void write_report(const std::string& path, const std::string& line) {
  win::unique_file file(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (!file ||
      !::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) {
    print_line("无法写入报告文件：" + path);
  }
}

// The flood or random bytes and the line that ends them. A benchmark reads the report only
// when everything was written, so a short write leaves none.
void write_test_output(const standin::TestMode& mode) {
  const bool flood = mode.kind == standin::TestMode::Kind::Flood;
  const std::string bytes =
      flood ? standin::flood_text(mode.bytes) : standin::random_bytes(mode.bytes, mode.seed);
  const auto write_ms = write_raw(bytes);
  if (!write_ms) return;
  // Random bytes end anywhere; the end line must still be a line of its own.
  if (!flood) print_line("");
  print_line(flood ? standin::kFloodEnd : standin::kRandomEnd);
  const std::string report = environment(standin::kReportVariable);
  if (!report.empty()) write_report(report, standin::report_line(*write_ms));
}

// What the Ctrl+C handler needs; set before it is installed, read only afterwards.
std::string g_report_path;
DWORD g_shutdown_ms = 0;

// Runs on a thread the console starts for the event, while the main thread goes on serving.
BOOL WINAPI end_on_ctrl_c(DWORD event) {
  if (event != CTRL_C_EVENT) return FALSE;
  print_line("收到 Ctrl+C，替身服务正在退出。");
  ::Sleep(g_shutdown_ms);  // the work a real server does before it may end
  if (!g_report_path.empty()) write_report(g_report_path, standin::kInterruptedReport);
  ::ExitProcess(0);
}

BOOL WINAPI ignore_ctrl_c(DWORD event) {
  if (event != CTRL_C_EVENT) return FALSE;
  print_line("收到 Ctrl+C，替身服务不予理会。");
  return TRUE;
}

// True when a connection is waiting; false once the deadline passed (never without one).
bool wait_for_client(SOCKET listener, std::optional<DWORD> deadline) {
  if (!deadline) return true;
  while (true) {
    const DWORD now = ::GetTickCount();
    if (static_cast<LONG>(*deadline - now) <= 0) return false;
    const DWORD left = *deadline - now;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener, &readable);
    timeval timeout{static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
    if (::select(0, &readable, nullptr, nullptr, &timeout) > 0) return true;
  }
}

void serve(SOCKET s, const standin::Options& options, const std::vector<std::string>& accepted) {
  set_timeout(s, SO_RCVTIMEO, kReadTimeoutMs);
  set_timeout(s, SO_SNDTIMEO, kReadTimeoutMs);
  const auto answer = standin::answer_for(read_head(s), options.access_control, accepted);
  if (!answer) return;
  send_all(s, standin::build_response(answer->status));
  close_gracefully(s);
  if (options.log_requests) {
    print_line(standin::request_log_line(answer->method, answer->target, answer->status));
  }
}

// The listening socket, or an exit code after saying why there is none.
int open_listener(const standin::Options& options, unique_socket& listener) {
  listener.reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!listener) {
    print_line(standin::listen_failed_line(options, false, ::WSAGetLastError()));
    return standin::kExitNetworkFailed;
  }
  // Without exclusive use a second server could bind the same port and steal connections.
  BOOL exclusive = TRUE;
  ::setsockopt(listener.get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
               reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = ::htons(options.port);
  address.sin_addr.s_addr = ::htonl(options.ipv4);
  if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener.get(), SOMAXCONN) != 0) {
    const int error = ::WSAGetLastError();
    const bool in_use = error == WSAEADDRINUSE || error == WSAEACCES;
    print_line(standin::listen_failed_line(options, in_use, error));
    return standin::kExitListenFailed;
  }
  return 0;
}

int run() {
  std::vector<std::string> args = standin::split_command_line(::GetCommandLineA());
  args.erase(args.begin());
  const standin::ParsedArguments parsed = standin::parse_arguments(args);
  if (!parsed.options) {
    print_line(parsed.error);
    print_line(standin::usage_line());
    return standin::kExitBadArguments;
  }
  const standin::Options& options = *parsed.options;
  const standin::ParsedMode mode = standin::parse_test_mode(environment(standin::kModeVariable));
  if (!mode.mode) {
    print_line(mode.error);
    return standin::kExitBadArguments;
  }
  WinsockSession winsock;
  if (!winsock.ok()) {
    print_line(standin::listen_failed_line(options, false, ::WSAGetLastError()));
    return standin::kExitNetworkFailed;
  }
  // A server that is slow to come up, or stuck before its web port.
  if (mode.mode->kind == standin::TestMode::Kind::NoListen) {
    for (;;) ::Sleep(INFINITE);
  }
  if (mode.mode->kind == standin::TestMode::Kind::Fail) {
    return static_cast<int>(mode.mode->exit_code);
  }
  if (mode.mode->kind == standin::TestMode::Kind::ListenAfter) ::Sleep(mode.mode->delay_ms);
  unique_socket listener;
  if (const int code = open_listener(options, listener)) return code;
  const std::vector<std::string> accepted = accepted_credentials(options.credentials);
  print_line(standin::start_line(options));
  // The "server ends by itself" fault: it comes between requests, never inside one.
  std::optional<DWORD> deadline;
  switch (mode.mode->kind) {
    case standin::TestMode::Kind::Flood:
    case standin::TestMode::Kind::Random:
      write_test_output(*mode.mode);
      break;
    case standin::TestMode::Kind::Exit:
      deadline = ::GetTickCount() + mode.mode->delay_ms;
      break;
    case standin::TestMode::Kind::CtrlCExit:
      g_report_path = environment(standin::kReportVariable);
      g_shutdown_ms = mode.mode->delay_ms;
      ::SetConsoleCtrlHandler(end_on_ctrl_c, TRUE);
      break;
    case standin::TestMode::Kind::CtrlCIgnore:
      ::SetConsoleCtrlHandler(ignore_ctrl_c, TRUE);
      break;
    case standin::TestMode::Kind::Serve:
    case standin::TestMode::Kind::ListenAfter:
    case standin::TestMode::Kind::NoListen:
    case standin::TestMode::Kind::Fail:
      break;
  }
  while (true) {
    if (!wait_for_client(listener.get(), deadline)) return static_cast<int>(mode.mode->exit_code);
    unique_socket client(::accept(listener.get(), nullptr, nullptr));
    if (client) {
      serve(client.get(), options, accepted);
    } else {
      ::Sleep(50);  // out of resources: do not spin while they come back
    }
  }
}

}  // namespace

int main() {
  try {
    return run();
  } catch (const std::exception&) {
    print_line("替身服务内部错误，已退出。");
    return 1;
  }
}
