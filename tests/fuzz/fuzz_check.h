// What the fuzz targets share: a property that does not hold stops the run like a crash, so that
// libFuzzer keeps the input that broke it; and the inputs' simple framing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gbk.h"

#define FUZZ_CHECK(condition)                                                                 \
  do {                                                                                        \
    if (!(condition)) {                                                                       \
      std::fprintf(stderr, "property broken at %s:%d: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                           \
    }                                                                                         \
  } while (false)

namespace fuzz {

// Inputs are fields parted by 0x1F (unit separator), so that seeds stay readable; missing fields
// are empty.
inline std::vector<std::string> fields(const std::uint8_t* data, std::size_t size,
                                       std::size_t count) {
  std::vector<std::string> out(count);
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  for (std::size_t i = 0; i < count && !rest.empty(); ++i) {
    const std::size_t end = i + 1 == count ? std::string_view::npos : rest.find('\x1F');
    out[i] = std::string(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  return out;
}

// Whether a character of text begins at pos, walking from its start.
inline bool starts_char(std::string_view text, std::size_t pos) {
  std::size_t i = 0;
  while (i < pos) i += gbk::char_width(text, i);
  return i == pos;
}

// For each position of text and its end, whether a character begins there.
inline std::vector<bool> char_starts(std::string_view text) {
  std::vector<bool> starts(text.size() + 1, false);
  for (std::size_t i = 0; i < text.size(); i += gbk::char_width(text, i)) starts[i] = true;
  starts[text.size()] = true;
  return starts;
}

}  // namespace fuzz
