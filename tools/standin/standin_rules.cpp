#include "tools/standin/standin_rules.h"

#include "platform/gbk.h"

namespace standin {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// A value from the command line as it may appear in a message: short, on one line.
std::string shown(std::string_view value) {
  std::string out = gbk::cut_whole_chars(value, 64);
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = '?';
  }
  return out;
}

// The program name: up to the next blank, or inside plain quotes; backslashes are path parts.
std::size_t read_program_name(std::string_view line, std::string& out) {
  std::size_t i = 0;
  bool quoted = false;
  for (; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && is_blank(c)) {
      break;
    } else if (gbk::char_width(line, i) == 2) {
      out.append(line.substr(i++, 2));
    } else {
      out.push_back(c);
    }
  }
  return i;
}

// Reads one argument from position i; returns the position after it.
std::size_t read_argument(std::string_view line, std::size_t i, std::string& out) {
  bool quoted = false;
  while (i < line.size()) {
    std::size_t slashes = 0;
    while (i < line.size() && line[i] == '\\') ++slashes, ++i;
    if (i < line.size() && line[i] == '"') {
      out.append(slashes / 2, '\\');
      if (slashes % 2 == 1) {
        out.push_back('"');
      } else if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
        out.push_back('"');  // "" inside quotes is a literal quote
        ++i;
      } else {
        quoted = !quoted;
      }
      ++i;
      continue;
    }
    out.append(slashes, '\\');
    if (i >= line.size() || (!quoted && is_blank(line[i]))) break;
    const std::size_t width = gbk::char_width(line, i);
    out.append(line.substr(i, width));
    i += width;
  }
  return i;
}

std::optional<std::uint16_t> port_number(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value < 1 || value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

bool is_flag(std::string_view arg) {
  return arg == "-h" || arg == "-p" || arg == "-a" || arg == "-l";
}

ParsedArguments failure(std::string why) { return {std::nullopt, std::move(why)}; }

// Raw values as they came, before any check, so each check can name its own argument.
struct RawArguments {
  std::optional<std::string> address, port, credentials;
  bool log = false;
};

std::optional<std::string> take_arguments(const std::vector<std::string>& args, RawArguments& raw) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& flag = args[i];
    // As option parsers commonly do, "--" ends the options: what follows is not read as flags.
    if (flag == "--") break;
    if (flag == "-l") {
      if (raw.log) return "参数 -l 重复。";
      raw.log = true;
      continue;
    }
    std::optional<std::string>* slot = flag == "-h"   ? &raw.address
                                       : flag == "-p" ? &raw.port
                                       : flag == "-a" ? &raw.credentials
                                                      : nullptr;
    if (!slot) return "未知参数：" + shown(flag);
    if (*slot) return "参数 " + flag + " 重复。";
    if (i + 1 >= args.size() || is_flag(args[i + 1])) return "参数 " + flag + " 缺少取值。";
    *slot = args[++i];
  }
  return std::nullopt;
}

std::optional<std::string> check_arguments(const RawArguments& raw, Options& options) {
  if (!raw.address) return "缺少参数 -h（监听地址）。";
  if (!raw.port) return "缺少参数 -p（端口）。";
  const auto ip = ipv4_address(*raw.address);
  if (!ip) return "监听地址无效：" + shown(*raw.address) + "（需要 IPv4 地址）。";
  const auto port = port_number(*raw.port);
  if (!port) return "端口必须是 1 到 65535 之间的数字：" + shown(*raw.port);
  // The value is a secret: the message must not repeat it.
  if (raw.credentials && raw.credentials->find(':') == std::string::npos) {
    return "参数 -a 的取值必须是“账号:密码”的形式。";
  }
  options.address = *raw.address;
  options.ipv4 = *ip;
  options.port = *port;
  options.access_control = raw.credentials.has_value();
  options.credentials = raw.credentials.value_or("");
  options.log_requests = raw.log;
  return std::nullopt;
}

bool is_token_char(char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool is_token(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!is_token_char(c)) return false;
  }
  return true;
}

bool is_target(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F) return false;
  }
  return true;
}

bool is_field_value(std::string_view text) {
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\t') || u == 0x7F) return false;
  }
  return true;
}

