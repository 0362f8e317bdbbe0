#include "config/settings_text.h"

#include "platform/gbk.h"

namespace settings {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";

unsigned char byte(std::string_view text, std::size_t i) {
  return static_cast<unsigned char>(text[i]);
}

bool high(unsigned char c) { return c >= 0x80; }

bool has_high_byte(std::string_view text) {
  for (const char c : text) {
    if (high(static_cast<unsigned char>(c))) return true;
  }
  return false;
}

bool blank(char c) { return profile_blank(c); }

bool utf16_unit(std::string_view bytes, std::size_t i, bool big_endian, unsigned& unit) {
  if (i + 1 >= bytes.size()) return false;
  const unsigned a = byte(bytes, i), b = byte(bytes, i + 1);
  unit = big_endian ? (a << 8 | b) : (b << 8 | a);
  return true;
}

void put_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void put_utf16(std::string& out, unsigned unit, bool big_endian) {
  const char hi = static_cast<char>(unit >> 8), lo = static_cast<char>(unit & 0xFF);
  out += big_endian ? hi : lo;
  out += big_endian ? lo : hi;
}

// Length of the valid UTF-8 sequence at i (and its code point), or 0.
std::size_t utf8_sequence(std::string_view text, std::size_t i, char32_t& c) {
  const unsigned char b = byte(text, i);
  if (b < 0x80) {
    c = b;
    return 1;
  }
  std::size_t n = 0;
  char32_t min = 0;
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2, c = b & 0x1F, min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3, c = b & 0x0F, min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4, c = b & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    const unsigned char t = byte(text, i + k);
    if ((t & 0xC0) != 0x80) return 0;
    c = c << 6 | (t & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return n;
}

bool names_match(std::string_view in_file, std::string_view wanted) {
  if (in_file.size() != wanted.size()) return false;
  for (std::size_t i = 0; i < in_file.size(); ++i) {
    char a = in_file[i], b = wanted[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

// One line of the text as the profile functions see it.
struct Line {
  std::size_t begin = 0;  // first byte
  std::size_t end = 0;    // the line break's first byte (a carriage return before the feed)
  std::size_t next = 0;   // the next line's first byte
  std::size_t first = 0;  // the text between blanks: [first, last)
  std::size_t last = 0;
  bool section = false;
  std::string_view name;   // of the section or the key; empty for neither
  std::size_t equals = 0;  // position of "=" in a key line, or npos
};

class Lines {
 public:
  Lines(std::string_view text, bool gbk) : text_(text), gbk_(gbk) {}

  // False at the end.
  bool next(Line& line) {
    if (pos_ >= text_.size()) return false;
    line = Line{};
    line.begin = pos_;
    // A line ends at the next line feed; only where none follows does a carriage return end it,
    // as the profile functions split a file.
    std::size_t brk = text_.find('\n', pos_);
    if (brk == std::string_view::npos) brk = text_.find('\r', pos_);
    if (brk == std::string_view::npos) {
      line.end = line.next = text_.size();
    } else {
      line.next = brk + 1;
      line.end = brk;
      if (text_[brk] == '\n' && brk > pos_ && text_[brk - 1] == '\r') --line.end;
    }
    pos_ = line.next;
    line.first = line.begin;
    line.last = line.end;
    while (line.first < line.last && blank(text_[line.first])) ++line.first;
    while (line.last > line.first && blank(text_[line.last - 1])) --line.last;
    line.equals = std::string_view::npos;
    if (line.first == line.last) return true;
    const std::string_view body = text_.substr(line.first, line.last - line.first);
    if (body.front() == '[') {
      const std::size_t close = last_close(body);
      if (close != std::string_view::npos) {
        line.section = true;
        line.name = body.substr(1, close - 1);
        return true;
      }
    }
    // "=" (0x3D) is never the second byte of a GBK character.
    const std::size_t eq = body.find('=');
    std::size_t name_end = eq == std::string_view::npos ? body.size() : eq;
    while (name_end > 0 && blank(body[name_end - 1])) --name_end;
    line.name = body.substr(0, name_end);
    if (eq != std::string_view::npos) line.equals = line.first + eq;
    return true;
  }

 private:
  // The last "]" that is a character of its own: in GBK, 0x5D may end a double-byte character.
  std::size_t last_close(std::string_view body) const {
    std::size_t found = std::string_view::npos;
    for (std::size_t i = 0; i < body.size(); i += gbk_ ? gbk::char_width(body, i) : 1) {
      if (body[i] == ']') found = i;
    }
    return found;
  }

  std::string_view text_;
  bool gbk_;
  std::size_t pos_ = 0;
};

// The line break for lines added at pos: the one the text uses already, else the one the profile
// functions write. Where no line feed follows, lines end at a carriage return (see Lines); a line
// feed added there would join them, so lines added among those end in a carriage return too.
std::string_view line_break(std::string_view text, std::size_t pos) {
  constexpr std::size_t npos = std::string_view::npos;
  const std::size_t feed = pos == 0 ? npos : text.rfind('\n', pos - 1);
  const std::size_t carriage = text.find('\r', feed == npos ? 0 : feed + 1);
  if (carriage < pos && text.find('\n', pos) == npos) return "\r";
  const std::size_t lf = text.find('\n');
  if (lf != npos) return lf > 0 && text[lf - 1] == '\r' ? "\r\n" : "\n";
  return text.find('\r') != npos ? "\r" : "\r\n";
}

bool ends_in_break(std::string_view text) {
  return !text.empty() && (text.back() == '\n' || text.back() == '\r');
}

}  // namespace

bool is_utf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    const std::size_t n = utf8_sequence(text, i, c);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

bool reads_as_gb2312(std::string_view text) {
  const auto in_rows = [](unsigned char c) { return c >= 0xA1 && c <= 0xFE; };
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!high(byte(text, i))) continue;
    if (i + 1 >= text.size() || !in_rows(byte(text, i)) || !in_rows(byte(text, i + 1))) {
      return false;
    }
    ++i;
  }
  return true;
}

Encoding encoding_of(std::string_view bytes) {
  if (bytes.starts_with(kUtf8Mark)) return Encoding::Utf8Marked;
  if (bytes.starts_with(kUtf16LeMark)) return Encoding::Utf16Le;
  if (bytes.starts_with(kUtf16BeMark)) return Encoding::Utf16Be;
  if (has_high_byte(bytes) && is_utf8(bytes) && !reads_as_gb2312(bytes)) return Encoding::Utf8;
  return Encoding::Gbk;
}

std::optional<std::string> utf8_from_utf16(std::string_view bytes, bool big_endian) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    unsigned unit = 0;
    utf16_unit(bytes, i, big_endian, unit);
    if (unit >= 0xDC00 && unit <= 0xDFFF) return std::nullopt;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      unsigned low = 0;
      if (!utf16_unit(bytes, i + 2, big_endian, low) || low < 0xDC00 || low > 0xDFFF) {
        return std::nullopt;
      }
      put_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
      i += 2;
    } else {
      put_utf8(out, unit);
    }
  }
  return out;
}

