#include "update/check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "update/info.h"
#include "update/url.h"

using update::is_newer;
using update::text_to_int;

TEST(UpdateDecision, TheVersionTextOnlyStopsWhenEqual) {
  EXPECT_TRUE(is_newer("1.0.3", "4", "1.0.2", "3"));
  EXPECT_TRUE(is_newer("1.0.1", "4", "1.0.2", "3"));  // an older-looking text still announces
  EXPECT_FALSE(is_newer("1.0.2", "9", "1.0.2", "3"));
  EXPECT_TRUE(is_newer("1.0.2 ", "9", "1.0.2", "3"));  // byte for byte
  EXPECT_FALSE(is_newer("1.0.3", "3", "1.0.2", "3"));
  EXPECT_FALSE(is_newer("1.0.3", "2", "1.0.2", "3"));
  EXPECT_FALSE(is_newer("1.0.3", "abc", "1.0.2", "3"));
  EXPECT_FALSE(is_newer("", "4", "1.0.2", "3"));
  EXPECT_FALSE(is_newer("1.0.3", "", "1.0.2", "3"));
  EXPECT_TRUE(is_newer("1.0.3", "４", "1.0.2", "3"));
  EXPECT_FALSE(is_newer("1.0.3", "-4", "1.0.2", "3"));  // signed
  // Its balloon comes once a build (as recorded, none yet), unless the user asked.
  EXPECT_TRUE(update::announce(false, "4", ""));
  EXPECT_FALSE(update::announce(false, "４", "4"));
  EXPECT_FALSE(update::announce(false, "4", "5"));
  EXPECT_TRUE(update::announce(false, "5", "4"));
  EXPECT_TRUE(update::announce(true, "4", "4"));
}

TEST(UpdateDecision, TextToIntegerReadsLikeAtoiAfterFullWidthConversion) {
  EXPECT_EQ(text_to_int("4"), 4);
  EXPECT_EQ(text_to_int("  \t+12abc"), 12);
  EXPECT_EQ(text_to_int("-7"), -7);
  EXPECT_EQ(text_to_int("abc"), 0);
  EXPECT_EQ(text_to_int(""), 0);
  EXPECT_EQ(text_to_int("- 5"), 0);
  EXPECT_EQ(text_to_int("１２"), 12);
  EXPECT_EQ(text_to_int("　－３"), -3);  // ideographic space and full-width minus
  EXPECT_EQ(text_to_int("4个"), 4);
  EXPECT_EQ(text_to_int("99999999999999999999"), 2147483647);
  EXPECT_EQ(text_to_int("-2147483648"), -2147483648LL);
  EXPECT_EQ(text_to_int("-99999999999"), -2147483648LL);
}

TEST(UpdateDecision, FullWidthConversionKeepsOtherCharactersWhole) {
  EXPECT_EQ(update::fullwidth_to_ascii("ＡＢｃ！～＄"), "ABc!~$");
  // The yen sign shares the dollar sign's place in its row and is no ASCII form.
  EXPECT_EQ(update::fullwidth_to_ascii("￥"), "￥");
  EXPECT_EQ(update::fullwidth_to_ascii("版本号"), "版本号");
  // A trail byte that looks like a row-A3 lead byte is never taken as one.
  const std::string tricky = "\xB0\xA3\xA3\xB4";  // a character ending in 0xA3, then ４
  EXPECT_EQ(update::fullwidth_to_ascii(tricky),
            "\xB0\xA3"
            "4");
}

TEST(UpdateDecision, NoticeTexts) {
  const update::Notice n = update::make_notice("1.0.3", "1.0.2", "https://p.example/x");
  EXPECT_EQ(n.balloon_title, "Rivermesh Tools 发现新版本 v1.0.3 ！");
  EXPECT_EQ(n.balloon_text, "请前往更新：https://p.example/x");
  EXPECT_EQ(n.window_title, "Rivermesh Tools    v1.0.2    发现新版本：v1.0.3");
}

TEST(UpdateDecision, AboutTextHasThreeLines) {
  const std::string text = update::about_text("1.0.2", "https://p.example/x");
  EXPECT_EQ(text.rfind("当前版本：v1.0.2\r\n官方网站：https://p.example/x\r\n", 0), 0u);
  EXPECT_EQ(text.find("\r\n\r\n"), std::string::npos);
  EXPECT_NE(text.substr(text.size() - 2), "\r\n");
  size_t lines = 1;
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) {
    ++lines;
  }
  EXPECT_EQ(lines, 3u);
}