std::string_view trim_blanks(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

// Splits the head into lines without their CR LF (or bare LF), dropping the final blank line.
std::vector<std::string_view> head_lines(std::string_view head) {
  std::vector<std::string_view> lines;
  while (!head.empty()) {
    const std::size_t nl = head.find('\n');
    std::string_view line = head.substr(0, nl);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;
    lines.push_back(line);
    if (nl == std::string_view::npos) break;
    head.remove_prefix(nl + 1);
  }
  return lines;
}

bool parse_request_line(std::string_view line, Request& request) {
  const std::size_t first = line.find(' ');
  if (first == std::string_view::npos) return false;
  const std::size_t second = line.find(' ', first + 1);
  if (second == std::string_view::npos) return false;
  const std::string_view method = line.substr(0, first);
  const std::string_view target = line.substr(first + 1, second - first - 1);
  const std::string_view version = line.substr(second + 1);
  const bool http1 = version.size() == 8 && version.substr(0, 7) == "HTTP/1." &&
                     version[7] >= '0' && version[7] <= '9';
  if (!is_token(method) || !is_target(target) || !http1) return false;
  request.method = method;
  request.target = target;
  return true;
}

bool parse_header(std::string_view line, Request& request) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || !is_token(line.substr(0, colon))) return false;
  const std::string_view value = trim_blanks(line.substr(colon + 1));
  if (!is_field_value(value)) return false;
  if (gbk::equals_ignoring_ascii_case(line.substr(0, colon), "Authorization")) {
    if (request.authorization) return false;  // two answers to one question: refuse both
    request.authorization = std::string(value);
  }
  return true;
}

int base64_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

const char* reason_phrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 405:
      return "Method Not Allowed";
    case 431:
      return "Request Header Fields Too Large";
    default:
      return "Internal Server Error";
  }
}

std::string page_body(int status) {
  const std::string head =
      "<!DOCTYPE html>\n<html><head><meta charset=\"GBK\"><title>Rivermesh 服务替身</title>"
      "</head><body>\n";
  const std::string tail = "</body></html>\n";
  switch (status) {
    case 200:
      return head +
             "<h1>Rivermesh 服务替身</h1>\n<p>这是代替 Rivermesh 服务的替身程序，只用于演示和测试，"
             "不是真正的 Rivermesh 服务。</p>\n" +
             tail;
    case 400:
      return head + "<h1>400 Bad Request</h1>\n<p>请求无效。</p>\n" + tail;
    case 401:
      return head + "<h1>401 Unauthorized</h1>\n<p>需要正确的访问账号和密码。</p>\n" + tail;
    case 405:
      return head + "<h1>405 Method Not Allowed</h1>\n<p>只支持 GET 请求。</p>\n" + tail;
    case 431:
      return head + "<h1>431</h1>\n<p>请求头过大。</p>\n" + tail;
    default:
      return head + "<h1>" + std::to_string(status) + "</h1>\n" + tail;
  }
}

// A decimal number of at most max; digits only, no sign, no blanks.
std::optional<std::uint64_t> decimal(std::string_view text, std::uint64_t max) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (max - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::vector<std::string_view> split_at_colons(std::string_view text) {
  std::vector<std::string_view> parts;
  while (true) {
    const std::size_t colon = text.find(':');
    parts.push_back(text.substr(0, colon));
    if (colon == std::string_view::npos) return parts;
    text.remove_prefix(colon + 1);
  }
}

ParsedMode bad_mode(std::string_view text) {
  return {std::nullopt, std::string(kModeVariable) + " 的取值无效：" + shown(text) +
                            "（可用：flood:字节数、exit:毫秒数、exit-after:毫秒数:退出码、random:"
                            "字节数:种子、ctrl-c:毫秒数、ignore-ctrl-c）"};
}

// Texts of the flood lines; their lengths differ so that line starts drift against any fixed
// read size.
constexpr const char* kFloodPhrases[] = {
    "替身服务正在输出大量日志，检验读取与显示。",
    "日志压力测试：每一行都带有序号和中文。",
    "双字节字符会被二百六十字节的读取边界切开吗？",
    "Rivermesh 替身 abcd 混排，检验奇数偏移。",
};

}  // namespace

std::vector<std::string> split_command_line(std::string_view line) {
  std::vector<std::string> args(1);
  std::size_t i = read_program_name(line, args.front());
  while (true) {
    while (i < line.size() && is_blank(line[i])) ++i;
    if (i >= line.size()) break;
    args.emplace_back();
    i = read_argument(line, i, args.back());
  }
  return args;
}

ParsedArguments parse_arguments(const std::vector<std::string>& args) {
  RawArguments raw;
  if (auto why = take_arguments(args, raw)) return failure(std::move(*why));
  Options options;
  if (auto why = check_arguments(raw, options)) return failure(std::move(*why));
  return {std::move(options), {}};
}

