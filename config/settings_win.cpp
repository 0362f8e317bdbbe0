#include "config/settings_win.h"

#include <windows.h>

#include "platform/gbk.h"
#include "platform/handles_win.h"

namespace settings {

using namespace layout;

std::string ProfileFile::read(const char* section, const char* key, const char* fallback) {
  // One byte more than a value may use, so that stored_value sees whether a double-byte
  // character straddles the limit.
  std::string buf(kValueBuffer + 1, '\0');
  const DWORD n = GetPrivateProfileStringA(section, key, fallback, buf.data(),
                                           static_cast<DWORD>(buf.size()), path_.c_str());
  buf.resize(n);
  return buf;
}

bool ProfileFile::exists(const std::string& path) {
  // A hand-edited path with wildcards would otherwise "exist" whenever anything matches it.
  if (path.find_first_of("*?") != std::string::npos) return false;
  WIN32_FIND_DATAA data;
  win::unique_find find(FindFirstFileA(path.c_str(), &data));
  return static_cast<bool>(find);
}

void ProfileFile::write(const char* section, const char* key, const std::string& value) const {
  WritePrivateProfileStringA(section, key, written_value(value).c_str(), path_.c_str());
}

Panel::Panel(MainWindow& window, std::string program_dir)
    : window_(window), program_dir_(std::move(program_dir)), file_(settings_path(program_dir_)) {}

void Panel::load() {
  std::string as_read;
  const Values v = settings::load(file_, program_dir_, &as_read);
  window_.set_text(编辑框_文件位置, as_read);
  if (v.file != as_read) window_.set_text(编辑框_文件位置, v.file);
  window_.set_text(编辑框_网页端口, v.web_port);
  window_.set_checked(选择框_开机启动, v.run);
  window_.set_text(编辑框_IP, v.ip);
  window_.set_text(编辑框_账号, v.user);
  window_.set_text(编辑框_密码, v.password);
  window_.set_checked(选择框_访问控制, v.access_control);
  if (!v.access_control) enable_account_fields(false);
}

void Panel::refresh_server_folder() {
  server_folder_ = gbk::folder_part(window_.text(编辑框_文件位置));
}

void Panel::write_file_location() { file_.write(kBasis, kFile, window_.text(编辑框_文件位置)); }
void Panel::write_port() { file_.write(kBasis, kWebPort, window_.text(编辑框_网页端口)); }
void Panel::write_ip() { file_.write(kServer, kIp, window_.text(编辑框_IP)); }
void Panel::write_user() { file_.write(kServer, kUser, window_.text(编辑框_账号)); }
void Panel::write_password() { file_.write(kServer, kPassword, window_.text(编辑框_密码)); }

void Panel::toggle_access_control() {
  const bool on = window_.checked(选择框_访问控制);
  file_.write(kServer, kAccessControl, flag_text(on));
  enable_account_fields(on);
}

void Panel::toggle_show_password() {
  window_.set_password_masked(!window_.checked(选择框_密码明文));
}

void Panel::save() {
  for (const Entry& e : save_entries(current())) file_.write(e.section, e.key, e.value);
}

void Panel::browse() {
  const std::string chosen = window_.browse(program_dir_);
  if (chosen.empty()) return;
  window_.set_text(编辑框_文件位置, chosen);
  refresh_server_folder();
}

void Panel::dropped(const std::string& text) {
  if (!accepts_dropped(text)) {
    window_.message_box("拖放文件位置只支持文件名为：rivermesh_windows_amd64.exe", "错误");
    return;
  }
  window_.set_text(编辑框_文件位置, text);
  refresh_server_folder();
}

Values Panel::current() const {
  Values v;
  v.file = window_.text(编辑框_文件位置);
  v.web_port = window_.text(编辑框_网页端口);
  v.ip = window_.text(编辑框_IP);
  v.user = window_.text(编辑框_账号);
  v.password = window_.text(编辑框_密码);
  v.run = window_.checked(选择框_开机启动);
  v.access_control = window_.checked(选择框_访问控制);
  return v;
}

void Panel::enable_account_fields(bool on) {
  window_.enable(编辑框_账号, on);
  window_.enable(编辑框_密码, on);
  window_.enable(选择框_密码明文, on);
}

}  // namespace settings
