// config.ini values and the cuts of stored and shown texts: whatever the bytes, a value keeps the
// longest prefix that fits and ends on a whole character, the flags read as only "false" is off,
// and the tray record holds a whole-character prefix of each text with zeros after it. Whatever
// the file's bytes, a file that can be read gives its bytes back unchanged, and a key written
// into it reads back as written, in the file's own encoding, and leaves the other keys alone.
#include <algorithm>
#include <map>
#include <optional>
#include <utility>

#include "config/settings.h"
#include "config/settings_text.h"
#include "tests/fuzz/fuzz_check.h"
#include "tray/notify_record.h"

namespace {

class FuzzedSource : public settings::Source {
 public:
  std::map<std::string, std::string> values;  // by key; missing keys answer the fallback
  bool file_exists = false;
  bool default_exists = false;

  std::string read(const char*, const char* key, const char* fallback) override {
    const auto found = values.find(key);
    return found == values.end() ? fallback : found->second;
  }
  bool exists(const std::string& path) override {
    return path == settings::default_server_path("C:\\prog") ? default_exists : file_exists;
  }
};

// A code page of ASCII alone: every other character is one it cannot convert.
class AsciiCodePage final : public settings::CodePage {
 public:
  std::optional<std::string> gbk_from_utf8(std::string_view text) const override {
    return ascii(text);
  }
  std::optional<std::string> utf8_from_gbk(std::string_view text) const override {
    return ascii(text);
  }

 private:
  static std::optional<std::string> ascii(std::string_view text) {
    for (const char c : text) {
      if (static_cast<unsigned char>(c) >= 0x80) return std::nullopt;
    }
    return std::string(text);
  }
};

void check_file(const std::string& bytes, const std::string& raw_value) {
  const AsciiCodePage code_page;
  const std::optional<settings::IniText> text = settings::IniText::from_bytes(bytes);
  if (!text) return;
  FUZZ_CHECK(text->bytes() == bytes);
  // A value holds no line break: the window's fields give none.
  std::string value;
  for (const char c : raw_value) {
    if (c != '\r' && c != '\n') value += c;
  }
  const auto read = [&](const settings::IniText& t, const char* section, const char* key) {
    const settings::GbkValue v = settings::read_gbk(t, section, key, code_page);
    return std::make_pair(v.state, v.text);
  };
  const auto ip = read(*text, settings::kServer, settings::kIp);
  const auto file = read(*text, settings::kBasis, settings::kFile);
  const std::optional<std::string> out =
      settings::rewritten(*text, {{settings::kServer, settings::kUser, value}}, code_page);
  if (!out) return;
  const std::optional<settings::IniText> after = settings::IniText::from_bytes(*out);
  FUZZ_CHECK(after.has_value());
  const auto user = read(*after, settings::kServer, settings::kUser);
  FUZZ_CHECK(user.first == settings::GbkValue::State::Found && user.second == value);
  FUZZ_CHECK(read(*after, settings::kServer, settings::kIp) == ip);
  FUZZ_CHECK(read(*after, settings::kBasis, settings::kFile) == file);
}

// The longest prefix of at most limit bytes that ends on a whole character of text.
void check_cut(std::string_view text, std::string_view cut, std::size_t limit) {
  FUZZ_CHECK(cut.size() <= limit);
  FUZZ_CHECK(text.substr(0, cut.size()) == cut);
  FUZZ_CHECK(fuzz::starts_char(text, cut.size()) || cut.size() == text.size());
  if (cut.size() < text.size()) {
    FUZZ_CHECK(cut.size() + gbk::char_width(text, cut.size()) > limit);
  }
}

// The buffer holds a prefix of the text and zeros after it, and that prefix is the right cut.
template <std::size_t N>
void check_stored(const char (&buffer)[N], std::string_view text) {
  const std::string_view held(buffer, N);
  std::size_t kept = std::min(text.size(), N - 1);
  while (held.substr(0, kept) != text.substr(0, kept) ||
         held.find_first_not_of('\0', kept) != std::string_view::npos) {
    FUZZ_CHECK(kept > 0);
    --kept;
  }
  check_cut(text, text.substr(0, kept), N - 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::size_t limit = data[1] | (data[2] << 8);
  const std::vector<std::string> parts = fuzz::fields(data + 3, size - 3, 7);

  // Any cut limit over any text.
  check_cut(parts[0], gbk::cut_whole_chars(parts[0], limit), limit);

  // Values as read, with the fallbacks of missing keys; a value longer than the buffer is built
  // by repeating the first field.
  FuzzedSource source;
  const char* keys[] = {settings::kFile,         settings::kWebPort, settings::kRun,
                        settings::kIp,           settings::kUser,    settings::kPassword,
                        settings::kAccessControl};
  for (std::size_t i = 0; i < 7; ++i) {
    if (!((data[0] >> i) & 1)) source.values[keys[i]] = parts[i];
  }
  if ((data[0] & 0x80) && !parts[0].empty()) {
    std::string& long_value = source.values[settings::kPassword];
    while (long_value.size() <= settings::kValueBuffer) long_value += parts[0];
  }
  source.file_exists = (limit & 1) != 0;
  source.default_exists = (limit & 2) != 0;
  std::string read_file;
  const settings::Values v = settings::load(source, "C:\\prog", &read_file);
  auto raw = [&](const char* key, const char* fallback) {
    const auto found = source.values.find(key);
    return found == source.values.end() ? std::string(fallback) : found->second;
  };
  const std::pair<const std::string*, std::string> read[] = {
      {&read_file, raw(settings::kFile, "")},
      {&v.web_port, raw(settings::kWebPort, settings::kDefaultPort)},
      {&v.ip, raw(settings::kIp, settings::kDefaultIp)},
      {&v.user, raw(settings::kUser, "")},
      {&v.password, raw(settings::kPassword, "")},
  };
  for (const auto& [value, text] : read) {
    check_cut(text, *value, settings::kValueBuffer - 1);
  }
  FUZZ_CHECK(v.run == (settings::stored_value(raw(settings::kRun, "false")) != "false"));
  FUZZ_CHECK(v.access_control ==
             (settings::stored_value(raw(settings::kAccessControl, "false")) != "false"));
  FUZZ_CHECK(v.file == read_file || v.file == settings::default_server_path("C:\\prog"));

  // config.ini's bytes: the last field, which keeps any separators after it.
  check_file(parts[6], parts[4]);

  // The tray record's texts.
  tray::NotifyModel model;
  model.prepare_add(1, 2, parts[1]);
  check_stored(model.record().szTip, parts[1]);
  model.delivered(true);
  model.prepare_balloon(parts[2], parts[3], tray::kBalloonError);
  check_stored(model.record().szInfoTitle, parts[2]);
  check_stored(model.record().szInfo, parts[3]);
  return 0;
}