TEST(UpdateDownload, BodyIsReadToTheEndUnderTheCap) {
  auto reader = [](std::vector<std::string> chunks, bool fail_last) {
    return [chunks, fail_last, i = size_t{0}](char* buf, size_t cap, size_t& got) mutable {
      if (i >= chunks.size()) {
        got = 0;
        return true;
      }
      const std::string& c = chunks[i++];
      EXPECT_LE(c.size(), cap);
      c.copy(buf, c.size());
      got = c.size();
      return !(fail_last && i == chunks.size());
    };
  };
  EXPECT_EQ(update::read_body(reader({"ab", "cd"}, false)), "abcd");
  // A failed read keeps what came before it, its own bytes included.
  EXPECT_EQ(update::read_body(reader({"ab", "cd"}, true)), "abcd");
  const std::string chunk(4096, 'x');
  EXPECT_EQ(update::read_body(reader(std::vector<std::string>(16, chunk), false)).size(),
            update::kMaxManifestBytes);
  EXPECT_TRUE(update::read_body(reader(std::vector<std::string>(17, chunk), false)).empty());
}

TEST(UpdateDownload, TheDeadlineClosesEveryHandleOnceAndEndsTheCheckOnce) {
  std::vector<std::uintptr_t> closed;
  const auto handle = [](std::uintptr_t value) { return reinterpret_cast<void*>(value); };
  {
    update::DeadlineHandles handles(
        [&](void* h) { closed.push_back(reinterpret_cast<std::uintptr_t>(h)); });
    EXPECT_FALSE(handles.adopt(nullptr));
    EXPECT_TRUE(handles.adopt(handle(1)));  // connection
    EXPECT_TRUE(handles.adopt(handle(2)));  // request
    EXPECT_TRUE(handles.adopt(handle(3)));
    handles.close(handle(3));  // done with in time: closed by its owner
    EXPECT_EQ(closed, (std::vector<std::uintptr_t>{3}));
    // The deadline closes the rest while a call may still block on them, the request first.
    EXPECT_TRUE(handles.expire());
    EXPECT_EQ(closed, (std::vector<std::uintptr_t>{3, 2, 1}));
    EXPECT_FALSE(handles.expire()) << "given up once";
    // The worker's own closes come after and close nothing twice; a handle it gets later is
    // closed at once.
    handles.close(handle(2));
    handles.close(handle(1));
    EXPECT_FALSE(handles.adopt(handle(4)));
    EXPECT_EQ(closed, (std::vector<std::uintptr_t>{3, 2, 1, 4}));
    // The worker learns that the check was given up, so that it lets the gate be.
    EXPECT_TRUE(handles.expired());
    EXPECT_FALSE(handles.finish());
  }
  {
    // Finished in time: the deadline that follows closes nothing and ends nothing.
    closed.clear();
    update::DeadlineHandles handles(
        [&](void* h) { closed.push_back(reinterpret_cast<std::uintptr_t>(h)); });
    EXPECT_TRUE(handles.adopt(handle(5)));
    EXPECT_TRUE(handles.finish());
    EXPECT_FALSE(handles.expire());
    EXPECT_TRUE(closed.empty());
    EXPECT_FALSE(handles.expired());
    handles.close(handle(5));
    EXPECT_EQ(closed, (std::vector<std::uintptr_t>{5}));
  }
}

TEST(UpdateUrl, SplitsSchemeHostPortAndPath) {
  auto u = update::split_url("https://www.example.com/Ver.ini");
  ASSERT_TRUE(u);
  EXPECT_TRUE(u->secure);
  EXPECT_EQ(u->host, "www.example.com");
  EXPECT_EQ(u->port, 443u);
  EXPECT_EQ(u->path, "/Ver.ini");
  EXPECT_EQ(u->user, "");

  u = update::split_url("HTTP://127.0.0.1:38517/a/Ver.ini?x=1&y=2#frag?no");
  ASSERT_TRUE(u);
  EXPECT_FALSE(u->secure);
  EXPECT_EQ(u->host, "127.0.0.1");
  EXPECT_EQ(u->port, 38517u);
  EXPECT_EQ(u->path, "/a/Ver.ini?x=1&y=2");

  u = update::split_url("http://user:pa:ss@host.example#/ignored");
  ASSERT_TRUE(u);
  EXPECT_EQ(u->host, "host.example");
  EXPECT_EQ(u->port, 80u);
  EXPECT_EQ(u->path, "/");
  EXPECT_EQ(u->user, "user");
  EXPECT_EQ(u->password, "pa:ss");

  u = update::split_url("http://h.example?q=1");
  ASSERT_TRUE(u);
  EXPECT_EQ(u->host, "h.example");
  EXPECT_EQ(u->path, "/?q=1");

  u = update::split_url("https://[::1]:8443/v");
  ASSERT_TRUE(u);
  EXPECT_EQ(u->host, "[::1]");
  EXPECT_EQ(u->port, 8443u);
}

