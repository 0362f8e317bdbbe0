#include "server/server_log.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>
#include <vector>

using server_log::End;
using server_log::FileLog;
using server_log::kFileCap;
using server_log::Stamp;

namespace {

// The log's folder in memory, with switches for the failures a disk has.
class FakeFiles : public server_log::Files {
 public:
  std::map<int, std::string> files;
  bool is_open = false;
  bool refuse_open = false;
  bool refuse_append = false;
  bool refuse_rename = false;
  int opens = 0;
  int appends = 0;

  std::optional<Opened> open() override {
    ++opens;
    if (refuse_open) return std::nullopt;
    is_open = true;
    const std::string& file = files[0];
    return Opened{file.size(), file.empty() || file.back() == '\n'};
  }
  bool append(std::string_view bytes) override {
    ++appends;
    if (!is_open || refuse_append) return false;
    files[0].append(bytes);
    return true;
  }
  void close() override { is_open = false; }
  bool remove(int index) override {
    files.erase(index);
    return true;
  }
  bool rename(int from, int to) override {
    if (refuse_rename) return false;
    if (auto it = files.find(from); it != files.end()) {
      files[to] = std::move(it->second);
      files.erase(from);
    }
    return true;
  }
  std::uint64_t total() const {
    std::uint64_t sum = 0;
    for (const auto& [index, text] : files) sum += text.size();
    return sum;
  }
};

struct Harness {
  FakeFiles files;
  Stamp now{2026, 12, 9, 10, 0, 0};
  std::vector<unsigned> armed;
  std::vector<std::string> notices;
  FileLog log{files, [this] { return now; }, [this](unsigned ms) { armed.push_back(ms); }};

  void start(std::string_view line = "rivermesh_windows_amd64.exe -l") {
    log.start(line, [this](std::string_view text) { notices.emplace_back(text); });
  }
};

launch::Fields with_access(std::string user, std::string password) {
  launch::Fields f;
  f.port = "8888";
  f.ip = "0.0.0.0";
  f.access_control = true;
  f.user = std::move(user);
  f.password = std::move(password);
  return f;
}

}  // namespace

TEST(ServerLogLines, HeaderAndEndLinesNameTheTimeAndHowTheRunEnded) {
  const Stamp stamp{2026, 1, 2, 3, 4, 5};
  EXPECT_EQ(server_log::start_line(stamp, "x -l"), "==== 2026-01-02 03:04:05 启动：x -l\r\n");
  EXPECT_EQ(server_log::end_line(stamp, End::stop()), "==== 2026-01-02 03:04:05 结束：停止\r\n");
  EXPECT_EQ(server_log::end_line(stamp, End::program_exit()),
            "==== 2026-01-02 03:04:05 结束：程序退出\r\n");
  EXPECT_EQ(server_log::end_line(stamp, End::start_failed()),
            "==== 2026-01-02 03:04:05 结束：启动失败\r\n");
  EXPECT_EQ(server_log::end_line(stamp, End::unrecorded()),
            "==== 2026-01-02 03:04:05 结束：未记录\r\n");
  // A crash's code is an unsigned 32-bit value, not a negative number.
  EXPECT_EQ(server_log::end_line(stamp, End::exit_code(3221225477u)),
            "==== 2026-01-02 03:04:05 结束：退出码 3221225477\r\n");
  EXPECT_EQ(server_log::end_line(stamp, End::exit_code(std::nullopt)),
            "==== 2026-01-02 03:04:05 结束：退出码 未知\r\n");
  EXPECT_EQ(server_log::file_name(0), "server.log");
  EXPECT_EQ(server_log::file_name(3), "server.3.log");
}

TEST(ServerLogLines, MasksExactlyThePasswordOfTheAccessArgument) {
  struct Case {
    std::string user, password, ip, expected_pair;
  };
  const Case cases[] = {
      {"me", "secret", "0.0.0.0", "\"me:******\""},
      // Delimiters inside the password or the account move nothing.
      {"me", "a:b\" -l", "0.0.0.0", "\"me:******\""},
      {"a:b", "c:d", "0.0.0.0", "\"a:b:******\""},
      {"me", "-a \"x:y\"", "0.0.0.0", "\"me:******\""},
      // The same text as account or address: only the password's place is masked.
      {"admin", "admin", "0.0.0.0", "\"admin:******\""},
      {"me", "0.0", "0.0.0.0", "\"me:******\""},
      {"me", "******", "0.0.0.0", "\"me:******\""},
  };
  for (const Case& c : cases) {
    launch::Fields f = with_access(c.user, c.password);
    f.ip = c.ip;
    const std::string line = server_log::masked_command_line(f);
    EXPECT_EQ(line, "rivermesh_windows_amd64.exe -h \"" + c.ip + "\" -p 8888 -a " +
                        c.expected_pair + " -l")
        << c.password;
  }
  // Without access control the password is not on the line at all.
  launch::Fields f = with_access("me", "secret");
  f.access_control = false;
  EXPECT_EQ(server_log::masked_command_line(f),
            "rivermesh_windows_amd64.exe -h \"0.0.0.0\" -p 8888 -l");
}

