#include "config/settings_win.h"

#include <windows.h>

#include <optional>
#include <string_view>

#include "platform/gbk.h"
#include "platform/handles_win.h"

namespace settings {

namespace {

// The system's tables for code page 936, the program's own, whatever the system's ANSI code page.
constexpr UINT kGbk = 936;
// Beyond any settings file; a file this large is no settings file to guess from.
constexpr LONGLONG kLargestFile = 16 * 1024 * 1024;
// A reading or writing that failed for a reason of its own, not the system's.
constexpr std::uint32_t kNotText = ERROR_INVALID_DATA;

std::optional<std::wstring> wide(UINT code_page, std::string_view text) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (n <= 0) return std::nullopt;
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), size, out.data(), n);
  return out;
}

// No best fit and no default character: a character without an exact counterpart fails it.
std::optional<std::string> narrow(UINT code_page, const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = static_cast<int>(text.size());
  BOOL defaulted = FALSE;
  BOOL* const check = code_page == CP_UTF8 ? nullptr : &defaulted;
  const DWORD flags = code_page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int n =
      WideCharToMultiByte(code_page, flags, text.data(), size, nullptr, 0, nullptr, check);
  if (n <= 0 || defaulted) return std::nullopt;
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(code_page, flags, text.data(), size, out.data(), n, nullptr, check);
  if (defaulted) return std::nullopt;
  return out;
}

class SystemCodePage final : public CodePage {
 public:
  std::optional<std::string> gbk_from_utf8(std::string_view text) const override {
    const std::optional<std::wstring> w = wide(CP_UTF8, text);
    return w ? narrow(kGbk, *w) : std::nullopt;
  }
  std::optional<std::string> utf8_from_gbk(std::string_view text) const override {
    const std::optional<std::wstring> w = wide(kGbk, text);
    if (!w) return std::nullopt;
    // Bytes that are no GBK character may still convert (to a stand-in): only a text that
    // converts back to itself is GBK.
    const std::optional<std::string> back = narrow(kGbk, *w);
    if (!back || *back != text) return std::nullopt;
    return narrow(CP_UTF8, *w);
  }
};

const SystemCodePage& system_code_page() {
  static const SystemCodePage code_page;
  return code_page;
}

void pause(std::uint32_t ms) { Sleep(ms); }

// The whole file from its start; false (with the system's error) when it could not be read.
bool read_all(HANDLE file, std::string& bytes, std::uint32_t& error) {
  bytes.clear();
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) {
    error = GetLastError();
    return false;
  }
  if (size.QuadPart > kLargestFile) {
    error = kNotText;
    return false;
  }
  bytes.resize(static_cast<std::size_t>(size.QuadPart));
  std::size_t got = 0;
  while (got < bytes.size()) {
    DWORD n = 0;
    if (!ReadFile(file, bytes.data() + got, static_cast<DWORD>(bytes.size() - got), &n, nullptr)) {
      error = GetLastError();
      return false;
    }
    if (n == 0) break;  // shorter than it was a moment ago
    got += n;
  }
  bytes.resize(got);
  return true;
}