std::optional<std::uint32_t> ipv4_address(std::string_view text) {
  if (gbk::equals_ignoring_ascii_case(text, "localhost")) return 0x7F000001u;
  std::uint32_t address = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (text.empty() || text.front() != '.') return std::nullopt;
      text.remove_prefix(1);
    }
    std::size_t digits = 0;
    unsigned value = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9' && digits < 3) {
      value = value * 10 + static_cast<unsigned>(text[digits++] - '0');
    }
    if (digits == 0 || value > 255) return std::nullopt;
    text.remove_prefix(digits);
    address = (address << 8) | value;
  }
  if (!text.empty()) return std::nullopt;
  return address;
}

std::size_t head_length(std::string_view received) {
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < received.size(); ++i) {
    if (received[i] != '\n') continue;
    const std::size_t line_size = i - line_start;
    if (line_size == 0 || (line_size == 1 && received[line_start] == '\r')) return i + 1;
    line_start = i + 1;
  }
  return 0;
}

std::optional<Request> parse_request_head(std::string_view head) {
  const std::vector<std::string_view> lines = head_lines(head);
  Request request;
  if (lines.empty() || !parse_request_line(lines.front(), request)) return std::nullopt;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (!parse_header(lines[i], request)) return std::nullopt;
  }
  return request;
}

std::optional<std::string> base64_decode(std::string_view text) {
  std::size_t padding = 0;
  while (!text.empty() && text.back() == '=' && padding < 2) text.remove_suffix(1), ++padding;
  if (padding > 0 && (text.size() + padding) % 4 != 0) return std::nullopt;
  if (text.size() % 4 == 1) return std::nullopt;
  std::string out;
  unsigned bits = 0;
  int bit_count = 0;
  for (char c : text) {
    const int v = base64_value(c);
    if (v < 0) return std::nullopt;
    bits = (bits << 6) | static_cast<unsigned>(v);
    bit_count += 6;
    if (bit_count >= 8) {
      bit_count -= 8;
      out.push_back(static_cast<char>((bits >> bit_count) & 0xFF));
    }
  }
  return out;
}

bool credentials_match(std::string_view authorization, const std::vector<std::string>& accepted) {
  const std::size_t space = authorization.find(' ');
  if (space == std::string_view::npos) return false;
  if (!gbk::equals_ignoring_ascii_case(authorization.substr(0, space), "Basic")) return false;
  const auto decoded = base64_decode(trim_blanks(authorization.substr(space + 1)));
  if (!decoded) return false;
  for (const std::string& pair : accepted) {
    if (*decoded == pair) return true;
  }
  return false;
}

int status_for(const Request& request, bool access_control,
               const std::vector<std::string>& accepted) {
  if (access_control &&
      !(request.authorization && credentials_match(*request.authorization, accepted))) {
    return 401;
  }
  return request.method == "GET" ? 200 : 405;
}

std::optional<Answer> answer_for(std::string_view received, bool access_control,
                                 const std::vector<std::string>& accepted) {
  if (received.empty()) return std::nullopt;
  const std::size_t head = head_length(received);
  const bool too_large = head == 0 ? received.size() > kMaxHeadBytes : head > kMaxHeadBytes;
  if (too_large) return Answer{431, {}, {}};
  const auto request = head == 0 ? std::nullopt : parse_request_head(received.substr(0, head));
  if (!request) return Answer{400, {}, {}};
  return Answer{status_for(*request, access_control, accepted), request->method, request->target};
}

std::string build_response(int status) {
  const std::string body = page_body(status);
  std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reason_phrase(status) + "\r\n";
  out += "Content-Type: text/html; charset=GBK\r\n";
  out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  out += "Cache-Control: no-store\r\n";
  out += "Connection: close\r\n";
  if (status == 401) out += "WWW-Authenticate: Basic realm=\"Rivermesh\"\r\n";
  if (status == 405) out += "Allow: GET\r\n";
  return out + "\r\n" + body;
}

std::string start_line(const Options& options) {
  return "服务已启动：http://" + shown(options.address) + ":" + std::to_string(options.port) +
         "（Rivermesh 服务的替身，仅用于演示和测试）";
}

std::string request_log_line(std::string_view method, std::string_view target, int status) {
  return shown(method.empty() ? "-" : method) + " " +
         (target.empty() ? std::string("-") : gbk::cut_whole_chars(target, 200)) + " " +
         std::to_string(status);
}

std::string listen_failed_line(const Options& options, bool address_in_use, int error_code) {
  if (address_in_use) {
    return "端口 " + std::to_string(options.port) + " 已被占用，替身服务无法启动。";
  }
  return "无法在 " + shown(options.address) + ":" + std::to_string(options.port) +
         " 上监听（错误码 " + std::to_string(error_code) + "），替身服务无法启动。";
}

std::string usage_line() {
  return "用法：rivermesh_windows_amd64.exe -h 地址 -p 端口 [-a 账号:密码] [-l]";
}

