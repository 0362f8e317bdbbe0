#include "platform/path_case.h"

#include "platform/gbk.h"

namespace path_case {
namespace {

// Small and capital forms that lie a fixed distance apart in one row of code page 936.
struct Pair {
  unsigned char lead;
  unsigned char small_first;
  unsigned char small_last;
  int to_capital;
};

constexpr Pair kPairs[] = {
    {0xA3, 0xE1, 0xFA, -0x20},  // full-width ａ-ｚ (U+FF41-FF5A)
    {0xA6, 0xC1, 0xD8, -0x20},  // Greek α-ω (U+03B1-03C9, without final sigma)
    {0xA7, 0xD1, 0xF1, -0x30},  // Cyrillic а-я with ё (U+0430-044F, U+0451)
    {0xA2, 0xA1, 0xAA, +0x50},  // small Roman numerals ⅰ-ⅹ (U+2170-2179)
};

}  // namespace

std::string folded(std::string_view text) {
  std::string out(text);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const auto c = static_cast<unsigned char>(out[i]);
    if (gbk::is_lead_byte(c) && i + 1 < out.size()) {
      const auto trail = static_cast<unsigned char>(out[i + 1]);
      for (const Pair& pair : kPairs) {
        if (c == pair.lead && trail >= pair.small_first && trail <= pair.small_last) {
          out[i + 1] = static_cast<char>(trail + pair.to_capital);
        }
      }
      ++i;
    } else if (c >= 'A' && c <= 'Z') {
      out[i] = static_cast<char>(c - 'A' + 'a');
    }
  }
  return out;
}

bool same(std::string_view a, std::string_view b) {
  return a.size() == b.size() && folded(a) == folded(b);
}

}  // namespace path_case
