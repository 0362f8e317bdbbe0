// The update check against a web server of the test's own on 127.0.0.1, run by the test build of
// the program (its probe and manifest addresses point there), and the help menu's entries.
// Winsock's header must come before the one of Windows.
#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/layout.h"
#include "tests/e2e/browser.h"
#include "tests/support/harness.h"
#include "tray/notify_record.h"

using namespace e2e;

E2E_HOLDS_TEST_PORT(UpdateCheck);
E2E_HOLDS_TEST_PORT(HelpMenu);

namespace {

constexpr char kTitle[] = "Rivermesh Tools    v1.0.2";

std::string manifest(const std::string& latest, const std::string& build) {
  return "[Rivermesh Tools]\r\n最新版本=" + latest + "\r\n版本号=" + build + "\r\n";
}

std::string notice_title(const std::string& latest) {
  return std::string(kTitle) + "    发现新版本：v" + latest;
}

// Answers the probe (any other path) with a page and the manifest ("/Ver.ini") with what the
// test set, or holds the manifest request unanswered until the server stops, or trickles an
// answer whose head never ends: one byte a second, far within every receive time-out.
class WebServer {
 public:
  enum class Manifest { Answer, Hold, Trickle };

  WebServer() {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    BOOL on = TRUE;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(RMT_TEST_PORT);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    listening_ = bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                 listen(listener_, 8) == 0;
    if (listening_) thread_ = std::thread([this] { serve(); });
  }

  ~WebServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    closesocket(listener_);
    for (SOCKET s : held_) closesocket(s);
    for (SOCKET s : trickled_) closesocket(s);
    WSACleanup();
  }

  bool listening() const { return listening_; }

  void set(Manifest manifest, const std::string& response = "") {
    std::lock_guard<std::mutex> lock(mutex_);
    manifest_ = manifest;
    response_ = response;
  }
  void answer(const std::string& body, const std::string& status = "200 OK") {
    set(Manifest::Answer, "HTTP/1.0 " + status + "\r\nContent-Type: text/plain\r\n\r\n" + body);
  }

  int probes() const { return probes_; }
  int manifests() const { return manifests_; }
  std::vector<std::string> request_lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  void serve() {
    DWORD last_trickle = GetTickCount();
    while (!stop_) {
      if (GetTickCount() - last_trickle >= 1000) {
        last_trickle = GetTickCount();
        for (SOCKET s : trickled_) send(s, "a", 1, 0);
      }
      fd_set ready;
      FD_ZERO(&ready);
      FD_SET(listener_, &ready);
      timeval tick{0, 50 * 1000};
      if (select(0, &ready, nullptr, nullptr, &tick) <= 0) continue;
      SOCKET s = accept(listener_, nullptr, nullptr);
      if (s == INVALID_SOCKET) continue;
      handle(s);
    }
  }

  void handle(SOCKET s) {
    DWORD timeout_ms = 5000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout_ms),
               sizeof timeout_ms);
    std::string request;
    char buf[2048];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const int n = recv(s, buf, sizeof buf, 0);
      if (n <= 0) break;
      request.append(buf, n);
    }
    const std::string line = request.substr(0, request.find("\r\n"));
    const bool is_manifest = line.find(" /Ver.ini ") != std::string::npos;
    std::string response;
    bool hold = false;
    bool trickle = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(line);
      if (is_manifest) {
        hold = manifest_ == Manifest::Hold;
        trickle = manifest_ == Manifest::Trickle;
        response = response_;
      } else {
        response = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html>ok</html>";
      }
    }
    // Counted once the answer is decided, so that a test that waits for a count sees the
    // settings that were in force for it.
    if (hold || trickle) {
      if (trickle) {
        const char head[] = "HTTP/1.0 200 OK\r\nX-Slow: ";
        send(s, head, sizeof head - 1, 0);
      }
      (trickle ? trickled_ : held_).push_back(s);
      ++manifests_;
      return;
    }
    for (std::size_t sent = 0; sent < response.size();) {
      const int n = send(s, response.data() + sent, static_cast<int>(response.size() - sent), 0);
      if (n <= 0) break;
      sent += n;
    }
    shutdown(s, SD_SEND);
    closesocket(s);
    ++(is_manifest ? manifests_ : probes_);
  }

  SOCKET listener_ = INVALID_SOCKET;
  bool listening_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  Manifest manifest_ = Manifest::Answer;
  std::string response_;
  std::vector<std::string> lines_;
  std::vector<SOCKET> held_;      // the accepting thread's only
  std::vector<SOCKET> trickled_;  // the accepting thread's only
  std::atomic<int> probes_{0};
  std::atomic<int> manifests_{0};
};