ParsedMode parse_test_mode(std::string_view text) {
  if (text.empty()) return {TestMode{}, {}};
  const std::vector<std::string_view> parts = split_at_colons(text);
  TestMode mode;
  if (parts[0] == "flood" && parts.size() == 2) {
    const auto bytes = decimal(parts[1], kMaxModeBytes);
    if (!bytes) return bad_mode(text);
    mode.kind = TestMode::Kind::Flood;
    mode.bytes = static_cast<std::size_t>(*bytes);
  } else if (parts[0] == "exit" && parts.size() == 2) {
    const auto ms = decimal(parts[1], kMaxExitDelayMs);
    if (!ms) return bad_mode(text);
    mode.kind = TestMode::Kind::Exit;
    mode.delay_ms = static_cast<std::uint32_t>(*ms);
  } else if (parts[0] == "exit-after" && parts.size() == 3) {
    const auto ms = decimal(parts[1], kMaxExitDelayMs);
    const auto code = decimal(parts[2], UINT32_MAX);
    if (!ms || !code) return bad_mode(text);
    mode.kind = TestMode::Kind::Exit;
    mode.delay_ms = static_cast<std::uint32_t>(*ms);
    mode.exit_code = static_cast<std::uint32_t>(*code);
  } else if (parts[0] == "ctrl-c" && parts.size() == 2) {
    const auto ms = decimal(parts[1], kMaxExitDelayMs);
    if (!ms) return bad_mode(text);
    mode.kind = TestMode::Kind::CtrlCExit;
    mode.delay_ms = static_cast<std::uint32_t>(*ms);
  } else if (parts[0] == "ignore-ctrl-c" && parts.size() == 1) {
    mode.kind = TestMode::Kind::CtrlCIgnore;
  } else if (parts[0] == "listen-after" && parts.size() == 2) {
    const auto ms = decimal(parts[1], kMaxExitDelayMs);
    if (!ms) return bad_mode(text);
    mode.kind = TestMode::Kind::ListenAfter;
    mode.delay_ms = static_cast<std::uint32_t>(*ms);
  } else if (parts[0] == "no-listen" && parts.size() == 1) {
    mode.kind = TestMode::Kind::NoListen;
  } else if (parts[0] == "fail" && parts.size() == 2) {
    const auto code = decimal(parts[1], UINT32_MAX);
    if (!code) return bad_mode(text);
    mode.kind = TestMode::Kind::Fail;
    mode.exit_code = static_cast<std::uint32_t>(*code);
  } else if (parts[0] == "random" && parts.size() == 3) {
    const auto bytes = decimal(parts[1], kMaxModeBytes);
    const auto seed = decimal(parts[2], UINT32_MAX);
    if (!bytes || !seed) return bad_mode(text);
    mode.kind = TestMode::Kind::Random;
    mode.bytes = static_cast<std::size_t>(*bytes);
    mode.seed = static_cast<std::uint32_t>(*seed);
  } else {
    return bad_mode(text);
  }
  return {mode, {}};
}

std::string flood_line(std::size_t index) {
  std::string number = std::to_string(index);
  if (number.size() < 7) number.insert(0, 7 - number.size(), '0');
  constexpr std::size_t kPhrases = sizeof kFloodPhrases / sizeof kFloodPhrases[0];
  return "第" + number + "行：" + kFloodPhrases[index % kPhrases] + "\r\n";
}

std::string flood_text(std::size_t bytes) {
  std::string out;
  out.reserve(bytes);
  for (std::size_t i = 0; out.size() < bytes; ++i) {
    const std::string line = flood_line(i);
    const std::size_t room = bytes - out.size();
    if (line.size() <= room) {
      out += line;
    } else if (room == 1) {
      out += '\n';
    } else {
      std::string cut = gbk::cut_whole_chars(line, room - 2);
      cut.resize(room - 2, '.');
      out += cut + "\r\n";
    }
  }
  return out;
}

std::string random_bytes(std::size_t bytes, std::uint32_t seed) {
  std::string out(bytes, '\0');
  std::uint64_t state = seed;
  std::uint64_t word = 0;
  for (std::size_t i = 0; i < bytes; ++i) {
    if (i % 8 == 0) {
      state += 0x9E3779B97F4A7C15ull;
      word = state;
      word = (word ^ (word >> 30)) * 0xBF58476D1CE4E5B9ull;
      word = (word ^ (word >> 27)) * 0x94D049BB133111EBull;
      word ^= word >> 31;
    }
    out[i] = static_cast<char>((word >> (8 * (i % 8))) & 0xFF);
  }
  return out;
}

std::string report_line(std::uint64_t write_ms) {
  return "write_ms=" + std::to_string(write_ms) + "\r\n";
}

}  // namespace standin
