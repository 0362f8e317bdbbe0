#include "tools/standin/standin_rules.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace standin {
namespace {

using Args = std::vector<std::string>;

TEST(StandinCommandLine, SplitsTheLaunchScriptLines) {
  EXPECT_EQ(split_command_line("rivermesh_windows_amd64.exe -h \"0.0.0.0\" -p 8888 -l"),
            (Args{"rivermesh_windows_amd64.exe", "-h", "0.0.0.0", "-p", "8888", "-l"}));
  EXPECT_EQ(split_command_line("x.exe -h \"127.0.0.1\" -p 80 -a \"用户 名:p a:ss\" -l"),
            (Args{"x.exe", "-h", "127.0.0.1", "-p", "80", "-a", "用户 名:p a:ss", "-l"}));
}

TEST(StandinCommandLine, FollowsTheRuntimeQuotingRules) {
  // The program name keeps its backslashes and its quotes only group.
  EXPECT_EQ(split_command_line("\"C:\\my dir\\s.exe\"\t a\\\\b \"\""),
            (Args{"C:\\my dir\\s.exe", "a\\\\b", ""}));
  EXPECT_EQ(split_command_line("s a\\\"b \"c\\\\\" \"d\"\"e\" f\"g h\"i"),
            (Args{"s", "a\"b", "c\\", "d\"e", "fg hi"}));
  EXPECT_EQ(split_command_line("s   "), (Args{"s"}));
  EXPECT_EQ(split_command_line(""), (Args{""}));
}

TEST(StandinCommandLine, NeverTakesATrailByteForAnEscape) {
  // 0x81 0x5C is one character whose second byte looks like a backslash.
  EXPECT_EQ(split_command_line("s \"a\x81\x5C\" b"), (Args{"s", "a\x81\x5C", "b"}));
  EXPECT_EQ(split_command_line("\"d\x81\x5C\"s.exe -l"), (Args{"d\x81\x5Cs.exe", "-l"}));
}

TEST(StandinArguments, AcceptsEveryFormInAnyOrder) {
  auto parsed = parse_arguments({"-l", "-p", "08888", "-a", "user:pa:ss", "-h", "0.0.0.0"});
  ASSERT_TRUE(parsed.options) << parsed.error;
  EXPECT_EQ(parsed.options->address, "0.0.0.0");
  EXPECT_EQ(parsed.options->ipv4, 0u);
  EXPECT_EQ(parsed.options->port, 8888);
  EXPECT_TRUE(parsed.options->access_control);
  EXPECT_EQ(parsed.options->credentials, "user:pa:ss");
  EXPECT_TRUE(parsed.options->log_requests);

  parsed = parse_arguments({"-h", "127.0.0.1", "-p", "65535"});
  ASSERT_TRUE(parsed.options) << parsed.error;
  EXPECT_EQ(parsed.options->ipv4, 0x7F000001u);
  EXPECT_EQ(parsed.options->port, 65535);
  EXPECT_FALSE(parsed.options->access_control);
  EXPECT_FALSE(parsed.options->log_requests);

  parsed = parse_arguments({"-h", "1.2.3.4", "-p", "1", "-a", ":"});
  ASSERT_TRUE(parsed.options) << parsed.error;
  EXPECT_EQ(parsed.options->credentials, ":");

  // "--" ends the options, as it does for the real server: the flags after it do not count.
  parsed = parse_arguments({"-h", "0.0.0.0", "-p", "8888", "--", "-a", "me:pw", "-l"});
  ASSERT_TRUE(parsed.options) << parsed.error;
  EXPECT_FALSE(parsed.options->access_control);
  EXPECT_FALSE(parsed.options->log_requests);
}

struct BadArguments {
  Args args;
  std::string says;
};

TEST(StandinArguments, RefusesUnusableArgumentsWithAReason) {
  const std::vector<BadArguments> cases = {
      {{"-p", "80"}, "-h"},
      {{"-h", "127.0.0.1"}, "-p"},
      {{"-h", "127.0.0.1", "-p", "0"}, "65535"},
      {{"-h", "127.0.0.1", "-p", "65536"}, "65535"},
      {{"-h", "127.0.0.1", "-p", "8a"}, "65535"},
      {{"-h", "127.0.0.1", "-p", "    "}, "65535"},
      {{"-h", "127.0.0.1", "-p", "80", "-x"}, "-x"},
      {{"-h", "127.0.0.1", "-p", "80", "8080"}, "8080"},
      {{"-h", "127.0.0.1", "-p", "80", "-a"}, "-a"},
      {{"-h", "-p", "80"}, "-h"},
      {{"-h", "1.1.1.1", "-h", "2.2.2.2", "-p", "80"}, "重复"},
      {{"-h", "127.0.0.1", "-p", "80", "-l", "-l"}, "重复"},
      {{"-h", "example", "-p", "80"}, "example"},
  };
  for (const BadArguments& c : cases) {
    const ParsedArguments parsed = parse_arguments(c.args);
    EXPECT_FALSE(parsed.options) << c.says;
    EXPECT_NE(parsed.error.find(c.says), std::string::npos) << parsed.error;
  }
}

TEST(StandinArguments, NeverRepeatsTheSecretInAMessage) {
  const ParsedArguments parsed = parse_arguments({"-h", "127.0.0.1", "-p", "80", "-a", "secret"});
  EXPECT_FALSE(parsed.options);
  EXPECT_NE(parsed.error.find("-a"), std::string::npos);
  EXPECT_EQ(parsed.error.find("secret"), std::string::npos);
}

TEST(StandinArguments, KeepsMessagesOnOneShortLine) {
  const ParsedArguments parsed =
      parse_arguments({"-h", "127.0.0.1", "-p", "80", "-z\r\n" + std::string(500, 'x')});
  EXPECT_EQ(parsed.error.find('\n'), std::string::npos);
  EXPECT_LT(parsed.error.size(), 120u);
}

TEST(StandinAddress, ReadsDottedIpv4Only) {
  EXPECT_EQ(ipv4_address("192.168.1.20"), 0xC0A80114u);
  EXPECT_EQ(ipv4_address("255.255.255.255"), 0xFFFFFFFFu);
  EXPECT_EQ(ipv4_address("LocalHost"), 0x7F000001u);
  for (const char* bad : {"", "1.2.3", "1.2.3.4.", "1..3.4", "256.1.1.1", "1.2.3.4 ", " 1.2.3.4",
                          "0001.2.3.4", "::1", "1.2.3.-4"}) {
    EXPECT_FALSE(ipv4_address(bad)) << bad;
  }
}

TEST(StandinRequest, FindsTheEndOfTheHead) {
  EXPECT_EQ(head_length("GET / HTTP/1.1\r\nHost: a\r\n"), 0u);
  EXPECT_EQ(head_length("GET / HTTP/1.1\r\nHost: a\r\n\r\nbody"), 27u);
  EXPECT_EQ(head_length("GET / HTTP/1.0\n\n"), 16u);
  EXPECT_EQ(head_length(""), 0u);
}

TEST(StandinRequest, ReadsMethodTargetAndAuthorization) {
  auto request = parse_request_head(
      "GET /a?b=1 HTTP/1.1\r\nHost: x\r\naUTHORIZATION: \t Basic abc= \r\nX-Empty:\r\n\r\n");
  ASSERT_TRUE(request);
  EXPECT_EQ(request->method, "GET");
  EXPECT_EQ(request->target, "/a?b=1");
  EXPECT_EQ(request->authorization, "Basic abc=");

  request = parse_request_head("DELETE * HTTP/1.0\n\n");
  ASSERT_TRUE(request);
  EXPECT_EQ(request->method, "DELETE");
  EXPECT_FALSE(request->authorization);
}

TEST(StandinRequest, RefusesMalformedHeads) {
  for (const char* bad : {
           "\r\n",
           "GET /\r\n\r\n",
           "GET / HTTP/2.0\r\n\r\n",
           "GET  / HTTP/1.1\r\n\r\n",
           "GET /\x01 HTTP/1.1\r\n\r\n",
           "GET /\xB1\xED HTTP/1.1\r\n\r\n",
           "GET / HTTP/1.1\r\nNoColon\r\n\r\n",
           "GET / HTTP/1.1\r\nBad Name: x\r\n\r\n",
           "GET / HTTP/1.1\r\nA: b\r\n folded\r\n\r\n",
           "GET / HTTP/1.1\r\nA: b\x01\r\n\r\n",
           "GET / HTTP/1.1\r\nAuthorization: Basic a\r\nAuthorization: Basic b\r\n\r\n",
       }) {
    EXPECT_FALSE(parse_request_head(bad)) << bad;
  }
}

TEST(StandinCredentials, DecodesBase64) {
  EXPECT_EQ(base64_decode("dXNlcjpwYTpzcw=="), "user:pa:ss");
  EXPECT_EQ(base64_decode("dXNlcjpwYTpzcw"), "user:pa:ss");
  EXPECT_EQ(base64_decode("YWI="), "ab");
  EXPECT_EQ(base64_decode("YWJj"), "abc");
  EXPECT_EQ(base64_decode("+/8="), "\xFB\xFF");
  EXPECT_EQ(base64_decode(""), "");
  for (const char* bad : {"YW*j", "Y", "YWJjZ", "YW=j", "YWI===", "YQ=", "YWJj\n"}) {
    EXPECT_FALSE(base64_decode(bad)) << bad;
  }
}

TEST(StandinCredentials, MatchesOnlyTheExactPair) {
  const std::vector<std::string> accepted = {"user:pa:ss", "\xD3\xC3:p"};
  EXPECT_TRUE(credentials_match("Basic dXNlcjpwYTpzcw==", accepted));
  EXPECT_TRUE(credentials_match("bAsIc   dXNlcjpwYTpzcw==", accepted));
  EXPECT_TRUE(credentials_match("Basic 08M6cA==", accepted));           // second spelling
  EXPECT_FALSE(credentials_match("Basic dXNlcjpwYTpz", accepted));      // user:pa:s
  EXPECT_FALSE(credentials_match("Basic dXNlcjpwYTpzc3M=", accepted));  // user:pa:sss
  EXPECT_FALSE(credentials_match("Bearer dXNlcjpwYTpzcw==", accepted));
  EXPECT_FALSE(credentials_match("Basic", accepted));
  EXPECT_FALSE(credentials_match("Basic !!!!", accepted));
  EXPECT_FALSE(credentials_match("Basic dXNlcjpwYTpzcw==", {}));
}

TEST(StandinAnswer, ChecksSizeSyntaxCredentialsThenMethod) {
  const std::vector<std::string> accepted = {"user:pa:ss"};
  const std::string good = "GET /x HTTP/1.1\r\nAuthorization: Basic dXNlcjpwYTpzcw==\r\n\r\n";
  EXPECT_FALSE(answer_for("", true, accepted));
  EXPECT_EQ(answer_for("GET / HTTP/1.1\r\nHost:", true, accepted)->status, 400);
  EXPECT_EQ(answer_for(std::string(kMaxHeadBytes + 1, 'a'), true, accepted)->status, 431);
  const std::string big = "GET / HTTP/1.1\r\nA: " + std::string(kMaxHeadBytes, 'a') + "\r\n\r\n";
  EXPECT_EQ(answer_for(big, false, accepted)->status, 431);
  EXPECT_EQ(answer_for("GET / HTTP/1.1\r\n\r\n", true, accepted)->status, 401);
  EXPECT_EQ(answer_for("POST / HTTP/1.1\r\n\r\n", true, accepted)->status, 401);
  EXPECT_EQ(answer_for("POST / HTTP/1.1\r\n\r\n", false, accepted)->status, 405);
  EXPECT_EQ(answer_for("get / HTTP/1.1\r\n\r\n", false, accepted)->status, 405);
  EXPECT_EQ(answer_for("GET / HTTP/1.1\r\n\r\n", false, accepted)->status, 200);

  const auto answer = answer_for(good + "ignored body", true, accepted);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 200);
  EXPECT_EQ(answer->method, "GET");
  EXPECT_EQ(answer->target, "/x");
  EXPECT_EQ(request_log_line(answer->method, answer->target, answer->status), "GET /x 200");
  EXPECT_EQ(request_log_line("", "", 400), "- - 400");
}

