#include "config/settings.h"

#include "platform/gbk.h"

namespace settings {

FileState file_state(const FileProbe& probe) {
  const auto not_there = [](std::uint32_t error) {
    return error == kErrorFileNotFound || error == kErrorPathNotFound;
  };
  if (!probe.found)
    return not_there(probe.lookup_error) ? FileState::Missing : FileState::Unreadable;
  if (probe.folder) return FileState::Unreadable;
  // Gone between the two looks: as missing as it was before.
  if (!probe.opened)
    return not_there(probe.open_error) ? FileState::Missing : FileState::Unreadable;
  return probe.read_error == 0 ? FileState::Readable : FileState::Unreadable;
}

bool held_by_another(std::uint32_t error) {
  return error == kErrorSharingViolation || error == kErrorLockViolation;
}

std::string not_gbk_message(std::string_view key) {
  return "配置文件 config.ini 中“" + std::string(key) +
         "”的值含有 GBK 编码无法表示的字符，请修改后重新启动。";
}

bool key_missing(Source& source, const char* section, const char* key) {
  // A present key gives its own value, empty or not, whatever the default.
  return source.read(section, key, "").empty() && source.read(section, key, "-") == "-";
}

bool flag_from_text(std::string_view text) { return text != kFalse; }

const char* flag_text(bool on) { return on ? kTrue : kFalse; }

std::string stored_value(std::string_view raw) {
  return gbk::cut_whole_chars(raw, kValueBuffer - 1);
}

std::string written_value(std::string_view value) {
  if (value.empty()) return {};
  // The second byte of a double-byte character is never a blank nor a quote, so looking at the
  // last byte alone is safe.
  const auto blank = profile_blank;
  const char first = value.front();
  const char last = value.back();
  const bool quote_pair = value.size() >= 2 && (first == '"' || first == '\'') && last == first;
  if (!blank(first) && !blank(last) && !quote_pair) return std::string(value);
  return '"' + std::string(value) + '"';
}

std::string settings_path(std::string_view program_dir) {
  return std::string(program_dir) + "\\" + kFileName;
}

std::string default_server_path(std::string_view program_dir) {
  return std::string(program_dir) + "\\" + kServerExe;
}

bool use_default_path(std::string_view configured, bool configured_exists, bool default_exists) {
  if (!default_exists) return false;
  return configured.empty() || !configured_exists;
}

Values load(Source& source, std::string_view program_dir, std::string* read_file) {
  auto read = [&](const char* section, const char* key, const char* fallback) {
    return stored_value(source.read(section, key, fallback));
  };
  Values v;
  v.file = read(kBasis, kFile, "");
  if (read_file) *read_file = v.file;
  const std::string fallback = default_server_path(program_dir);
  const bool configured_exists = !v.file.empty() && source.exists(v.file);
  if (use_default_path(v.file, configured_exists, source.exists(fallback))) v.file = fallback;
  v.web_port = read(kBasis, kWebPort, kDefaultPort);
  v.run = flag_from_text(read(kBasis, kRun, kFalse));
  v.ip = read(kServer, kIp, kDefaultIp);
  v.user = read(kServer, kUser, "");
  v.password = read(kServer, kPassword, "");
  v.access_control = flag_from_text(read(kServer, kAccessControl, kFalse));
  return v;
}

AutoRestart auto_restart(FileState state, Source& source) {
  const std::optional<Switches> now = switches(state, source);
  if (!now) return AutoRestart::Unreadable;
  return now->auto_restart ? AutoRestart::On : AutoRestart::Off;
}

const char* switch_key(Switch which) {
  switch (which) {
    case Switch::UpdateCheck:
      return kUpdateCheck;
    case Switch::AutoRestart:
      return kAutoRestart;
    case Switch::Notices:
      break;
  }
  return kNotices;
}

bool Switches::on(Switch which) const {
  switch (which) {
    case Switch::UpdateCheck:
      return update_check;
    case Switch::AutoRestart:
      return auto_restart;
    case Switch::Notices:
      break;
  }
  return notices;
}

std::optional<Switches> switches(FileState state, Source& source) {
  if (state == FileState::Unreadable) return std::nullopt;
  const auto read = [&](Switch which) {
    return flag_from_text(stored_value(source.read(kBasis, switch_key(which), kTrue)));
  };
  return Switches{read(Switch::UpdateCheck), read(Switch::AutoRestart), read(Switch::Notices)};
}

std::vector<Entry> save_entries(const Values& v) {
  return {
      {kServer, kIp, v.ip},
      {kServer, kUser, v.user},
      {kServer, kPassword, v.password},
      {kBasis, kFile, v.file},
      {kBasis, kWebPort, v.web_port},
      {kBasis, kRun, flag_text(v.run)},
      {kServer, kAccessControl, flag_text(v.access_control)},
  };
}

bool accepts_dropped(std::string_view dropped_text) {
  return gbk::name_part(dropped_text) == kServerExe;
}

}  // namespace settings