TEST(ServerLogRotation, SplitsSoThatNoFilePassesTheCap) {
  struct Case {
    std::uint64_t size, bytes, first, rotations;
  };
  const Case cases[] = {
      {0, 0, 0, 0},
      {0, 100, 100, 0},
      {kFileCap - 100, 100, 100, 0},   // exactly full: no new file yet
      {kFileCap - 100, 101, 100, 1},   // a file is filled before the next begins
      {0, kFileCap + 1, kFileCap, 1},  // one write larger than a file
      {10, 3 * kFileCap, kFileCap - 10, 3},
      {10, 4 * kFileCap, kFileCap - 10, 4},
      {kFileCap + 5, 1, 0, 1},  // a file already over the cap (made elsewhere)
  };
  for (const Case& c : cases) {
    const server_log::Split s = server_log::split(c.size, c.bytes);
    EXPECT_EQ(s.first, c.first) << c.size << "+" << c.bytes;
    EXPECT_EQ(s.rotations, c.rotations) << c.size << "+" << c.bytes;
  }
}

TEST(ServerLogRotation, KeepsFourFilesUnderTheCapWhateverTheServerWrites) {
  Harness h;
  h.start();
  // A flood in reads of many sizes, then one write several files long.
  std::uint64_t written = 0;
  for (int i = 0; written < 20u << 20; ++i) {
    const std::string chunk(static_cast<std::size_t>(1 + (i * 7919) % 70000), 'x');
    h.log.output(chunk);
    written += chunk.size();
  }
  h.log.output(std::string(9u << 20, 'y'));
  h.log.output("tail\r\n");
  h.log.flush();
  ASSERT_LE(h.files.files.size(), 4u);
  for (const auto& [index, text] : h.files.files) {
    EXPECT_GE(index, 0);
    EXPECT_LE(index, 3);
    EXPECT_LE(text.size(), kFileCap) << index;
  }
  EXPECT_LE(h.files.total(), 4 * kFileCap);
  // The newest output is in server.log, the one before it in server.1.log.
  const std::string& newest = h.files.files[0];
  EXPECT_EQ(newest.substr(newest.size() - 6), "tail\r\n");
  EXPECT_EQ(h.files.files[1].back(), 'y');
  EXPECT_TRUE(h.notices.empty());
}

TEST(ServerLogRotation, AFullFileLeftByAnEarlierRunMovesUpFirst) {
  Harness h;
  h.files.files[0] = std::string(kFileCap, 'o');
  h.files.files[1] = "one";
  h.files.files[3] = "three";
  h.start();
  h.log.flush();
  EXPECT_EQ(h.files.files[0], "==== 2026-12-09 10:00:00 启动：rivermesh_windows_amd64.exe -l\r\n");
  EXPECT_EQ(h.files.files[1].size(), kFileCap);
  EXPECT_EQ(h.files.files[2], "one");
  EXPECT_EQ(h.files.files.count(3), 0u);  // the oldest goes
}

TEST(ServerLogRuns, AHeaderAfterAProgramKilledMidLineStartsALineOfItsOwn) {
  Harness h;
  h.files.files[0] = "==== header\r\nhalf a li";
  h.start("next -l");
  h.log.flush();
  EXPECT_EQ(h.files.files[0],
            "==== header\r\nhalf a li\r\n==== 2026-12-09 10:00:00 启动：next -l\r\n");
}

TEST(ServerLogRuns, EachRunHasItsHeaderAndOneEndLineInOrder) {
  Harness h;
  h.start("first -l");
  h.log.output("hello\r\npartial");
  h.now.second = 7;
  h.log.end(End::exit_code(1));
  h.start("second -l");
  h.log.output("again\r\n");
  h.log.end(End::stop());
  // An exit after a stop has nothing more to end.
  h.log.end(End::program_exit());
  h.log.flush();
  EXPECT_EQ(h.files.files[0],
            "==== 2026-12-09 10:00:00 启动：first -l\r\n"
            "hello\r\npartial\r\n"
            "==== 2026-12-09 10:00:07 结束：退出码 1\r\n"
            "==== 2026-12-09 10:00:07 启动：second -l\r\n"
            "again\r\n"
            "==== 2026-12-09 10:00:07 结束：停止\r\n");
  // A run that is still open when the program ends gets its end line.
  h.start("third -l");
  h.log.end(End::program_exit());
  h.log.flush();
  EXPECT_NE(h.files.files[0].find("启动：third -l\r\n==== 2026-12-09 10:00:07 结束：程序退出\r\n"),
            std::string::npos);
  // A header that finds a run still open closes it first: no run is taken for another's.
  h.start("fourth -l");
  h.start("fifth -l");
  h.log.flush();
  EXPECT_NE(h.files.files[0].find("启动：fourth -l\r\n==== 2026-12-09 10:00:07 结束：未记录\r\n"
                                  "==== 2026-12-09 10:00:07 启动：fifth -l\r\n"),
            std::string::npos)
      << h.files.files[0];
}

