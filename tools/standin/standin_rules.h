// Rules of the stand-in server: a small program with the outside server's file name that the
// tool can start in demos and tests. It never claims to be the real server. Everything here is
// portable; the Winsock loop lives in standin_win.cpp. Texts are GBK byte strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

// Exit codes, so a test or a script can tell the failures apart.
inline constexpr int kExitBadArguments = 2;
inline constexpr int kExitListenFailed = 3;
inline constexpr int kExitNetworkFailed = 4;

// A request head larger than this is refused; nothing legitimate comes near it.
inline constexpr std::size_t kMaxHeadBytes = 8 * 1024;

struct Options {
  std::string address;     // as given; see ipv4_address for the parsed form
  std::uint32_t ipv4 = 0;  // host byte order
  std::uint16_t port = 0;
  bool access_control = false;
  std::string credentials;  // "account:password" exactly as given, with access control only
  bool log_requests = false;
};

struct ParsedArguments {
  std::optional<Options> options;  // empty when the arguments are unusable
  std::string error;               // GBK text saying why, when options is empty
};

// Splits a command line the way the Windows C runtime does: blanks separate arguments, double
// quotes group, 2n backslashes before a quote give n and a grouping quote, 2n+1 give n and a
// literal quote. The first argument (the program) only knows plain quotes. Double-byte
// characters are copied whole, so a trail byte of 0x5C is never an escape.
std::vector<std::string> split_command_line(std::string_view line);

// Parses the arguments after the program name: -h ADDRESS -p PORT [-a ACCOUNT:PASSWORD] [-l],
// in any order; "--" ends them, and whatever follows it is ignored.
ParsedArguments parse_arguments(const std::vector<std::string>& args);

// Dotted IPv4 address in host byte order; "localhost" means 127.0.0.1.
std::optional<std::uint32_t> ipv4_address(std::string_view text);

// Length of the request head including its blank line ("\r\n\r\n", or "\n\n" from lax
// clients), or 0 while it is not complete.
std::size_t head_length(std::string_view received);

struct Request {
  std::string method;
  std::string target;
  std::optional<std::string> authorization;  // value of the Authorization header
};

// Reads the request line and headers; empty when the head is malformed.
std::optional<Request> parse_request_head(std::string_view head);

// Standard base64 with optional padding; empty on any character outside the alphabet.
std::optional<std::string> base64_decode(std::string_view text);

// True when the Authorization value is Basic credentials equal to one of the accepted
// "account:password" byte strings (a browser may send them in another encoding than ours).
bool credentials_match(std::string_view authorization, const std::vector<std::string>& accepted);

// Status for a parsed request: 401 without accepted credentials (when required), 405 for
// any method but GET, otherwise 200.
int status_for(const Request& request, bool access_control,
               const std::vector<std::string>& accepted);

struct Answer {
  int status = 400;
  std::string method;  // empty when the request could not be read
  std::string target;
};

// What to answer once reading a connection stopped (head complete, peer gone, size or time
// limit reached). Empty when nothing at all arrived: the connection then closes silently.
std::optional<Answer> answer_for(std::string_view received, bool access_control,
                                 const std::vector<std::string>& accepted);

// Whole HTTP response for a status; the connection closes after it.
std::string build_response(int status);

// Console lines, without line terminator.
std::string start_line(const Options& options);
std::string request_log_line(std::string_view method, std::string_view target, int status);
std::string listen_failed_line(const Options& options, bool address_in_use, int error_code);
std::string usage_line();

// Test modes. The tool gives the server nothing but its command line, but the server inherits
// the tool's environment: tests and the benchmark choose a misbehaviour through this variable.
// Absent or empty, the stand-in only serves. In every other mode it first listens and prints its
// start line as usual.
//   flood:N        N bytes of numbered Chinese text lines (flood_text), then "flood-end"
//   exit:MS        exits with code 0 about MS milliseconds after the start line
//   exit-after:MS:CODE  the same with exit code CODE
//   random:N:SEED  N pseudo-random bytes (random_bytes), then "random-end" on a line of its own
//   ctrl-c:MS      on Ctrl+C, takes MS milliseconds to put its affairs in order (as a server
//                  closing its files would), then exits with code 0
//   ignore-ctrl-c  serves on whatever Ctrl+C it is sent
//   listen-after:MS  runs MS milliseconds before it listens and prints its start line (a server
//                  that takes a while to come up)
//   no-listen      runs and never listens (a server stuck before its web port); ends on Ctrl+C
//   fail:CODE      exits with code CODE before it listens (a server that cannot come up)
// When the report variable names a file, the stand-in writes report_line() into it once all the
// flood or random bytes are written, and kInterruptedReport when it ends on Ctrl+C.
inline constexpr char kModeVariable[] = "RMT_STANDIN_MODE";
inline constexpr char kReportVariable[] = "RMT_STANDIN_REPORT";

// The bytes are made before they are written, so that only writing is timed: keep them within
// what a 32-bit process can hold twice.
inline constexpr std::size_t kMaxModeBytes = std::size_t{256} << 20;
inline constexpr std::uint32_t kMaxExitDelayMs = 24u * 60 * 60 * 1000;

struct TestMode {
  enum class Kind {
    Serve, Flood, Exit, Random, CtrlCExit, CtrlCIgnore, ListenAfter, NoListen, Fail
  };
  Kind kind = Kind::Serve;
  std::size_t bytes = 0;        // flood and random
  std::uint32_t delay_ms = 0;   // exit, ctrl-c, listen-after
  std::uint32_t exit_code = 0;  // exit, fail
  std::uint32_t seed = 0;       // random
};

struct ParsedMode {
  std::optional<TestMode> mode;  // empty when the value is unusable
  std::string error;             // GBK text saying why, when mode is empty
};

ParsedMode parse_test_mode(std::string_view text);

// Line `index` of the flood, with its "\r\n": 50 to 60 bytes, the decimal index (seven digits
// at least) and double-byte text. Line lengths differ and some are odd, so 260-byte reads end
// inside double-byte characters at many places.
std::string flood_line(std::size_t index);

// Exactly `bytes` bytes: flood_line(0), flood_line(1), ... The last line, when it does not fit,
// is cut on a whole character and padded with '.' so that it still ends with "\r\n"; with one
// byte of room left that byte is a lone "\n". The text therefore always ends on a whole
// character and a line break, and a reader can rebuild it from the size alone.
std::string flood_text(std::size_t bytes);

// `bytes` bytes from a SplitMix64 sequence started at `seed`: every byte value, NULs and lone
// lead bytes included; the same on every platform.
std::string random_bytes(std::size_t bytes, std::uint32_t seed);

// Console lines, without line terminator, that end the flood and the random bytes.
inline constexpr char kFloodEnd[] = "flood-end";
inline constexpr char kRandomEnd[] = "random-end";

// The whole report file of a stand-in that ended on Ctrl+C.
inline constexpr char kInterruptedReport[] = "ctrl-c\r\n";

// The whole report file: "write_ms=<milliseconds>\r\n".
std::string report_line(std::uint64_t write_ms);

}  // namespace standin
