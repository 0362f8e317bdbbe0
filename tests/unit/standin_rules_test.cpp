#include "tools/standin/standin_rules.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace standin
