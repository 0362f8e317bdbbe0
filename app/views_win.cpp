#include "app/views_win.h"

#include <cstddef>
#include <iterator>

#include "app/layout.h"

namespace {

using namespace layout;

// In the order of the enumerations.
constexpr Id kFieldIds[] = {编辑框_文件位置, 编辑框_网页端口, 编辑框_IP, 编辑框_账号, 编辑框_密码};
constexpr Id kBoxIds[] = {选择框_开机启动, 选择框_访问控制, 选择框_密码明文};
static_assert(std::size(kFieldIds) == static_cast<std::size_t>(settings::Field::Password) + 1);
static_assert(std::size(kBoxIds) == static_cast<std::size_t>(settings::Box::ShowPassword) + 1);

Id id_of(settings::Field field) { return kFieldIds[static_cast<std::size_t>(field)]; }
Id id_of(settings::Box box) { return kBoxIds[static_cast<std::size_t>(box)]; }

}  // namespace

std::string SettingsForm::text(settings::Field field) const { return window_.text(id_of(field)); }

void SettingsForm::set_text(settings::Field field, const std::string& text) {
  window_.set_text(id_of(field), text);
}

bool SettingsForm::checked(settings::Box box) const { return window_.checked(id_of(box)); }

void SettingsForm::set_checked(settings::Box box, bool on) { window_.set_checked(id_of(box), on); }

void SettingsForm::enable_account_fields(bool on) {
  window_.enable(编辑框_账号, on);
  window_.enable(编辑框_密码, on);
  window_.enable(选择框_密码明文, on);
}

void SettingsForm::set_password_masked(bool masked) { window_.set_password_masked(masked); }

std::string SettingsForm::browse(const std::string& initial_dir) {
  return window_.browse(initial_dir);
}

void SettingsForm::message_box(const std::string& text, const std::string& caption) {
  window_.message_box(text, caption);
}

launch::Fields ServerView::fields() const {
  launch::Fields f;
  f.file = window_.text(编辑框_文件位置);
  f.port = window_.text(编辑框_网页端口);
  f.ip = window_.text(编辑框_IP);
  f.access_control = window_.checked(选择框_访问控制);
  f.user = window_.text(编辑框_账号);
  f.password = window_.text(编辑框_密码);
  return f;
}

std::string ServerView::server_folder() const {
  return settings_ ? settings_->server_folder() : std::string();
}

void ServerView::apply(const presentation::Look& look) {
  window_.enable(按钮_启动, look.start_enabled);
  window_.enable(按钮_停止, look.stop_enabled);
  window_.set_menu_enabled(托盘_启动, look.tray_start_enabled);
  window_.set_menu_enabled(托盘_停止, look.tray_stop_enabled);
  window_.set_menu_enabled(托盘_打开网页, look.tray_web_enabled);
  window_.set_menu_enabled(托盘_复制网页地址, look.tray_web_enabled);
  window_.set_status(0, look.status_bar);
  window_.set_menu_text(托盘_状态, look.tray_status);
  window_.set_menu_checked(托盘_状态, look.tray_status_checked);
}

bool ServerView::running_shown() const { return !window_.enabled(按钮_启动); }

void ServerView::message(const std::string& text, const char* caption, bool owned) {
  if (owned) {
    window_.message_box(text, caption);
  } else {
    MessageBoxA(nullptr, text.c_str(), caption, MB_OK | MB_TASKMODAL);
  }
}

void ServerView::balloon(const std::string& title, const std::string& text, std::uint32_t kind,
                         const std::string& click_url) {
  notice(title, text, kind, click_url, kind == tray::kBalloonError);
}

bool ServerView::notice(const std::string& title, const std::string& text, std::uint32_t kind,
                        const std::string& click_url, bool essential) {
  // Read at each balloon, in one look that never waits: a file that cannot be read now keeps
  // the balloons as they always were.
  const std::optional<settings::Switches> switches =
      settings_ ? settings_->switches() : std::nullopt;
  const tray::BalloonGo go =
      tray::balloon_go(essential, !switches || switches->notices, tray::TrayIcon::user_state());
  if (go == tray::BalloonGo::Skip) return false;
  if (go == tray::BalloonGo::ShowRespectingQuietTime) kind |= tray::kBalloonRespectQuietTime;
  clicks_.requested(click_url);
  tray_.show_balloon(title, text, kind);
  clicks_.sent(tray_.balloon_pending());
  return true;
}

void ServerView::tooltip(const std::string& text) {
  // A balloon the shell refused goes out again with the tooltip.
  tooltip_ = text;
  tray_.set_tooltip(text);
  clicks_.sent(tray_.balloon_pending());
}

std::shared_ptr<console::Inbox> ServerView::new_log_inbox() { return log_.new_inbox(); }

void ServerView::clear_log() { log_.clear(); }

settings::AutoRestart ServerView::auto_restart() {
  return settings_ ? settings_->auto_restart() : settings::AutoRestart::Off;
}

void ServerView::let_go() { DestroyWindow(window_.hwnd()); }