TEST(StandinResponse, IsCompleteAndSaysWhatItIs) {
  for (int status : {200, 400, 401, 405, 431}) {
    const std::string response = build_response(status);
    const std::size_t split = response.find("\r\n\r\n");
    ASSERT_NE(split, std::string::npos);
    const std::string head = response.substr(0, split + 2);
    const std::string body = response.substr(split + 4);
    EXPECT_EQ(head.rfind("HTTP/1.1 " + std::to_string(status) + " ", 0), 0u) << head;
    EXPECT_NE(head.find("Content-Length: " + std::to_string(body.size()) + "\r\n"),
              std::string::npos);
    EXPECT_NE(head.find("Content-Type: text/html; charset=GBK\r\n"), std::string::npos);
    EXPECT_NE(head.find("Connection: close\r\n"), std::string::npos);
    EXPECT_EQ(head.find("WWW-Authenticate") != std::string::npos, status == 401);
    EXPECT_NE(body.find("替身"), std::string::npos);
  }
  EXPECT_NE(build_response(401).find("WWW-Authenticate: Basic realm=\"Rivermesh\"\r\n"),
            std::string::npos);
}

// Position just after the last whole character that starts at or before `end`, walking from
// `from`: equal to `end` exactly when `end` is not inside a double-byte character.
std::size_t whole_chars_until(const std::string& text, std::size_t from, std::size_t end) {
  std::size_t i = from;
  while (i < end) {
    const std::size_t width = static_cast<unsigned char>(text[i]) >= 0x80 ? 2 : 1;
    if (i + width > end) break;
    i += width;
  }
  return i;
}

