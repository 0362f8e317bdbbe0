// The update check's readers of what the maker's server sends: text to integer reads full-width
// digits, signs and blanks as their ASCII forms and agrees with the C library on ASCII text; the
// manifest decision follows the build numbers only; a body is kept whole up to its limit, however
// it arrives, and refused beyond it.
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "tests/fuzz/fuzz_check.h"
#include "update/check.h"

namespace {

// The code page 936 full-width form of an ASCII character, where it has one.
std::string full_width(char c) {
  if (c == ' ') return "\xA1\xA1";
  if (c == '$') return "\xA1\xE7";
  if (c == '~') return "\xA1\xAB";
  if (c > ' ' && c < 0x7F && c != '$' && c != '~') return {'\xA3', static_cast<char>(c + 0x80)};
  return std::string(1, c);
}

int c_library_value(const std::string& ascii) {
  errno = 0;
  const long long value = std::strtoll(ascii.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::vector<std::string> parts = fuzz::fields(data + 2, size - 2, 4);

  // ASCII text (up to its first NUL, as the C library reads it) against strtoll, and again with
  // the characters the input marks written in their full-width forms.
  const std::string ascii = parts[0].substr(0, parts[0].find('\0'));
  bool plain = true;
  for (const char c : ascii) plain = plain && static_cast<unsigned char>(c) < 0x80;
  if (plain) {
    FUZZ_CHECK(update::text_to_int(ascii) == c_library_value(ascii));
    std::string wide;
    for (std::size_t i = 0; i < ascii.size(); ++i) {
      wide += (data[0] >> (i % 8)) & 1 ? full_width(ascii[i]) : std::string(1, ascii[i]);
    }
    FUZZ_CHECK(update::fullwidth_to_ascii(wide) == ascii);
    FUZZ_CHECK(update::text_to_int(wide) == update::text_to_int(ascii));
  }
  // Any bytes: the conversion only ever shortens.
  FUZZ_CHECK(update::fullwidth_to_ascii(parts[0]).size() <= parts[0].size());

  // The decision: never without both values, never for the same version text, else the builds.
  const std::string& latest = parts[1];
  const std::string& build = parts[2];
  const std::string own_version = data[1] & 1 ? latest : parts[3];
  const bool newer = update::is_newer(latest, build, own_version, parts[3]);
  if (latest.empty() || build.empty() || latest == own_version) {
    FUZZ_CHECK(!newer);
  } else {
    FUZZ_CHECK(newer == (update::text_to_int(build) > update::text_to_int(parts[3])));
  }

  // A body arriving in reads of sizes the input picks, a failed read ending it early.
  std::string body(reinterpret_cast<const char*>(data), size);
  if (data[1] & 2) {
    while (body.size() <= update::kMaxManifestBytes) body += body;
  }
  std::size_t at = 0;
  std::size_t reads = 0;
  const std::size_t fail_after = data[1] & 4 ? data[0] % 5 : SIZE_MAX;
  const std::string got = update::read_body([&](char* buf, std::size_t cap, std::size_t& n) {
    if (reads++ == fail_after) {
      n = 0;
      return false;
    }
    n = std::min({cap, body.size() - at, static_cast<std::size_t>(1 + data[reads % size] * 17)});
    std::copy_n(body.data() + at, n, buf);
    at += n;
    return true;
  });
  FUZZ_CHECK(at <= body.size());
  if (at > update::kMaxManifestBytes) {
    FUZZ_CHECK(got.empty());
  } else {
    FUZZ_CHECK(got == body.substr(0, at));
  }
  FUZZ_CHECK(update::text_view(got) == std::string_view(got).substr(0, got.find('\0')));
  return 0;
}