std::optional<std::string> utf16_from_utf8(std::string_view text, bool big_endian) {
  std::string out;
  out.reserve(text.size() * 2);
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    const std::size_t n = utf8_sequence(text, i, c);
    if (n == 0) return std::nullopt;
    i += n;
    if (c >= 0x10000) {
      c -= 0x10000;
      put_utf16(out, 0xD800 + (c >> 10), big_endian);
      put_utf16(out, 0xDC00 + (c & 0x3FF), big_endian);
    } else {
      put_utf16(out, c, big_endian);
    }
  }
  return out;
}

std::optional<IniText> IniText::from_bytes(std::string_view bytes) {
  const Encoding encoding = encoding_of(bytes);
  switch (encoding) {
    case Encoding::Gbk:
    case Encoding::Utf8:
      return IniText(encoding, std::string(bytes));
    case Encoding::Utf8Marked:
      return IniText(encoding, std::string(bytes.substr(kUtf8Mark.size())));
    case Encoding::Utf16Le:
    case Encoding::Utf16Be: {
      auto text = utf8_from_utf16(bytes.substr(2), encoding == Encoding::Utf16Be);
      if (!text) return std::nullopt;
      return IniText(encoding, std::move(*text));
    }
  }
  return std::nullopt;
}

std::optional<std::string> IniText::value(std::string_view section, std::string_view key) const {
  Lines lines(text_, encoding_ == Encoding::Gbk);
  Line line;
  bool in_section = false;
  while (lines.next(line)) {
    if (line.section) {
      // Only the first section of the name counts.
      if (in_section) return std::nullopt;
      in_section = names_match(line.name, section);
      continue;
    }
    if (!in_section || line.name.empty() || !names_match(line.name, key)) continue;
    if (line.equals == std::string_view::npos) return std::nullopt;
    std::size_t from = line.equals + 1;
    while (from < line.last && blank(text_[from])) ++from;
    std::string_view v = std::string_view(text_).substr(from, line.last - from);
    // The second byte of a GBK character is never a quote.
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
      v = v.substr(1, v.size() - 2);
    }
    return std::string(v);
  }
  return std::nullopt;
}