TEST(ServerLogFlush, BuffersAndAsksForAFlushOnlyWhenSomethingWaits) {
  Harness h;
  h.start();
  EXPECT_EQ(h.armed, std::vector<unsigned>{server_log::kFlushMs});
  h.log.output("a");
  h.log.output("b");
  EXPECT_EQ(h.files.appends, 0);  // nothing is written per read
  EXPECT_EQ(h.armed.size(), 1u);  // one timer for everything that waits
  h.log.flush();
  EXPECT_EQ(h.files.appends, 1);
  h.log.flush();  // nothing waits: no write
  EXPECT_EQ(h.files.appends, 1);
  h.log.output("c");
  EXPECT_EQ(h.armed.back(), server_log::kFlushMs);
  EXPECT_EQ(h.armed.size(), 2u);
  // An end is flushed at once, not a second later.
  h.log.end(End::stop());
  EXPECT_EQ(h.armed.back(), 0u);
  // A full buffer asks for the flush at once, once, and the reader goes on draining...
  h.log.flush();
  h.start();
  const int appends = h.files.appends;
  h.log.output(std::string(server_log::kBufferBytes, 'z'));
  EXPECT_EQ(h.armed.back(), 0u);
  const std::size_t armed = h.armed.size();
  h.log.output("more");
  EXPECT_EQ(h.armed.size(), armed);
  EXPECT_EQ(h.files.appends, appends);
  // ...until the flush falls that far behind: then the reader writes itself.
  h.log.output(std::string(server_log::kMaxBufferBytes, 'w'));
  EXPECT_EQ(h.files.files[0].back(), 'w');
  EXPECT_EQ(h.armed.size(), armed);
}

TEST(ServerLogFailure, StopsForTheRunSaysSoOnceAndTriesAgainNextRun) {
  Harness h;
  h.files.refuse_open = true;  // a read-only folder, a locked file
  h.start();
  h.log.output("lost\r\n");
  h.log.flush();
  EXPECT_TRUE(h.log.failed());
  ASSERT_EQ(h.notices.size(), 1u);
  EXPECT_EQ(h.notices[0], server_log::kFailedNotice);
  const int opens = h.files.opens;
  for (int i = 0; i < 3; ++i) {
    h.log.output(std::string(server_log::kBufferBytes, 'x'));
    h.log.flush();
  }
  h.log.end(End::stop());
  h.log.flush();
  EXPECT_EQ(h.files.opens, opens);  // no more tries this run
  EXPECT_EQ(h.notices.size(), 1u);

  h.files.refuse_open = false;
  h.start("next -l");
  h.log.output("kept\r\n");
  h.log.flush();
  EXPECT_FALSE(h.log.failed());
  EXPECT_EQ(h.files.files[0], "==== 2026-12-09 10:00:00 启动：next -l\r\nkept\r\n");

  // A full disk, and a rotation that cannot move a file an editor holds.
  h.files.refuse_append = true;
  h.log.output("x");
  h.log.flush();
  EXPECT_TRUE(h.log.failed());
  EXPECT_EQ(h.notices.size(), 2u);
  h.files.refuse_append = false;
  h.files.refuse_rename = true;
  h.start();
  h.log.output(std::string(kFileCap, 'r'));
  h.log.flush();
  EXPECT_TRUE(h.log.failed());
  EXPECT_EQ(h.notices.size(), 3u);
  EXPECT_FALSE(h.files.is_open);
}

TEST(ServerLogFlush, LosesNoOutputWhileAnotherThreadFlushes) {
  Harness h;
  h.start("");
  std::thread timer([&] {
    for (int i = 0; i < 2000; ++i) h.log.flush();
  });
  std::string sent;
  for (int i = 0; i < 5000; ++i) {
    const std::string line = std::to_string(i) + "\r\n";
    h.log.output(line);
    sent += line;
  }
  timer.join();
  h.log.flush();
  const std::string& file = h.files.files[0];
  ASSERT_GE(file.size(), sent.size());
  EXPECT_EQ(file.substr(file.size() - sent.size()), sent);
}
