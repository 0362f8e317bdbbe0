#include "server/server_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <thread>
#include <vector>

using server_log::End;
using server_log::FileLog;
using server_log::kFileCap;
using server_log::Stamp;

namespace {

// The log's folder in memory, with switches for the failures a disk has. A held file is one
// another program holds open without delete sharing: as on Windows, it can be neither moved, nor
// replaced, nor deleted.
class FakeFiles : public server_log::Files {
 public:
  std::map<int, std::string> files;
  bool is_open = false;
  bool refuse_open = false;
  bool refuse_append = false;
  std::set<int> held;
  // Called after each rename that moved a file: a viewer may open it just then.
  std::function<void(int from, int to)> renamed;
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
  Step remove(int index) override {
    if (!files.count(index)) return Step::Missing;
    if (held.count(index)) return Step::Refused;
    files.erase(index);
    return Step::Done;
  }
  Step rename(int from, int to) override {
    const auto it = files.find(from);
    if (it == files.end()) return Step::Missing;
    if (held.count(from) || (held.count(to) && files.count(to))) return Step::Refused;
    files[to] = std::move(it->second);
    files.erase(from);
    if (renamed) renamed(from, to);
    return Step::Done;
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

using Folder = std::map<int, std::string>;

// A folder in few words, for failure messages: a file of the log can be megabytes long.
std::string listing(const Folder& folder) {
  std::string text;
  for (const auto& [index, bytes] : folder) {
    text += server_log::file_name(index) + ": " + std::to_string(bytes.size()) +
            " bytes ending \"" +
            bytes.substr(bytes.size() - std::min<std::size_t>(bytes.size(), 12)) + "\"\n";
  }
  return text;
}

}  // namespace

TEST(ServerLogLines, HeaderAndEndLinesNameTheTimeAndHowTheRunEnded) {
  const Stamp stamp{2026, 1, 2, 3, 4, 5};
  EXPECT_EQ(server_log::start_line(stamp, "x -l"), "==== 2026-01-02 03:04:05 启动：x -l\r\n");
  EXPECT_EQ(server_log::stamp_text({987, 12, 31, 23, 59, 58}), "0987-12-31 23:59:58");
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

TEST(ServerLogRotation, EitherCompletesOrLeavesEveryFileAsItWas) {
  using server_log::Rotation;
  const Folder all{{0, "zero"}, {1, "one"}, {2, "two"}, {3, "three"}};
  const Folder moved_up{{1, "zero"}, {2, "one"}, {3, "two"}};
  struct Case {
    const char* what;
    Folder before;
    std::set<int> held;
    Rotation rotation;
    Folder after;
  };
  const Case cases[] = {
      {"nothing held", all, {}, Rotation::Done, moved_up},
      {"server.log held", all, {0}, Rotation::Unchanged, all},
      {"server.1.log held", all, {1}, Rotation::Unchanged, all},
      {"server.2.log held", all, {2}, Rotation::Unchanged, all},
      {"server.3.log held", all, {3}, Rotation::Unchanged, all},
      {"every file held", all, {0, 1, 2, 3}, Rotation::Unchanged, all},
      // Gaps: missing files move nothing and take nothing back.
      {"gaps", {{0, "zero"}, {2, "two"}}, {}, Rotation::Done, {{1, "zero"}, {3, "two"}}},
      {"gaps, server.2.log held",
       {{0, "zero"}, {2, "two"}},
       {2},
       Rotation::Unchanged,
       {{0, "zero"}, {2, "two"}}},
      {"no server.log", {{1, "one"}, {3, "three"}}, {}, Rotation::Done, {{1, "one"}, {3, "three"}}},
      // What a program killed amid a rotation leaves: replaced, unless held.
      {"left-over oldest",
       {{0, "zero"}, {1, "one"}, {3, "three"}, {4, "left"}},
       {},
       Rotation::Done,
       {{1, "zero"}, {2, "one"}}},
      {"left-over oldest held",
       {{0, "zero"}, {3, "three"}, {4, "left"}},
       {4},
       Rotation::Unchanged,
       {{0, "zero"}, {3, "three"}, {4, "left"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFiles files;
    files.files = c.before;
    files.held = c.held;
    EXPECT_EQ(server_log::rotate(files), c.rotation);
    EXPECT_EQ(files.files, c.after);
  }

  // A viewer that opens a file the moment it moved can keep it from moving back: the rotation
  // says so, and still no file's bytes are gone, only under another name.
  FakeFiles files;
  files.files = all;
  files.held = {1};
  files.renamed = [&](int, int to) {
    if (to == 3) files.held.insert(3);
  };
  EXPECT_EQ(server_log::rotate(files), Rotation::Broken);
  std::multiset<std::string> kept;
  for (const auto& [index, bytes] : files.files) kept.insert(bytes);
  EXPECT_EQ(kept, (std::multiset<std::string>{"zero", "one", "two", "three"}))
      << listing(files.files);
}

TEST(ServerLogRotation, AFileAViewerHoldsKeepsTheOlderFilesAndTheNewRunsAcrossStarts) {
  for (const int held : {0, 1, 2, 3}) {
    SCOPED_TRACE(held);
    Harness h;
    const std::string full = std::string(kFileCap - 2, 'o') + "\r\n";
    h.files.files = {{0, full}, {1, "one"}, {2, "two"}, {3, "three"}};
    h.files.held = {held};
    std::string runs;
    for (int run = 0; run < 3; ++run) {
      const std::string said = "run " + std::to_string(run) + "\r\n";
      h.start("x -l");
      h.log.output(said);
      h.log.end(End::stop());
      h.log.flush();
      runs += "==== 2026-12-09 10:00:00 启动：x -l\r\n" + said +
              "==== 2026-12-09 10:00:00 结束：停止\r\n";
    }
    EXPECT_TRUE(h.notices.empty());
    const Folder kept{{0, full + runs}, {1, "one"}, {2, "two"}, {3, "three"}};
    EXPECT_TRUE(h.files.files == kept) << listing(h.files.files);
    // Let go: the next write moves everything up at once.
    h.files.held.clear();
    h.start("x -l");
    h.log.flush();
    const Folder moved{
        {0, "==== 2026-12-09 10:00:00 启动：x -l\r\n"}, {1, full + runs}, {2, "one"}, {3, "two"}};
    EXPECT_TRUE(h.files.files == moved) << listing(h.files.files);
  }
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

  // A full disk.
  h.files.refuse_append = true;
  h.log.output("x");
  h.log.flush();
  EXPECT_TRUE(h.log.failed());
  EXPECT_EQ(h.notices.size(), 2u);
  h.files.refuse_append = false;

  // A server.log a viewer holds takes a flood only as far as its own cap; the older file stays.
  h.files.files = {{0, "kept\r\n"}, {1, "one"}};
  h.files.held = {0};
  h.start();
  h.log.output(std::string(server_log::kHeldFileCap, 'r'));
  h.log.flush();
  EXPECT_TRUE(h.log.failed());
  EXPECT_EQ(h.notices.size(), 3u);
  EXPECT_FALSE(h.files.is_open);
  EXPECT_EQ(h.files.files[0].size(), server_log::kHeldFileCap);
  EXPECT_EQ(h.files.files[0].back(), 'r');
  EXPECT_EQ(h.files.files[1], "one");
  // A next run finds it as full and says so at once.
  h.start();
  h.log.flush();
  EXPECT_EQ(h.notices.size(), 4u);
  EXPECT_EQ(h.files.files[0].size(), server_log::kHeldFileCap);

  // A rotation that could not be taken back writes no more: a file may stand under a wrong name.
  h.files.files = {{0, std::string(kFileCap, 'z')}, {1, "one"}, {2, "two"}, {3, "three"}};
  h.files.held = {1};
  h.files.renamed = [&](int, int to) {
    if (to == 3) h.files.held.insert(3);
  };
  h.start();
  h.log.flush();
  EXPECT_TRUE(h.log.failed());
  EXPECT_EQ(h.notices.size(), 5u);
  EXPECT_EQ(h.files.total(), kFileCap + 11);
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