TEST(UpdateUrl, RefusesWhatCannotBeRequested) {
  for (const char* bad :
       {"", "www.example.com/Ver.ini", "ftp://h/x", "http:///x", "http://:80/", "http://h:0/",
        "http://h:65536/", "http://h:8a/", "http://h:/", "http://#h/x", "https://[::1/x"}) {
    EXPECT_FALSE(update::split_url(bad)) << bad;
  }
}

namespace {

// The network and the program folder of one check, with a tiny profile reader.
class FakePlatform final : public update::Platform {
 public:
  bool online = true;
  std::string body;
  std::map<std::string, std::string> files;
  std::vector<std::string> calls;
  std::string last_written;

  bool probe() override {
    calls.push_back("probe");
    return online;
  }
  std::string download(const std::string& url) override {
    calls.push_back("download " + url);
    return body;
  }
  void write_file(const std::string& path, const std::string& bytes) override {
    calls.push_back("write " + path);
    files[path] = bytes;
    last_written = bytes;
  }
  std::string read_ini(const std::string& path, const char* section, const char* key) override {
    const std::string text(update::text_view(files[path]));
    const std::string header = "[" + std::string(section) + "]\r\n";
    const size_t start = text.find(header);
    if (start == std::string::npos) return {};
    const std::string line = std::string(key) + "=";
    const size_t at = text.find(line, start);
    if (at == std::string::npos) return {};
    const size_t end = text.find("\r\n", at);
    return text.substr(at + line.size(), end - at - line.size());
  }
  void delete_file(const std::string& path) override {
    calls.push_back("delete " + path);
    files.erase(path);
  }
};

const update::Config kConfig{"C:\\程序", "1.0.2", "3", "https://m.example/Ver.ini",
                             "https://p.example/"};
const std::string kScratch = "C:\\程序\\Ver.ini";

std::vector<update::Notice> check(FakePlatform& platform) {
  std::vector<update::Notice> notices;
  update::run_check(platform, kConfig, [&](const update::Notice& n) { notices.push_back(n); });
  return notices;
}

}  // namespace

TEST(UpdateCheck, ANewerManifestIsAnnouncedAndTheScratchFileRemoved) {
  FakePlatform p;
  p.body = "[Rivermesh Tools]\r\n最新版本=1.0.3\r\n版本号=4\r\n";
  const auto notices = check(p);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].window_title, "Rivermesh Tools    v1.0.2    发现新版本：v1.0.3");
  EXPECT_EQ(notices[0].build, "4");
  EXPECT_EQ(p.calls, (std::vector<std::string>{"probe", "download https://m.example/Ver.ini",
                                               "write " + kScratch, "delete " + kScratch}));
  EXPECT_TRUE(p.files.empty());
}

TEST(UpdateCheck, OfflineTouchesNoFile) {
  FakePlatform p;
  p.online = false;
  p.files[kScratch] = "the user's own";
  EXPECT_TRUE(check(p).empty());
  EXPECT_EQ(p.calls, std::vector<std::string>{"probe"});
  EXPECT_EQ(p.files[kScratch], "the user's own");
}

TEST(UpdateCheck, AnEmptyOrZeroLedBodyIsNotWrittenButTheFileIsDeleted) {
  for (const std::string& body : {std::string(), std::string("\0[Rivermesh Tools]", 18)}) {
    FakePlatform p;
    p.body = body;
    p.files[kScratch] = "the user's own";
    EXPECT_TRUE(check(p).empty());
    EXPECT_EQ(p.calls.back(), "delete " + kScratch);
    EXPECT_EQ(p.calls.size(), 3u);  // probe, download, delete
    EXPECT_TRUE(p.files.empty());
  }
}

TEST(UpdateCheck, TheWholeBodyIsWrittenEvenPastAZeroByte) {
  FakePlatform p;
  p.body = "[Rivermesh Tools]\r\n最新版本=1.0.3\r\n版本号=4\r\n" + std::string("\0tail", 5);
  EXPECT_EQ(check(p).size(), 1u);
  EXPECT_EQ(p.last_written, p.body);
}