// One look at the file: the probe, and the bytes when it was read. Answers the error that
// decides whether to look again.
std::uint32_t read_once(const std::string& path, FileProbe& probe, std::string& bytes) {
  probe = FileProbe{};
  bytes.clear();
  const DWORD attributes = GetFileAttributesA(path.c_str());
  probe.found = attributes != INVALID_FILE_ATTRIBUTES;
  if (!probe.found) return probe.lookup_error = GetLastError();
  probe.folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (probe.folder) return 0;
  // Shared every way, so that only a holder that shares nothing (or no right to read) fails it.
  const win::unique_file file(CreateFileA(path.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  probe.opened = static_cast<bool>(file);
  if (!probe.opened) return probe.open_error = GetLastError();
  std::uint32_t error = 0;
  if (!read_all(file.get(), bytes, error)) probe.read_error = error;
  return probe.read_error;
}

}  // namespace

ProfileFile::ProfileFile(std::string path)
    : IniSource(system_code_page()), path_(std::move(path)) {}

FileState ProfileFile::load() { return load(true); }

FileState ProfileFile::load_at_once() { return load(false); }

FileState ProfileFile::load(bool wait_while_held) {
  FileProbe probe;
  std::string bytes;
  if (wait_while_held) {
    try_while_held([&] { return read_once(path_, probe, bytes); }, pause);
  } else {
    read_once(path_, probe, bytes);
  }
  reset(IniText());
  const FileState state = file_state(probe);
  if (state != FileState::Readable) return state;
  std::optional<IniText> text = IniText::from_bytes(bytes);
  if (!text) return FileState::Unreadable;
  reset(std::move(*text));
  return FileState::Readable;
}

bool ProfileFile::exists(const std::string& path) {
  // A hand-edited path with wildcards would otherwise "exist" whenever anything matches it.
  if (path.find_first_of("*?") != std::string::npos) return false;
  WIN32_FIND_DATAA data;
  win::unique_find find(FindFirstFileA(path.c_str(), &data));
  return static_cast<bool>(find);
}

bool ProfileFile::write(const std::vector<Entry>& entries) {
  std::optional<IniText> written;
  const std::uint32_t error = try_while_held(
      [&]() -> std::uint32_t {
        // Nobody else writes while the file is read, changed and written through this handle.
        const win::unique_file file(CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE,
                                                FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return GetLastError();
        std::string bytes;
        std::uint32_t read_error = 0;
        if (!read_all(file.get(), bytes, read_error)) return read_error;
        // A file that cannot be read is never written.
        std::optional<IniText> now = IniText::from_bytes(bytes);
        if (!now) return kNotText;
        const std::optional<std::string> out = rewritten(std::move(*now), entries, code_page());
        if (!out) return kNotText;
        if (SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
          return GetLastError();
        }
        DWORD n = 0;
        if (!WriteFile(file.get(), out->data(), static_cast<DWORD>(out->size()), &n, nullptr)) {
          return GetLastError();
        }
        if (n != out->size() || !SetEndOfFile(file.get())) return kNotText;
        written = IniText::from_bytes(*out);
        return 0;
      },
      pause);
  if (error != 0) return false;
  if (written) reset(std::move(*written));
  return true;
}

bool ProfileFile::write(const char* section, const char* key, const std::string& value) {
  return write(std::vector<Entry>{{section, key, value}});
}

Panel::Panel(Form& form, std::string program_dir)
    : form_(form), program_dir_(std::move(program_dir)), file_(settings_path(program_dir_)) {}

bool Panel::load() {
  if (file_.load() == FileState::Unreadable) return refuse(kUnreadable);
  const Values v = settings::load(file_, program_dir_);
  if (!file_.refused_key().empty()) return refuse(not_gbk_message(file_.refused_key()));
  loading_ = true;
  // A path shown in place of one that is missing now (a drive not yet there at login) stays in
  // the control only: config.ini keeps the configured one until the user saves or chooses.
  form_.set_text(Field::File, v.file);
  loading_ = false;
  if (key_missing(file_, kBasis, kFile)) report_failure(write(kBasis, kFile, v.file));
  form_.set_text(Field::WebPort, v.web_port);
  form_.set_checked(Box::Run, v.run);
  form_.set_text(Field::Ip, v.ip);
  form_.set_text(Field::User, v.user);
  form_.set_text(Field::Password, v.password);
  form_.set_checked(Box::AccessControl, v.access_control);
  if (!v.access_control) form_.enable_account_fields(false);
  return true;
}

bool Panel::refuse(std::string message) {
  unreadable_ = true;
  refusal_ = std::move(message);
  form_.enable_account_fields(false);
  return false;
}

AutoRestart Panel::auto_restart() {
  ProfileFile now(settings_path(program_dir_));
  const FileState state = now.load_at_once();
  return settings::auto_restart(state, now);
}

std::optional<Switches> Panel::switches() {
  if (unreadable_) return std::nullopt;
  ProfileFile now(settings_path(program_dir_));
  const FileState state = now.load_at_once();
  return settings::switches(state, now);
}

bool Panel::set_switch(Switch which, bool on) {
  const bool written = !unreadable_ && file_.write(kBasis, switch_key(which), flag_text(on));
  report_failure(written);
  return written;
}

std::string Panel::announced_build() {
  ProfileFile now(settings_path(program_dir_));
  if (now.load_at_once() != FileState::Readable) return {};
  return stored_value(now.read(kBasis, kAnnouncedBuild, ""));
}

void Panel::record_announced(const std::string& build) {
  if (!unreadable_) file_.write(kBasis, kAnnouncedBuild, stored_value(build));
}

void Panel::refresh_server_folder() { server_folder_ = gbk::folder_part(form_.text(Field::File)); }

void Panel::write_file_location() {
  if (!loading_) report_failure(write(kBasis, kFile, form_.text(Field::File)));
}
void Panel::write_port() { report_failure(write(kBasis, kWebPort, form_.text(Field::WebPort))); }
void Panel::write_ip() { report_failure(write(kServer, kIp, form_.text(Field::Ip))); }
void Panel::write_user() { report_failure(write(kServer, kUser, form_.text(Field::User))); }
void Panel::write_password() {
  report_failure(write(kServer, kPassword, form_.text(Field::Password)));
}

void Panel::toggle_access_control() {
  const bool on = form_.checked(Box::AccessControl);
  form_.enable_account_fields(on);
  report_failure(write(kServer, kAccessControl, flag_text(on)));
}

void Panel::toggle_show_password() { form_.set_password_masked(!form_.checked(Box::ShowPassword)); }

void Panel::save() {
  if (unreadable_) {
    form_.message_box(refusal_, kErrorCaption);
    return;
  }
  report_failure(file_.write(save_entries(current())));
}

void Panel::browse() {
  const std::string chosen = form_.browse(program_dir_);
  if (chosen.empty()) return;
  form_.set_text(Field::File, chosen);
  refresh_server_folder();
}

void Panel::dropped(const std::string& text) {
  if (!accepts_dropped(text)) {
    form_.message_box("拖放文件位置只支持文件名为：rivermesh_windows_amd64.exe", "错误");
    return;
  }
  form_.set_text(Field::File, text);
  refresh_server_folder();
}

bool Panel::write(const char* section, const char* key, const std::string& value) {
  return unreadable_ || file_.write(section, key, value);
}

void Panel::report_failure(bool written) {
  if (written || reporting_) return;
  reporting_ = true;
  form_.message_box(kSaveFailed, kErrorCaption);
  reporting_ = false;
}

Values Panel::current() const {
  Values v;
  v.file = form_.text(Field::File);
  v.web_port = form_.text(Field::WebPort);
  v.ip = form_.text(Field::Ip);
  v.user = form_.text(Field::User);
  v.password = form_.text(Field::Password);
  v.run = form_.checked(Box::Run);
  v.access_control = form_.checked(Box::AccessControl);
  return v;
}

}  // namespace settings