TEST(StandinMode, ReadsEveryModeAndRefusesTheRest) {
  auto parsed = parse_test_mode("");
  ASSERT_TRUE(parsed.mode);
  EXPECT_EQ(parsed.mode->kind, TestMode::Kind::Serve);

  parsed = parse_test_mode("flood:20000000");
  ASSERT_TRUE(parsed.mode) << parsed.error;
  EXPECT_EQ(parsed.mode->kind, TestMode::Kind::Flood);
  EXPECT_EQ(parsed.mode->bytes, 20000000u);

  parsed = parse_test_mode("exit:0");
  ASSERT_TRUE(parsed.mode) << parsed.error;
  EXPECT_EQ(parsed.mode->kind, TestMode::Kind::Exit);
  EXPECT_EQ(parsed.mode->delay_ms, 0u);
  EXPECT_EQ(parsed.mode->exit_code, 0u);

  parsed = parse_test_mode("exit-after:6000:4294967295");
  ASSERT_TRUE(parsed.mode) << parsed.error;
  EXPECT_EQ(parsed.mode->kind, TestMode::Kind::Exit);
  EXPECT_EQ(parsed.mode->delay_ms, 6000u);
  EXPECT_EQ(parsed.mode->exit_code, 4294967295u);

  parsed = parse_test_mode("fail:5");
  ASSERT_TRUE(parsed.mode) << parsed.error;
  EXPECT_EQ(parsed.mode->kind, TestMode::Kind::Fail);
  EXPECT_EQ(parsed.mode->exit_code, 5u);

  parsed = parse_test_mode("random:268435456:4294967295");
  ASSERT_TRUE(parsed.mode) << parsed.error;
  EXPECT_EQ(parsed.mode->kind, TestMode::Kind::Random);
  EXPECT_EQ(parsed.mode->bytes, kMaxModeBytes);
  EXPECT_EQ(parsed.mode->seed, 4294967295u);

  parsed = parse_test_mode("ctrl-c:500");
  ASSERT_TRUE(parsed.mode) << parsed.error;
  EXPECT_EQ(parsed.mode->kind, TestMode::Kind::CtrlCExit);
  EXPECT_EQ(parsed.mode->delay_ms, 500u);

  parsed = parse_test_mode("ignore-ctrl-c");
  ASSERT_TRUE(parsed.mode) << parsed.error;
  EXPECT_EQ(parsed.mode->kind, TestMode::Kind::CtrlCIgnore);

  parsed = parse_test_mode("listen-after:2000");
  ASSERT_TRUE(parsed.mode) << parsed.error;
  EXPECT_EQ(parsed.mode->kind, TestMode::Kind::ListenAfter);
  EXPECT_EQ(parsed.mode->delay_ms, 2000u);

  parsed = parse_test_mode("no-listen");
  ASSERT_TRUE(parsed.mode) << parsed.error;
  EXPECT_EQ(parsed.mode->kind, TestMode::Kind::NoListen);

  for (const char* bad : {"flood",
                          "flood:",
                          "flood:-1",
                          "flood:1x",
                          "flood: 1",
                          "flood:268435457",
                          "Flood:1",
                          "flood:1:2",
                          "exit:86400001",
                          "exit:",
                          "random:10",
                          "random:10:4294967296",
                          "random::1",
                          "serve",
                          "flood:99999999999999999999999",
                          "ctrl-c",
                          "ctrl-c:",
                          "ctrl-c:86400001",
                          "ignore-ctrl-c:1",
                          "ignore-ctrl-c:",
                          "Ctrl-C:1",
                          "exit-after:5",
                          "exit-after:5:",
                          "exit-after:5:4294967296",
                          "exit-after::1",
                          "exit-after:5:1:1",
                          "exit-after:5:-1",
                          "fail:",
                          "fail:4294967296",
                          "listen-after",
                          "listen-after:",
                          "listen-after:86400001",
                          "no-listen:1"}) {
    parsed = parse_test_mode(bad);
    EXPECT_FALSE(parsed.mode) << bad;
    EXPECT_NE(parsed.error.find(kModeVariable), std::string::npos) << bad;
  }
}