void IniText::set(std::string_view section, std::string_view key, std::string_view value_text) {
  std::string entry(key);
  entry.append(1, '=').append(value_text);
  Lines lines(text_, encoding_ == Encoding::Gbk);
  Line line;
  bool in_section = false;
  std::size_t insert_at = std::string::npos;  // after the section's last line that is not blank
  while (lines.next(line)) {
    if (line.section) {
      if (in_section) break;
      in_section = names_match(line.name, section);
      if (in_section) insert_at = line.next;
      continue;
    }
    if (!in_section) continue;
    if (line.first != line.last) insert_at = line.next;
    if (line.name.empty() || !names_match(line.name, key)) continue;
    if (line.equals == std::string_view::npos) {
      text_.replace(line.last, line.end - line.last, std::string(1, '=').append(value_text));
    } else {
      text_.replace(line.equals + 1, line.end - line.equals - 1, value_text);
    }
    return;
  }
  const bool at_end = insert_at == std::string::npos || insert_at == text_.size();
  const std::string brk(line_break(text_, at_end ? text_.size() : insert_at));
  if (at_end && !text_.empty() && !ends_in_break(text_)) text_ += brk;
  if (insert_at == std::string::npos) {
    text_.append(1, '[').append(section).append(1, ']').append(brk).append(entry).append(brk);
  } else {
    text_.insert(at_end ? text_.size() : insert_at, entry.append(brk));
  }
}

std::string IniText::bytes() const {
  switch (encoding_) {
    case Encoding::Gbk:
    case Encoding::Utf8:
      return text_;
    case Encoding::Utf8Marked:
      return std::string(kUtf8Mark) + text_;
    case Encoding::Utf16Le:
      return std::string(kUtf16LeMark) + utf16_from_utf8(text_, false).value_or("");
    case Encoding::Utf16Be:
      return std::string(kUtf16BeMark) + utf16_from_utf8(text_, true).value_or("");
  }
  return text_;
}

GbkValue read_gbk(const IniText& text, std::string_view section, std::string_view key,
                  const CodePage& code_page) {
  std::optional<std::string> v = text.value(section, key);
  if (!v) return {};
  if (text.encoding() == Encoding::Gbk || !has_high_byte(*v)) {
    return {GbkValue::State::Found, std::move(*v)};
  }
  std::optional<std::string> gbk = code_page.gbk_from_utf8(*v);
  if (!gbk) return {GbkValue::State::NotGbk, {}};
  return {GbkValue::State::Found, std::move(*gbk)};
}

std::optional<std::string> rewritten(IniText text, const std::vector<Entry>& entries,
                                     const CodePage& code_page) {
  const bool gbk = text.encoding() == Encoding::Gbk;
  for (const Entry& e : entries) {
    std::string v = written_value(e.value);
    if (!gbk && has_high_byte(v)) {
      std::optional<std::string> converted = code_page.utf8_from_gbk(v);
      // Valid UTF-8 is what the UTF-16 forms are made from.
      if (!converted || !is_utf8(*converted)) return std::nullopt;
      v = std::move(*converted);
    }
    text.set(e.section, e.key, v);
  }
  std::string bytes = text.bytes();
  const Encoding reads_as = encoding_of(bytes);
  if (text.encoding() == Encoding::Utf8 && reads_as != Encoding::Utf8) {
    return std::string(kUtf8Mark) + bytes;
  }
  if (gbk && reads_as != Encoding::Gbk) {
    std::optional<std::string> whole = code_page.utf8_from_gbk(bytes);
    if (!whole) return std::nullopt;
    return std::string(kUtf8Mark) + *whole;
  }
  return bytes;
}

void IniSource::reset(IniText text) {
  text_ = std::move(text);
  refused_key_.clear();
}

std::string IniSource::read(const char* section, const char* key, const char* fallback) {
  GbkValue v = read_gbk(text_, section, key, code_page_);
  if (v.state == GbkValue::State::NotGbk && refused_key_.empty()) refused_key_ = key;
  return v.state == GbkValue::State::Found ? std::move(v.text) : std::string(fallback);
}

}  // namespace settings
