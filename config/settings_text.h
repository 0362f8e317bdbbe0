// config.ini as text: which encoding its bytes are in, its sections and keys as the profile
// functions of Windows read them, and the changes a write makes to it. The whole file is read at
// once and written at once, so that every key of a run comes from one reading.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings.h"

namespace settings {

// How the bytes of config.ini are read, and written back:
//   - a UTF-8 mark (EF BB BF) or a UTF-16 mark (FF FE, FE FF) says so;
//   - without a mark, the file is UTF-8 when it holds bytes from 0x80 up, is valid UTF-8 through
//     and through, and cannot be read as GB2312 text (reads_as_gb2312). Editors such as Notepad
//     save UTF-8 without a mark; text an input method for Simplified Chinese types in GBK is
//     GB2312 nearly always, and UTF-8 of Chinese text nearly never is. A file that reads both
//     ways (only short non-ASCII texts can) is GBK, as the program has always read it;
//   - every other file is code page 936 (GBK), the encoding new files are written in.
enum class Encoding { Gbk, Utf8, Utf8Marked, Utf16Le, Utf16Be };
Encoding encoding_of(std::string_view bytes);

// Valid UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_utf8(std::string_view text);
// Every byte from 0x80 up pairs with the next into a character of two bytes from A1 to FE.
bool reads_as_gb2312(std::string_view text);

// UTF-16 bytes without their mark as UTF-8; none for an odd length or an unpaired surrogate.
std::optional<std::string> utf8_from_utf16(std::string_view bytes, bool big_endian);
// Valid UTF-8 as UTF-16 bytes; none for text that is not valid UTF-8.
std::optional<std::string> utf16_from_utf8(std::string_view text, bool big_endian);

// Conversion between GBK and UTF-8, which needs the system's tables. Either way answers none for
// a text with a character the other side has no exact counterpart for: nothing is guessed.
class CodePage {
 public:
  virtual ~CodePage() = default;
  virtual std::optional<std::string> gbk_from_utf8(std::string_view text) const = 0;
  virtual std::optional<std::string> utf8_from_gbk(std::string_view text) const = 0;
};

// The file's text, in GBK for a GBK file and in UTF-8 for every other encoding.
//
// Read as the profile functions read it: lines end at a line feed; blanks around a line, a key
// name and a value do not count; "[name]" starts a section (up to the line's last "]"); a line
// without "=" is a key without a value, which reads as missing; names are compared without
// regard to the case of ASCII letters; the first section of a name is the one that counts, and
// in it the first key of a name; one pair of matching quotes around a value is removed.
class IniText {
 public:
  // A file that is not there yet: empty, written in GBK.
  IniText() = default;
  // None when the bytes are no text in the encoding their mark names.
  static std::optional<IniText> from_bytes(std::string_view bytes);

  Encoding encoding() const { return encoding_; }
  const std::string& text() const { return text_; }
  // The value as the profile functions give it, in the text's encoding; none when missing.
  std::optional<std::string> value(std::string_view section, std::string_view key) const;
  // Gives the key the value text exactly as it is to stand in the file (in the text's
  // encoding). Only that key's line changes, or one line is added to the section, or the
  // section is added at the end; every other byte stays.
  void set(std::string_view section, std::string_view key, std::string_view value_text);
  // The file's bytes: its mark and the text in its encoding.
  std::string bytes() const;

 private:
  IniText(Encoding encoding, std::string text) : encoding_(encoding), text_(std::move(text)) {}

  Encoding encoding_ = Encoding::Gbk;
  std::string text_;
};

// One key of a text, as the program holds it: in GBK.
struct GbkValue {
  enum class State { Missing, Found, NotGbk } state = State::Missing;
  std::string text;
};
GbkValue read_gbk(const IniText& text, std::string_view section, std::string_view key,
                  const CodePage& code_page);

// The file's bytes after the entries (GBK values) are written, in the file's encoding; none when
// a value cannot be written in it. The result must read back in its own encoding: a UTF-8 file
// whose text would then pass for GBK gets a UTF-8 mark, and a GBK file whose text would pass for
// UTF-8 is written whole in UTF-8 with a mark.
std::optional<std::string> rewritten(IniText text, const std::vector<Entry>& entries,
                                     const CodePage& code_page);

// The settings from one reading of config.ini, in GBK. A value GBK cannot hold reads as missing;
// the first such key is kept, for the message that refuses the file.
class IniSource : public Source {
 public:
  explicit IniSource(const CodePage& code_page) : code_page_(code_page) {}
  void reset(IniText text);
  std::string read(const char* section, const char* key, const char* fallback) override;
  const IniText& text() const { return text_; }
  const std::string& refused_key() const { return refused_key_; }

 protected:
  const CodePage& code_page() const { return code_page_; }

 private:
  const CodePage& code_page_;
  IniText text_;
  std::string refused_key_;
};

}  // namespace settings