TEST(StandinFlood, LinesAreNumberedDoubleByteTextOfFiftyToSixtyBytes) {
  for (std::size_t i : {0u, 1u, 2u, 3u, 4u, 357142u, 9999999u, 10000000u, 99999999u}) {
    const std::string line = flood_line(i);
    EXPECT_GE(line.size(), 50u) << i;
    EXPECT_LE(line.size(), 60u) << i;
    std::string number = std::to_string(i);
    if (number.size() < 7) number.insert(0, 7 - number.size(), '0');
    EXPECT_EQ(line.find(number), 2u) << i;  // after "第"
    EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
    EXPECT_EQ(whole_chars_until(line, 0, line.size()), line.size()) << i;
    EXPECT_GE(std::count_if(line.begin(), line.end(),
                            [](char c) { return static_cast<unsigned char>(c) >= 0x80; }),
              20)
        << i;
  }
  EXPECT_NE(flood_line(1), flood_line(2));
}

TEST(StandinFlood, TextHasExactlyTheAskedSizeAndEndsOnAWholeCharacterAndLine) {
  const std::string full = flood_text(4000);
  for (std::size_t n = 0; n <= 1200; ++n) {
    const std::string text = flood_text(n);
    ASSERT_EQ(text.size(), n);
    if (n == 0) continue;
    ASSERT_EQ(text.back(), '\n') << n;
    // Every line but the last is the generator's own.
    const std::size_t last = n < 2 ? std::string::npos : text.rfind('\n', n - 2);
    const std::size_t last_start = last == std::string::npos ? 0 : last + 1;
    ASSERT_EQ(text.compare(0, last_start, full, 0, last_start), 0) << n;
    ASSERT_EQ(whole_chars_until(text, last_start, n), n) << n;
    // The last line is a whole-character prefix of the generator's line, padded with dots.
    std::string tail = text.substr(last_start);
    while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r' || tail.back() == '.')) {
      tail.pop_back();
    }
    ASSERT_EQ(full.compare(last_start, tail.size(), tail), 0) << n;
  }
  const std::string big = flood_text(20000000);
  EXPECT_EQ(big.size(), 20000000u);
  EXPECT_EQ(big.compare(0, full.size() - 60, full, 0, full.size() - 60), 0);
  EXPECT_EQ(whole_chars_until(big, big.size() - 200, big.size()), big.size());
  EXPECT_EQ(big.back(), '\n');
}