// A Ver.ini of the user's own in the program folder: the check overwrites and then deletes it,
// so its disappearance tells that a check has finished.
void place_users_ver_ini(const TestFolder& folder) {
  folder.write_file("Ver.ini", "[mine]\r\nkeep=1\r\n");
}
bool exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// "检查更新" until the server sees the new check's probe: a request that reaches the program
// just before the previous check has let go of it is ignored.
bool check_again(const WebServer& server, HWND main) {
  const int before = server.probes();
  for (int attempt = 0; attempt < 10; ++attempt) {
    post_command(main, layout::托盘_检查更新);
    if (wait_until([&] { return server.probes() > before; }, 1000)) return true;
  }
  return false;
}

// The notice is posted before the scratch file goes, but a sync may still overtake it.
bool title_becomes(HWND main, const std::string& title) {
  return wait_until([&] { return text_of(main) == title; }, 3000);
}

// Runs one check from the menu with the manifest answered as given; true once it has finished
// and its result, if any, has reached the window.
bool run_check(WebServer& server, const TestFolder& folder, HWND main) {
  place_users_ver_ini(folder);
  if (!check_again(server, main)) return false;
  if (!wait_until([&] { return !exists(folder.file("Ver.ini")); })) return false;
  return sync(main);
}

}  // namespace

TEST(UpdateCheck, ANewerBuildIsAnnouncedInTheTitleEveryTime) {
  WebServer server;
  ASSERT_TRUE(server.listening());
  TestFolder folder;
  server.answer(manifest("1.0.1", "4"));  // an older-looking version text with a newer build
  place_users_ver_ini(folder);
  Program program = start_program(folder, true, kLoopbackBuild);
  ASSERT_NE(program.main, nullptr);
  // The start-up check; its notice is applied after start-up has set the plain title.
  ASSERT_TRUE(wait_until([&] { return !exists(folder.file("Ver.ini")); }));
  EXPECT_TRUE(title_becomes(program.main, notice_title("1.0.1")));

  server.answer(manifest("1.0.3", "4"));
  ASSERT_TRUE(run_check(server, folder, program.main));
  EXPECT_TRUE(title_becomes(program.main, notice_title("1.0.3")));

  {
    SCOPED_TRACE("a full-width four counts as 4");
    server.answer(manifest("1.0.4", "４"));
    ASSERT_TRUE(run_check(server, folder, program.main));
    EXPECT_TRUE(title_becomes(program.main, notice_title("1.0.4")));
  }
  {
    SCOPED_TRACE("asking again repeats the notice");
    SetWindowTextA(program.main, "cleared by the test");
    ASSERT_TRUE(run_check(server, folder, program.main));
    EXPECT_TRUE(title_becomes(program.main, notice_title("1.0.4")));
  }

  for (const std::string& line : server.request_lines()) {
    if (line.find("Ver.ini") != std::string::npos) {
      EXPECT_EQ(line, "GET /Ver.ini HTTP/1.0");
    }
  }
}

TEST(UpdateCheck, AClickOnTheNoticeOpensTheProjectPage) {
  WebServer server;
  ASSERT_TRUE(server.listening());
  TestFolder folder;
  BrowserStandIn browser(folder.file("urls.txt"));
  server.answer(manifest("1.0.3", "4"));
  place_users_ver_ini(folder);
  Program program = start_program(folder, true, kLoopbackBuild);
  ASSERT_NE(program.main, nullptr);
  ASSERT_TRUE(title_becomes(program.main, notice_title("1.0.3")));
  // What the shell reports of the balloon: shown, then clicked.
  constexpr UINT kTrayCallback = tray::kCallbackMessage;
  PostMessageA(program.main, kTrayCallback, 1, 0x402);
  PostMessageA(program.main, kTrayCallback, 1, 0x405);
  ASSERT_TRUE(wait_until([&] { return recorded(folder).size() == 1; }));
  EXPECT_EQ(recorded(folder), std::vector<std::string>{RMT_TEST_PAGES "/usage"});
}

