// The stand-in server as the tool meets it: started with the launch script's arguments, its
// output read through a pipe, its page fetched over TCP.
// Winsock 2 must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/handles_win.h"
#include "tests/support/harness.h"
#include "tests/support/net.h"
#include "tools/standin/standin_rules.h"

namespace {

using e2e::connect_to;
using e2e::free_port;
using e2e::read_to_end;
using e2e::ScopedVariable;
using e2e::send_text;
using e2e::unique_socket;
using e2e::Winsock;

// "服务已启动：http://" in GBK, spelled out so the check does not rest on the compiler's
// conversion of literals.
const std::string kStartedPrefix = "\xB7\xFE\xCE\xF1\xD2\xD1\xC6\xF4\xB6\xAF\xA3\xBAhttp://";
const std::string kStandIn = "\xCC\xE6\xC9\xED";  // 替身

std::string get(unsigned short port, const std::string& extra_header = "") {
  unique_socket s = connect_to(port);
  if (!s) return "(no connection)";
  send_text(s.get(), "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra_header + "\r\n");
  return read_to_end(s.get());
}

// The read end of a child's output pipe; collects what arrived without ever blocking.
class Output {
 public:
  HANDLE* put() { return pipe_.put(); }
  const std::string& text() {
    DWORD available = 0;
    while (::PeekNamedPipe(pipe_.get(), nullptr, 0, nullptr, &available, nullptr) &&
           available > 0) {
      char buf[1024];
      DWORD got = 0;
      if (!::ReadFile(pipe_.get(), buf, sizeof buf, &got, nullptr) || got == 0) break;
      text_.append(buf, got);
    }
    return text_;
  }
  bool shows(const std::string& part, DWORD timeout_ms = 10000) {
    return e2e::wait_until([&] { return text().find(part) != std::string::npos; }, timeout_ms);
  }
  std::string first_line() {
    const std::string& all = text();
    std::string line = all.substr(0, all.find('\n'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }

 private:
  win::unique_handle pipe_;
  std::string text_;
};

std::string launch_arguments(unsigned short port, const std::string& more = "") {
  return "-h \"127.0.0.1\" -p " + std::to_string(port) + more + " -l";
}

TEST(Standin, ServesItsPageOnlyWithTheRightCredentials) {
  Winsock winsock;
  e2e::TestFolder folder;
  const std::string exe = folder.copy_standin();
  const unsigned short port = free_port();
  Output out;
  e2e::Process server = e2e::Process::start(exe, launch_arguments(port, " -a \"user:pa:ss\""),
                                            folder.path(), out.put());
  ASSERT_TRUE(server.id());
  ASSERT_TRUE(out.shows("\n")) << out.text();
  const std::string line = out.first_line();
  EXPECT_EQ(line.rfind(kStartedPrefix + "127.0.0.1:" + std::to_string(port), 0), 0u) << line;
  EXPECT_NE(line.find(kStandIn), std::string::npos) << line;

  const std::string refused = get(port);
  EXPECT_EQ(refused.rfind("HTTP/1.1 401 ", 0), 0u) << refused;
  EXPECT_NE(refused.find("\r\nWWW-Authenticate: Basic realm=\"Rivermesh\"\r\n"), std::string::npos);
  // user:pa:s -- one character short of the password.
  EXPECT_EQ(get(port, "Authorization: Basic dXNlcjpwYTpz\r\n").rfind("HTTP/1.1 401 ", 0), 0u);

  // user:pa:ss -- the password holds a colon; the account ends at the first one.
  const std::string page = get(port, "Authorization: Basic dXNlcjpwYTpzcw==\r\n");
  EXPECT_EQ(page.rfind("HTTP/1.1 200 ", 0), 0u) << page;
  EXPECT_NE(page.find("charset=GBK"), std::string::npos);
  EXPECT_NE(page.find(kStandIn), std::string::npos);

  EXPECT_TRUE(out.shows("GET / 401\r\n"));
  EXPECT_TRUE(out.shows("GET / 200\r\n")) << out.text();
  EXPECT_TRUE(server.running());

  // The line a port of "<port> --" once made: the options end before -a, and the page is served
  // to anyone, though access control was ticked.
  const unsigned short open_port = free_port();
  Output open_out;
  e2e::Process open_server = e2e::Process::start(
      exe, "-h \"127.0.0.1\" -p " + std::to_string(open_port) + " -- -a \"user:pa:ss\" -l",
      folder.path(), open_out.put());
  ASSERT_TRUE(open_out.shows(kStartedPrefix)) << open_out.text();
  EXPECT_EQ(get(open_port).rfind("HTTP/1.1 200 ", 0), 0u);
}

TEST(Standin, SecondServerOnTheSamePortGivesUp) {
  Winsock winsock;
  e2e::TestFolder folder;
  const std::string exe = folder.copy_standin();
  const unsigned short port = free_port();
  Output first_out;
  e2e::Process first =
      e2e::Process::start(exe, launch_arguments(port), folder.path(), first_out.put());
  ASSERT_TRUE(first_out.shows(kStartedPrefix)) << first_out.text();

  Output second_out;
  e2e::Process second =
      e2e::Process::start(exe, launch_arguments(port), folder.path(), second_out.put());
  EXPECT_EQ(second.wait(), 3u);
  EXPECT_NE(second_out.text().find(std::to_string(port)), std::string::npos);
  EXPECT_EQ(second_out.text().find(kStartedPrefix), std::string::npos);
  EXPECT_TRUE(first.running());
  EXPECT_EQ(get(port).rfind("HTTP/1.1 200 ", 0), 0u);
}

TEST(Standin, RefusesBadArgumentsWithAReason) {
  e2e::TestFolder folder;
  const std::string exe = folder.copy_standin();
  for (const std::string args : {"-p 8888", "-h 127.0.0.1 -p 70000", "-h 127.0.0.1 -p 8888 -x",
                                 "-h 127.0.0.1 -p 8888 -a \"nocolon\" -l"}) {
    Output out;
    e2e::Process p = e2e::Process::start(exe, args, folder.path(), out.put());
    EXPECT_EQ(p.wait(), 2u) << args;
    EXPECT_TRUE(out.shows("\n", 2000)) << args;
    EXPECT_EQ(out.text().find(kStartedPrefix), std::string::npos) << args;
  }
}

TEST(Standin, StalledClientIsAnsweredAndDoesNotBlockOthers) {
  Winsock winsock;
  e2e::TestFolder folder;
  const std::string exe = folder.copy_standin();
  const unsigned short port = free_port();
  Output out;
  e2e::Process server = e2e::Process::start(exe, launch_arguments(port), folder.path(), out.put());
  ASSERT_TRUE(out.shows(kStartedPrefix)) << out.text();

  unique_socket stalled = connect_to(port);
  ASSERT_TRUE(stalled);
  send_text(stalled.get(), "GET / HTTP/1.1\r\nHost: 127");
  const DWORD started = ::GetTickCount();
  EXPECT_EQ(get(port).rfind("HTTP/1.1 200 ", 0), 0u);
  EXPECT_LT(::GetTickCount() - started, 12000u);
  EXPECT_EQ(read_to_end(stalled.get()).rfind("HTTP/1.1 400 ", 0), 0u);
}

TEST(Standin, FloodsItsOutputPipeWithExactlyTheGeneratedText) {
  Winsock winsock;
  e2e::TestFolder folder;
  const std::string exe = folder.copy_standin();
  const unsigned short port = free_port();
  ScopedVariable mode(standin::kModeVariable, "flood:300001");
  ScopedVariable report(standin::kReportVariable, folder.file("report.txt"));
  Output out;
  e2e::Process server = e2e::Process::start(exe, launch_arguments(port), folder.path(), out.put());
  ASSERT_TRUE(out.shows("flood-end\r\n")) << out.text().size();

  const std::string start = out.first_line() + "\r\n";
  EXPECT_EQ(start.rfind(kStartedPrefix, 0), 0u) << start;
  // Binary output: the generator's CR LF must not come out as CR CR LF.
  EXPECT_TRUE(out.text() == start + standin::flood_text(300001) + "flood-end\r\n");
  EXPECT_TRUE(e2e::wait_until([&] { return !folder.read_file("report.txt").empty(); }));
  EXPECT_EQ(folder.read_file("report.txt").rfind("write_ms=", 0), 0u);
  EXPECT_EQ(get(port).rfind("HTTP/1.1 200 ", 0), 0u) << "it goes on serving";
}

TEST(Standin, WritesRandomBytesThenAnEndLineOfItsOwn) {
  Winsock winsock;
  e2e::TestFolder folder;
  const std::string exe = folder.copy_standin();
  ScopedVariable mode(standin::kModeVariable, "random:5000:42");
  Output out;
  e2e::Process server =
      e2e::Process::start(exe, launch_arguments(free_port()), folder.path(), out.put());
  ASSERT_TRUE(out.shows("\r\nrandom-end\r\n")) << out.text().size();
  const std::string start = out.first_line() + "\r\n";
  EXPECT_TRUE(out.text() == start + standin::random_bytes(5000, 42) + "\r\nrandom-end\r\n");
}

TEST(Standin, EndsByItselfWhenToldAndRefusesAnUnknownMode) {
  Winsock winsock;
  e2e::TestFolder folder;
  const std::string exe = folder.copy_standin();
  {
    ScopedVariable mode(standin::kModeVariable, "exit:300");
    Output out;
    e2e::Process server =
        e2e::Process::start(exe, launch_arguments(free_port()), folder.path(), out.put());
    ASSERT_TRUE(out.shows(kStartedPrefix)) << out.text();
    const DWORD started = ::GetTickCount();
    EXPECT_EQ(server.wait(), 0u);
    EXPECT_LT(::GetTickCount() - started, 2000u);
  }
  ScopedVariable mode(standin::kModeVariable, "flood:lots");
  Output out;
  e2e::Process server =
      e2e::Process::start(exe, launch_arguments(free_port()), folder.path(), out.put());
  EXPECT_EQ(server.wait(), 2u);
  EXPECT_TRUE(out.shows(standin::kModeVariable)) << out.text();
  EXPECT_EQ(out.text().find(kStartedPrefix), std::string::npos);
}

}  // namespace