TEST(StandinFlood, ManyReadsOf260BytesEndInsideACharacter) {
  const std::string text = flood_text(260 * 200);
  std::size_t split = 0;
  std::size_t pos = 0;
  for (std::size_t end = 260; end <= text.size(); end += 260) {
    pos = whole_chars_until(text, pos, end);
    if (pos != end) ++split;
  }
  EXPECT_GT(split, 40u);
  EXPECT_LT(split, 200u);
}

TEST(StandinRandom, IsExactDeterministicAndHoldsEveryByteValue) {
  const std::string bytes = random_bytes(65536, 7);
  ASSERT_EQ(bytes.size(), 65536u);
  EXPECT_EQ(bytes, random_bytes(65536, 7));
  EXPECT_EQ(random_bytes(13, 7), bytes.substr(0, 13));
  EXPECT_NE(random_bytes(64, 8), bytes.substr(0, 64));
  EXPECT_TRUE(random_bytes(0, 7).empty());
  // The same bytes on every platform: SplitMix64's first word from 0, little end first.
  EXPECT_EQ(random_bytes(8, 0), "\xAF\xCD\x1D\x7B\x39\xA8\x20\xE2");

  std::vector<bool> seen(256);
  bool lone_lead = false;  // a lead byte that no GBK trail byte follows
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    seen[c] = true;
    if (c >= 0x81 && i + 1 < bytes.size() && static_cast<unsigned char>(bytes[i + 1]) < 0x40) {
      lone_lead = true;
    }
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 256);
  EXPECT_TRUE(lone_lead);
}

TEST(StandinReport, IsOneLine) { EXPECT_EQ(report_line(1234), "write_ms=1234\r\n"); }

}  // namespace
}  // namespace standin