// Switched off, start-up asks the network nothing; "检查更新" still checks, and its balloon (a
// click the shell reports on it opens the page) records the build. A start-up check that finds that
// build again only extends the title.
TEST(UpdateCheck, SwitchedOffStartUpAsksNothingAndABuildIsAnnouncedOnce) {
  WebServer server;
  ASSERT_TRUE(server.listening());
  TestFolder folder;
  BrowserStandIn browser(folder.file("urls.txt"));
  folder.write_file("config.ini", "[BasisConfig]\r\nUpdate check=false\r\n");
  server.answer(manifest("1.0.3", "4"));
  const auto click_opens_page = [&](HWND main, std::size_t nth) {
    PostMessageA(main, tray::kCallbackMessage, 1, 0x402);
    PostMessageA(main, tray::kCallbackMessage, 1, 0x405);
    return wait_until([&] { return recorded(folder).size() == nth; }, 1000);
  };
  Program program = start_program(folder, true, kLoopbackBuild);
  ASSERT_NE(program.main, nullptr);
  EXPECT_FALSE(wait_until([&] { return !server.request_lines().empty(); }, 3000));
  ASSERT_TRUE(run_check(server, folder, program.main));
  EXPECT_TRUE(click_opens_page(program.main, 1));
  post_command(program.main, layout::托盘_自动检查更新);
  post_command(program.main, layout::托盘_退出);
  ASSERT_TRUE(ended(program.id));
  EXPECT_EQ(ini_value(folder.file("config.ini"), "BasisConfig", "Update check"), "true");

  place_users_ver_ini(folder);
  program = start_program(folder, true, kLoopbackBuild);
  ASSERT_NE(program.main, nullptr);
  ASSERT_TRUE(wait_until([&] { return !exists(folder.file("Ver.ini")); }));
  EXPECT_TRUE(title_becomes(program.main, notice_title("1.0.3")));
  EXPECT_FALSE(click_opens_page(program.main, 2)) << "a second balloon for the same build";
}

TEST(UpdateCheck, AnythingElseStaysSilentAndRemovesTheScratchFile) {
  WebServer server;
  ASSERT_TRUE(server.listening());
  TestFolder folder;
  server.answer(manifest("1.0.2", "9"));  // the same version text stops before the numbers
  place_users_ver_ini(folder);
  Program program = start_program(folder, true, kLoopbackBuild);
  ASSERT_NE(program.main, nullptr);
  ASSERT_TRUE(wait_until([&] { return !exists(folder.file("Ver.ini")); }));
  sync(program.main);
  EXPECT_EQ(text_of(program.main), kTitle);

  struct Case {
    const char* what;
    std::string body;
    std::string status;
  };
  const std::string utf8_manifest =
      "[Rivermesh Tools]\r\n\xE6\x9C\x80\xE6\x96\xB0\xE7\x89\x88\xE6\x9C\xAC=1.0.3\r\n"
      "\xE7\x89\x88\xE6\x9C\xAC\xE5\x8F\xB7=4\r\n";
  // Past the size cap, with a valid announcement at its start.
  const std::string oversized = manifest("1.0.3", "4") + std::string(64 * 1024, ';');
  const std::vector<Case> cases{
      {"build number not greater", manifest("1.0.3", "3"), "200 OK"},
      {"build number without digits", manifest("1.0.3", "abc"), "200 OK"},
      {"manifest in UTF-8", utf8_manifest, "200 OK"},
      {"error page", "<html><body>404 Not Found</body></html>", "404 Not Found"},
      {"body over the size cap", oversized, "200 OK"},
      {"body starting with a zero byte", std::string(1, '\0') + manifest("1.0.3", "4"), "200 OK"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    server.answer(c.body, c.status);
    ASSERT_TRUE(run_check(server, folder, program.main));
    EXPECT_EQ(text_of(program.main), kTitle);
  }
}

// Wine's own setting, for the program alone, that prefers a library file to Wine's own one.
class PreferLibraryFile {
 public:
  explicit PreferLibraryFile(const char* dll) {
    RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key_, nullptr);
    RegSetValueExA(key_, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>("native,builtin"), 15);
  }
  ~PreferLibraryFile() {
    RegCloseKey(key_);
    RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
  }
  PreferLibraryFile(const PreferLibraryFile&) = delete;
  PreferLibraryFile& operator=(const PreferLibraryFile&) = delete;

 private:
  static constexpr char kKey[] = "Software\\Wine\\AppDefaults\\RivermeshTools.exe\\DllOverrides";
  HKEY key_ = nullptr;
};

