#include "app/app_win.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>

#include "app/messages.h"
#include "config/autostart_win.h"
#include "platform/handles_win.h"
#include "platform/program_win.h"
#include "platform/ui_task_win.h"
#include "resources/resource.h"
#include "server/process_win.h"
#include "server/web_address_win.h"
#include "update/update_win.h"

namespace {

// The tray icon hands its events to a plain function; this is the one App it reaches.
App* g_app = nullptr;

constexpr char kNot64Bit[] = "Rivermesh 的Windows客户端不支持32位系统！";
constexpr char kError[] = "错误";

// The system sends these with a pointer into this process and never posts them: a posted one
// comes from another program, and its pointer means nothing here. Every message loop of the
// thread (message boxes and the tray menu too) fetches through this hook.
LRESULT CALLBACK drop_posted_pointer_messages(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION) {
    MSG* m = reinterpret_cast<MSG*>(lp);
    if (m->message == WM_NOTIFY || m->message == WM_DPICHANGED) m->message = WM_NULL;
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

}  // namespace

bool started_from_desktop_shell() {
  // At login Windows starts the Run value from explorer.exe too; the value's argument tells.
  return !autostart::started_at_login(GetCommandLineA()) && proc::started_by_explorer();
}

App::App(tray::TrayIcon& tray, UINT show_request)
    : tray_(tray),
      drop_([this](const std::string& text) {
        // Handled after the drop returns, so that a message box never holds the drag source.
        ui_task::post(window_.hwnd(), [this, text] { settings_->dropped(text); });
      }),
      server_(view_, msg::kServerEnded),
      show_request_(show_request) {
  g_app = this;
}

App::~App() {
  drop_.revoke();
  if (ole_) OleUninitialize();
  g_app = nullptr;
}

int App::run(HINSTANCE instance) {
  const win::unique_hhook filter(SetWindowsHookExA(WH_GETMESSAGE, drop_posted_pointer_messages,
                                                   nullptr, GetCurrentThreadId()));
  if (!window_.create(instance, this)) return exit_code_;
  MSG m;
  while (GetMessageA(&m, nullptr, 0, 0) > 0) {
    if (window_.take_key(m)) continue;
    if (IsDialogMessageA(window_.hwnd(), &m)) continue;  // Enter, arrows between the buttons
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
  return exit_code_;
}

bool App::on_created() {
  if (!proc::is_64bit_windows()) {
    window_.message_box(kNot64Bit, kError);
    exit_code_ = 1;
    return false;
  }
  // A second copy may run with fewer rights than this one (this one elevated): its show request
  // must get through the message filter.
  if (show_request_ != 0) {
    ChangeWindowMessageFilterEx(window_.hwnd(), show_request_, MSGFLT_ALLOW, nullptr);
  }
  // The rest follows once the window has been drawn (and before anything the posts below ask):
  // the user waits for the window, and the tray's answer, OLE's start-up and the network
  // libraries of the update check would each hold it back.
  ui_task::post(window_.hwnd(), [this] { finish_start_up(); });
  window_.set_title(layout::versioned_title());
  settings_ = std::make_unique<settings::Panel>(form_, program::directory());
  const bool settings_read = settings_->load();
  settings_->refresh_server_folder();
  // Marks that match the file before the submenu first opens, for a command that comes first; the
  // same reading decides the start-up's update check.
  const std::optional<settings::Switches> switches = refresh_switch_marks();
  update_check_at_start_ = switches && switches->update_check;
  log_.attach(window_.control(layout::编辑框_日志));
  started_ = true;
  if (!settings_read) {
    // The window is there before the box, so that it is the box's owner; nothing starts.
    if (started_from_desktop_shell()) window_.set_visible(true);
    ui_task::post(window_.hwnd(), [this] { refuse_unread_settings(); });
  } else {
    // A server of this copy that runs already (this program was ended without it, or it was
    // started by hand) is shown as it runs, and no second one is started beside it.
    const bool taken_over = server_.take_over();
    if (started_from_desktop_shell()) {
      window_.set_visible(true);
    } else if (!taken_over) {
      // Started by the login or another program: start the server at once, from the message
      // loop so that the window exists completely.
      ui_task::post(window_.hwnd(), [this] { server_.start_request(); });
    }
  }
  return true;
}

void App::finish_start_up() {
  if (torn_down_) return;
  HWND hwnd = window_.hwnd();
  if (IsWindowVisible(hwnd)) RedrawWindow(hwnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  // A server taken over at start-up set its tooltip before the icon was there.
  tray_.add_icon(hwnd, icon_data(), view_.shown_tooltip());
  tray_.set_mouse_handler(tray_mouse_handler);
  // Drag and drop needs OLE on this thread.
  ole_ = SUCCEEDED(OleInitialize(nullptr));
  if (ole_) drop_.register_window(hwnd);
  // Last: its notice needs the icon and the title. Switched off, or with a config.ini that cannot
  // be read (which may say off), nothing goes out, not even the probe.
  if (update_check_at_start_) start_update_check(false);
}

void App::on_close_query() { window_.set_visible(false); }

// The session ends (or an installer asks the program to close): end as "退出" does, but the
// server must be gone when this returns: Windows may end the program right after.
void App::on_end_session() {
  if (torn_down_ || !started_) return;
  window_.set_visible(false);
  tray_.remove_icon();
  server_.end_session();
  DestroyWindow(window_.hwnd());
}

void App::on_destroyed() { teardown(); }

// Runs once, whether the session ends or the window is destroyed, or both.
void App::teardown() {
  if (torn_down_ || !started_) return;
  torn_down_ = true;
  server_.shutdown_kill();
  drop_.revoke();
  tray_.remove_icon();
  tray::TrayIcon::sweep_notification_area(true);
}

void App::on_command(int id) {
  using namespace layout;
  switch (id) {
    case 按钮_保存:
      settings_->save();
      break;
    case 按钮_浏览:
      settings_->browse();
      break;
    case 选择框_访问控制:
      settings_->toggle_access_control();
      break;
    case 选择框_密码明文:
      settings_->toggle_show_password();
      break;
    case 按钮_启动:
    case 托盘_启动:
      if (settings_->unreadable()) {
        refuse_unread_settings();
      } else {
        server_.start_request();
      }
      break;
    case 按钮_停止:
    case 托盘_停止:
      server_.stop_request();
      break;
    case 选择框_开机启动:
      if (settings_->unreadable()) {
        // config.ini could not record it: the registry is left alone as well.
        form_.set_checked(settings::Box::Run, !form_.checked(settings::Box::Run));
        refuse_unread_settings();
        break;
      }
      autostart_.clicked(window_.hwnd(), window_.control(选择框_开机启动), program::path(),
                         settings::settings_path(program::directory()));
      break;
    case 托盘_打开网页:
      // The entry is greyed otherwise; a command posted by another program finds no page either.
      if (view_.running_shown()) {
        const launch::Fields now = view_.fields();
        update::open_url(web_address::local_url(now.ip, now.port));
      }
      break;
    case 托盘_复制网页地址:
      if (view_.running_shown()) copy_web_address();
      break;
    case 托盘_检查更新:
      start_update_check(true);
      break;
    case 托盘_自动检查更新:
    case 托盘_意外退出后自动重启:
    case 托盘_显示成功通知:
      toggle_switch(id);
      break;
    case 托盘_使用方法:
      update::show_usage();
      break;
    case 托盘_关于:
      update::show_about(window_.hwnd(), kDisplayVersion);
      break;
    case 托盘_捐赠:
      update::donate();
      break;
    case 托盘_配置:
      show_main_window();
      break;
    case 托盘_退出:
      exit_program();
      break;
    default:
      break;
  }
}

namespace {

struct SwitchEntry {
  int id;
  settings::Switch which;
};
constexpr SwitchEntry kSwitchEntries[] = {
    {layout::托盘_自动检查更新, settings::Switch::UpdateCheck},
    {layout::托盘_意外退出后自动重启, settings::Switch::AutoRestart},
    {layout::托盘_显示成功通知, settings::Switch::Notices},
};

}  // namespace

void App::on_submenu_opening(int id) {
  if (id == layout::托盘_设置 && started_) refresh_switch_marks();
}

std::optional<settings::Switches> App::refresh_switch_marks() {
  const std::optional<settings::Switches> now = settings_->switches();
  for (const SwitchEntry& e : kSwitchEntries) {
    window_.set_menu_enabled(e.id, now.has_value());
    window_.set_menu_checked(e.id, now && now->on(e.which));
  }
  return now;
}

// The entry turns its mark over as the user saw it when the submenu opened.
void App::toggle_switch(int id) {
  const auto entry = std::find_if(std::begin(kSwitchEntries), std::end(kSwitchEntries),
                                  [id](const SwitchEntry& e) { return e.id == id; });
  if (entry == std::end(kSwitchEntries)) return;
  const UINT state = GetMenuState(window_.tray_menu(), static_cast<UINT>(id), MF_BYCOMMAND);
  // Greyed: a command another program posts finds nothing to change either.
  if (state & MF_GRAYED) return;
  const bool on = !(state & MF_CHECKED);
  window_.set_menu_checked(id, on);
  if (!settings_->set_switch(entry->which, on)) window_.set_menu_checked(id, !on);
}

void App::copy_web_address() {
  const launch::Fields now = view_.fields();
  const HWND window = window_.hwnd();
  const auto copy = [window, ip = now.ip, port = now.port](std::vector<std::string> reachable) {
    web_address::copy_text(window, web_address::copied_url(ip, port, reachable));
  };
  if (!web_address::any_address(now.ip)) {
    copy({});
  } else {
    web_address::reachable_later(window, copy);
  }
}

void App::on_lost_focus(layout::Id id) {
  using namespace layout;
  switch (id) {
    case 编辑框_网页端口:
      settings_->write_port();
      refresh_port_tooltip();
      break;
    case 编辑框_IP:
      settings_->write_ip();
      break;
    case 编辑框_账号:
      settings_->write_user();
      break;
    case 编辑框_密码:
      settings_->write_password();
      break;
    default:
      break;
  }
}

void App::on_content_changed(layout::Id id) {
  if (id == layout::编辑框_文件位置 && settings_) settings_->write_file_location();
}

void App::on_tab_changed(int page) {
  window_.widen(page == 0 ? -layout::kLogWidening : layout::kLogWidening);
}

bool App::on_message(UINT message, WPARAM wp, LPARAM, LRESULT* result) {
  if (message == ui_task::message()) {
    ui_task::run();
  } else if (message == show_request_ && show_request_ != 0) {
    if (started_ && !torn_down_) bring_to_front();
  } else if (!server_.on_message(message, wp)) {
    return false;
  }
  *result = 0;
  return true;
}

void App::tray_mouse_handler(std::int32_t code) {
  if (!g_app) return;
  switch (code) {
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
      g_app->show_main_window();
      break;
    case WM_RBUTTONUP:
      g_app->window_.popup_tray_menu();
      break;
    case tray::kEventTaskbarCreated:
      // The shell restarted without our icon: a hidden window would be out of reach.
      g_app->tray_.readd();
      g_app->balloon_clicks_.sent(g_app->tray_.balloon_pending());
      break;
    default:
      if (const std::string url = g_app->balloon_clicks_.on_event(code); !url.empty()) {
        update::open_url(url);
      }
      break;
  }
}

void App::refuse_unread_settings() { window_.message_box(settings_->refusal(), kError); }

void App::show_main_window() {
  if (!window_.visible()) window_.set_visible(true);
}

void App::bring_to_front() {
  window_.set_visible(true);
  if (IsIconic(window_.hwnd())) ShowWindow(window_.hwnd(), SW_RESTORE);
  SetForegroundWindow(window_.hwnd());
}

void App::exit_program() {
  // The user sees the program gone at once; only a server that ends cleanly is waited for. The
  // control lets the program go (the window is destroyed) once the server had its chance.
  window_.set_visible(false);
  if (!started_) {
    DestroyWindow(window_.hwnd());
    return;
  }
  tray_.remove_icon();
  server_.exit_request();
}

void App::refresh_port_tooltip() {
  const bool running = view_.running_shown();
  view_.tooltip(presentation::port_tooltip(running, window_.text(layout::编辑框_IP),
                                           window_.text(layout::编辑框_网页端口)));
}

void App::start_update_check(bool asked) {
  update_asked_ = update_asked_ || asked;
  update::start_check(window_.hwnd(), program::directory(), layout::kDisplayVersion,
                      layout::kBuildNumber,
                      [this](const update::Notice& notice) { show_update_notice(notice); });
}

// Once per build unless asked: a start-up check that finds the build it announced before only
// extends the title. The answer to the user's own check is shown whatever the switch says.
void App::show_update_notice(const update::Notice& notice) {
  const bool asked = std::exchange(update_asked_, false);
  if (update::announce(asked, notice.build, settings_->announced_build()) &&
      view_.notice(notice.balloon_title, notice.balloon_text, tray::kBalloonNone,
                   update::project_page(), asked)) {
    settings_->record_announced(notice.build);
  }
  window_.set_title(notice.window_title);
}

std::span<const unsigned char> App::icon_data() const {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC res = FindResourceA(module, MAKEINTRESOURCEA(IDR_APP_ICO), MAKEINTRESOURCEA(10));
  if (!res) return {};
  HGLOBAL loaded = LoadResource(module, res);  // resources need no freeing
  const auto* bytes = static_cast<const unsigned char*>(LockResource(loaded));
  return bytes ? std::span<const unsigned char>(bytes, SizeofResource(module, res))
               : std::span<const unsigned char>();
}
