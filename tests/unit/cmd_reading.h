// A model of how the hidden shell reads the one line of run.bat, for the launch line's property
// test and its fuzz target: the bytes decoded in code page 936, the shell's cut of long lines,
// then the shell's quoting and operators, then the server's argument split. Invalid pairs are read
// both ways a decoder may read them, since a safe line must be safe under either.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings.h"
#include "server/launch.h"

namespace cmd_reading {

enum class InvalidPair {
  kLeadAlone,  // the lead byte reads as '?', the byte after it as itself
  kSwallowed,  // the lead byte and the byte after it read as one '?' (Wine 8 does this)
};
inline constexpr InvalidPair kBothReadings[] = {InvalidPair::kLeadAlone, InvalidPair::kSwallowed};

// The shell reads a script line up to this many characters and runs the rest as a line of its
// own. Counted in bytes too: a shell that counted them would cut a line of double-byte characters
// sooner, and a safe line must be safe either way.
inline constexpr std::size_t kLineCut = 8191;

inline const char* name(InvalidPair reading) {
  return reading == InvalidPair::kLeadAlone ? "lead alone" : "pair swallowed";
}

// Valid double-byte characters become values above U+FFFF that stand for nothing special.
inline std::u32string decode(std::string_view bytes, InvalidPair reading) {
  auto is_trail = [](unsigned char c) {
    return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFE);
  };
  std::u32string out;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      out += static_cast<char32_t>(c);
      ++i;
    } else if (c == 0x80 || c == 0xFF) {
      out += c == 0x80 ? U'\u20AC' : U'\uF8F5';
      ++i;
    } else if (i + 1 < bytes.size() && is_trail(static_cast<unsigned char>(bytes[i + 1]))) {
      out += static_cast<char32_t>(0x10000 + (c << 8) + static_cast<unsigned char>(bytes[i + 1]));
      i += 2;
    } else {
      out += U'?';
      i += i + 1 < bytes.size() && reading == InvalidPair::kSwallowed ? 2 : 1;
    }
  }
  return out;
}

struct Reading {
  std::string fault;                   // empty when the line reads as one plain command
  std::vector<std::u32string> args;    // as the server receives them
  std::vector<std::u32string> quoted;  // what stands between each pair of quotes
};

// The shell's part: '%' expands anywhere, a control character ends or alters the line, and
// & | < > ^ ( ) act outside quotes. Then the server splits what the shell passes on with the
// usual rules: blanks part arguments outside quotes, quotes group, backslashes escape a quote.
inline Reading read(const std::u32string& line) {
  Reading r;
  if (line.size() > kLineCut) {
    r.fault = "line cut by the shell, the rest runs as a command";
    return r;
  }
  bool quoted = false;
  std::u32string segment;
  for (const char32_t c : line) {
    if (c == U'%') r.fault = "'%' on the line";
    if (c < 0x20 || c == 0x7F) r.fault = "control character on the line";
    if (c == U'"') {
      if (quoted) r.quoted.push_back(segment);
      segment.clear();
      quoted = !quoted;
    } else if (quoted) {
      segment += c;
    } else if (std::u32string_view(U"&|<>^()").find(c) != std::u32string_view::npos) {
      r.fault = "shell operator outside quotes";
    }
    if (!r.fault.empty()) return r;
  }
  if (quoted) {
    r.fault = "unclosed quote";
    return r;
  }
  std::u32string arg;
  bool in_arg = false;
  quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char32_t c = line[i];
    if (c == U'\\') {
      std::size_t n = 0;
      while (i + n < line.size() && line[i + n] == U'\\') ++n;
      const bool before_quote = i + n < line.size() && line[i + n] == U'"';
      arg.append(before_quote ? n / 2 : n, U'\\');
      if (before_quote && n % 2 == 1) {
        arg += U'"';
        ++n;
      }
      i += n - 1;
      in_arg = true;
    } else if (c == U'"') {
      quoted = !quoted;
      in_arg = true;
    } else if (!quoted && (c == U' ' || c == U'\t')) {
      if (in_arg) r.args.push_back(arg);
      arg.clear();
      in_arg = false;
    } else {
      arg += c;
      in_arg = true;
    }
  }
  if (in_arg) r.args.push_back(arg);
  return r;
}

// What the line of these fields must read as: empty when it does, else what went wrong.
// The server reads its port as one argument, and an option parser may take "--" or a flag in its
// place for the end of the options; it parts the account:password pair at the first colon.
inline std::string line_fault(const launch::Fields& f, InvalidPair reading) {
  const std::string line = launch::command_line(f);
  if (line.size() > kLineCut) return "line of more bytes than the shell reads, the rest runs";
  const Reading r = read(decode(line, reading));
  if (!r.fault.empty()) return r.fault;
  auto as_is = [&](std::string_view text) { return decode(text, reading); };
  std::vector<std::u32string> want = {as_is(settings::kServerExe), U"-h", as_is(f.ip), U"-p",
                                      as_is(f.port)};
  std::vector<std::u32string> want_quoted = {as_is(f.ip)};
  if (f.access_control) {
    want_quoted.push_back(as_is(f.user) + U":" + as_is(f.password));
    want.insert(want.end(), {U"-a", want_quoted.back()});
  }
  want.push_back(U"-l");
  if (r.quoted != want_quoted) return "quotes around something else than the two fields";
  if (r.args != want) return "the server receives other arguments";
  if (!f.port.empty() && f.port.front() == '-') return "the port reads as a flag";
  if (f.access_control) {
    const std::u32string& pair = want_quoted.back();
    if (pair.substr(0, pair.find(U':')) != as_is(f.user)) return "the server reads another account";
  }
  return {};
}

}  // namespace cmd_reading