TEST(UpdateCheck, ANetworkLibraryDroppedBesideTheProgramIsNeverLoaded) {
  // Wine takes its own network library before a file of that name unless told to prefer files;
  // told so, it loaded this one beside the program when the program loaded the library by name.
  PreferLibraryFile prefer("wininet");
  WebServer server;
  ASSERT_TRUE(server.listening());
  server.answer(manifest("1.0.3", "4"));
  TestFolder folder;
  folder.copy_in("planted\\wininet.dll", "wininet.dll");
  Program program = start_program(folder, true, kLoopbackBuild);
  ASSERT_NE(program.main, nullptr);
  // The check ran, through the system's library.
  EXPECT_TRUE(wait_until([&] { return text_of(program.main) == notice_title("1.0.3"); }))
      << text_of(program.main);
  EXPECT_FALSE(exists(folder.file("wininet.dll.loaded")));
  EXPECT_TRUE(program.process.running());
}

TEST(UpdateCheck, WithoutAProbeAnswerTheFolderIsLeftAlone) {
  TestFolder folder;
  place_users_ver_ini(folder);
  // No server at all: the start-up check's probe is refused.
  Program program = start_program(folder, true, kLoopbackBuild);
  ASSERT_NE(program.main, nullptr);

  // A menu check is taken only once the start-up check has ended. Its own manifest request is
  // held unanswered, so that it has not touched the folder yet when the server sees it.
  WebServer server;
  ASSERT_TRUE(server.listening());
  server.set(WebServer::Manifest::Hold);
  ASSERT_TRUE(check_again(server, program.main));
  ASSERT_TRUE(wait_until([&] { return server.manifests() == 1; }));
  EXPECT_EQ(folder.read_file("Ver.ini"), "[mine]\r\nkeep=1\r\n");
  EXPECT_EQ(text_of(program.main), kTitle);
}

TEST(UpdateCheck, AServerThatStallsOrTricklesBlocksNeitherWindowNorExitNorLaterChecks) {
  WebServer server;
  ASSERT_TRUE(server.listening());
  server.set(WebServer::Manifest::Hold);
  TestFolder folder;
  Program program = start_program(folder, true, kLoopbackBuild);
  ASSERT_NE(program.main, nullptr);
  ASSERT_TRUE(wait_until([&] { return server.manifests() == 1; }));
  DWORD held_since = GetTickCount();

  DWORD_PTR r = 0;
  const DWORD start = GetTickCount();
  EXPECT_NE(SendMessageTimeoutA(program.main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &r), 0u);
  EXPECT_LT(GetTickCount() - start, 1000u);

  // A second check while this one runs is ignored.
  post_command(program.main, layout::托盘_检查更新);
  sync(program.main);
  EXPECT_FALSE(wait_until([&] { return server.probes() > 1; }, 1000));

  // At the check's deadline its request is given up, whatever the server does: a later
  // 检查更新 gets through instead of being dropped for as long as the server keeps silent, or
  // keeps the answer's head coming a byte at a time, which no time-out of a single receive ends.
  const auto later_check_gets_through = [&] {
    const int probes = server.probes();
    for (int attempt = 0; attempt < 40; ++attempt) {
      post_command(program.main, layout::托盘_检查更新);
      if (wait_until([&] { return server.probes() > probes; }, 1000)) return true;
    }
    return false;
  };
  const DWORD deadline = RMT_TEST_CHECK_DEADLINE_MS;
  server.set(WebServer::Manifest::Trickle);
  EXPECT_TRUE(later_check_gets_through());
  EXPECT_LT(GetTickCount() - held_since, deadline + 8000);
  // That check meets the trickle.
  ASSERT_TRUE(wait_until([&] { return server.manifests() == 2; }));
  held_since = GetTickCount();
  EXPECT_TRUE(later_check_gets_through());
  EXPECT_LT(GetTickCount() - held_since, deadline + 8000);

  post_command(program.main, layout::托盘_退出);
  HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, program.id);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(WaitForSingleObject(h, 5000), WAIT_OBJECT_0);
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(h, &code);
  CloseHandle(h);
  EXPECT_EQ(code, 0u);  // ended by itself, not by a fault
}

TEST(HelpMenu, UsageAndDonationOpenTheirPagesInOrder) {
  TestFolder folder;
  BrowserStandIn browser(folder.file("urls.txt"));
  Program program = start_program(folder, true, kLoopbackBuild);
  ASSERT_NE(program.main, nullptr);

  post_command(program.main, layout::托盘_使用方法);
  ASSERT_TRUE(wait_until([&] { return recorded(folder).size() == 1; }));
  post_command(program.main, layout::托盘_捐赠);
  ASSERT_TRUE(wait_until([&] { return recorded(folder).size() == 3; }));
  const std::vector<std::string> expected{RMT_TEST_PAGES "/usage", RMT_TEST_PAGES "/main/dashang/",
                                          RMT_TEST_PAGES "/mirror/dashang/"};
  EXPECT_EQ(recorded(folder), expected);
}

TEST(HelpMenu, AboutShowsThreeLinesUnderItsCaption) {
  TestFolder folder;
  Program program = start_program(folder, true, kLoopbackBuild);
  ASSERT_NE(program.main, nullptr);
  post_command(program.main, layout::托盘_关于);
  HWND box = nullptr;
  ASSERT_TRUE(
      wait_until([&] { return (box = visible_window_of("#32770", program.id)) != nullptr; }));
  EXPECT_EQ(text_of(box), "关于");

  std::vector<HWND> buttons;
  std::string text;
  bool icon = false;
  for (HWND w = GetWindow(box, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
    char cls[64] = {};
    GetClassNameA(w, cls, sizeof cls);
    const LONG style = GetWindowLongA(w, GWL_STYLE);
    if (lstrcmpiA(cls, "Button") == 0 && (style & WS_VISIBLE)) buttons.push_back(w);
    if (lstrcmpiA(cls, "Static") == 0) {
      if ((style & SS_TYPEMASK) == SS_ICON) {
        icon = icon || ((style & WS_VISIBLE) && SendMessageA(w, STM_GETICON, 0, 0) != 0);
      } else if (GetDlgCtrlID(w) == 0xFFFF) {
        text = text_of(w);
      }
    }
  }
  EXPECT_EQ(text, "当前版本：v1.0.2\r\n官方网站：" RMT_TEST_PAGES
                  "/usage\r\n本软件仅供学习和技术研究使用，不得用于任何商业或非法用途；"
                  "因此类使用而引起的知识产权或法律纠纷，本人概不负责。");
  ASSERT_EQ(buttons.size(), 1u);
  EXPECT_FALSE(icon);
  SendMessageA(buttons[0], BM_CLICK, 0, 0);
  EXPECT_TRUE(wait_until([&] { return visible_window_of("#32770", program.id) == nullptr; }));
}

// A suite that does not hold the port is refused the loopback build before anything starts: left
// to run, it would meet another suite's server on the port only when the two happen to overlap.
TEST(TestPortRule, AnUnmarkedSuiteIsRefusedTheLoopbackBuild) {
  TestFolder folder;
  Program program;
  EXPECT_NONFATAL_FAILURE(program = start_program(folder, true, kLoopbackBuild),
                          "E2E_HOLDS_TEST_PORT(TestPortRule)");
  EXPECT_EQ(program.id, 0u);
  EXPECT_EQ(program.main, nullptr);
  EXPECT_EQ(GetFileAttributesA(folder.file("RivermeshTools.exe").c_str()), INVALID_FILE_ATTRIBUTES);
}
