#include "app/main_window_win.h"

#include <commctrl.h>
#include <commdlg.h>

#include <optional>
#include <vector>

#include "app/dpi.h"
#include "app/dpi_win.h"
#include "app/keys.h"
#include "config/settings.h"
#include "platform/gbk.h"
#include "platform/gbk_win.h"
#include "resources/resource.h"

namespace {

using layout::Control;
using layout::Id;
using layout::Kind;

DWORD style_of(const Control& c) {
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  if (c.page != 1) style |= WS_VISIBLE;
  if (c.flags & layout::kDisabled) style |= WS_DISABLED;
  switch (c.kind) {
    case Kind::Tab:
      return style | WS_TABSTOP;
    case Kind::StatusBar:
      return style;
    case Kind::GroupBox:
      return style | BS_GROUPBOX;
    case Kind::Label:
      return style | SS_LEFT | SS_CENTERIMAGE;
    case Kind::Button:
      return style | WS_TABSTOP | BS_PUSHBUTTON;
    case Kind::CheckBox:
      return style | WS_TABSTOP | BS_AUTOCHECKBOX;
    case Kind::Edit:
      if (c.flags & layout::kLog) {
        return style | WS_TABSTOP | ES_MULTILINE | ES_READONLY | ES_LEFT | ES_AUTOHSCROLL |
               ES_AUTOVSCROLL | WS_HSCROLL | WS_VSCROLL;
      }
      style |= WS_TABSTOP | ES_CENTER | ES_AUTOHSCROLL;
      if (c.flags & layout::kReadOnly) style |= ES_READONLY;
      if (c.flags & layout::kPassword) style |= ES_PASSWORD;
      return style;
  }
  return style;
}

const char* class_of(Kind kind) {
  switch (kind) {
    case Kind::Tab:
      return WC_TABCONTROLA;
    case Kind::StatusBar:
      return STATUSCLASSNAMEA;
    case Kind::Label:
      return "STATIC";
    case Kind::Edit:
      return "EDIT";
    default:
      return "BUTTON";
  }
}

DWORD ex_style_of(const Control& c) {
  // Tab moves into the controls that the tab control and the group box hold.
  if (c.kind == Kind::Tab || c.kind == Kind::GroupBox) return WS_EX_CONTROLPARENT;
  if (c.kind != Kind::Edit) return 0;
  return (c.flags & layout::kLog) ? WS_EX_STATICEDGE : WS_EX_CLIENTEDGE;
}

// The window's place when it opens: centred on the primary screen.
RECT centred(const dpi::Size& size) {
  const int x = (GetSystemMetrics(SM_CXSCREEN) - size.width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - size.height) / 2;
  return {x, y, x + size.width, y + size.height};
}

void set_parts(HWND status_bar, int dpi) {
  std::vector<int> edges = dpi::part_edges(layout::status_parts(), dpi);
  SendMessageA(status_bar, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
}

void move_to(HWND w, const RECT& r) {
  SetWindowPos(w, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

void fill_menu(HMENU menu, std::span<const layout::MenuItem> items) {
  for (const auto& item : items) {
    if (item.flags & layout::kMenuSeparator) {
      AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
      continue;
    }
    UINT flags = MF_STRING;
    if (item.flags & layout::kMenuDisabled) flags |= MF_GRAYED;
    if (item.flags & layout::kMenuChecked) flags |= MF_CHECKED;
    if (!item.submenu.empty()) {
      // The parent menu owns the submenu from here on and destroys it with itself.
      HMENU sub = CreatePopupMenu();
      fill_menu(sub, item.submenu);
      AppendMenuA(menu, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(sub), item.text);
    } else {
      AppendMenuA(menu, flags, static_cast<UINT_PTR>(item.id), item.text);
    }
  }
}

}  // namespace

bool MainWindow::create(HINSTANCE instance, WindowEvents* events) {
  events_ = events;
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = window_proc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP));
  wc.hIconSm =
      static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, 16, 16, 0));
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  RegisterClassExA(&wc);

  // The monitor is not known before the window exists; the system's DPI is the likely one.
  dpi_ = dpi::system_dpi();
  const RECT r = centred(dpi::window_size(widening_, dpi_));
  CreateWindowExA(0, kClassName, layout::kCaption, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, r.left,
                  r.top, r.right - r.left, r.bottom - r.top, nullptr, nullptr, instance, this);
  return hwnd_ != nullptr;
}

LRESULT CALLBACK MainWindow::window_proc(HWND hwnd, UINT message, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (message == WM_NCCREATE) {
    self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTA*>(lp)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (!self) return DefWindowProcA(hwnd, message, wp, lp);
  return self->handle(hwnd, message, wp, lp);
}

// hwnd is the window the message is for: after a refused creation hwnd_ is null, and the
// messages that still come (WM_NCDESTROY) need the real handle.
LRESULT MainWindow::handle(HWND hwnd, UINT message, WPARAM wp, LPARAM lp) {
  LRESULT result = 0;
  if (events_->on_message(message, wp, lp, &result)) return result;
  switch (message) {
    case WM_CREATE:
      create_controls();
      create_tray_menu();
      if (!events_->on_created()) {
        hwnd_ = nullptr;
        return -1;
      }
      return 0;
    case WM_CLOSE:
      events_->on_close_query();
      return 0;
    case WM_QUERYENDSESSION:
      // Windows may log off or shut down: the teardown follows in WM_ENDSESSION.
      return TRUE;
    case WM_ENDSESSION:
      if (wp) events_->on_end_session();
      return 0;
    case WM_DESTROY:
      events_->on_destroyed();
      PostQuitMessage(0);
      return 0;
    case WM_COMMAND: {
      const int id = LOWORD(wp);
      const int code = HIWORD(wp);
      // Enter and Esc come as IDOK and IDCANCEL without a control, like a menu entry.
      if (lp == 0 && code == 0 && layout::is_tray_menu_id(id)) {
        events_->on_command(id);
      } else if (code == BN_CLICKED) {
        events_->on_command(id);
      } else if (code == EN_KILLFOCUS) {
        events_->on_lost_focus(static_cast<Id>(id));
      } else if (code == EN_CHANGE && !setting_text_) {
        keep_within_limit(static_cast<Id>(id));
        events_->on_content_changed(static_cast<Id>(id));
      }
      return 0;
    }
    case WM_INITMENUPOPUP: {
      // Only a handle of our own menu names an entry; any other number names none.
      const auto menu = layout::tray_menu();
      for (std::size_t i = 0; i < menu.size(); ++i) {
        if (!menu[i].submenu.empty() &&
            GetSubMenu(tray_menu_.get(), static_cast<int>(i)) == reinterpret_cast<HMENU>(wp)) {
          events_->on_submenu_opening(menu[i].id);
        }
      }
      return 0;
    }
    case WM_NOTIFY:
      // No record is read: the pointer may be another program's (message_origin.h). The tab
      // switch is learnt from the control's selection (container_proc); 0 lets it switch.
      return 0;
    case WM_SIZE:
      // The status bar docks itself anew when told the window's size changed.
      SendMessageA(control(layout::状态条1), WM_SIZE, 0, 0);
      return 0;
    case WM_DPICHANGED:
      // Moved to a monitor with another DPI, or its scaling changed. The DPI comes from the
      // message: the window may not report the new one yet while the message is handled. The
      // suggested rectangle is read only when this thread sent the message: from elsewhere
      // lParam may be any number, and the window keeps its corner at the size the DPI gives.
      if (!dpi::usable(LOWORD(wp))) return 0;
      if (lp && !sent_from_another_thread()) {
        change_dpi(LOWORD(wp), *reinterpret_cast<const RECT*>(lp));
      } else {
        RECT now{};
        GetWindowRect(hwnd_, &now);
        const dpi::Size size = dpi::window_size(widening_, LOWORD(wp));
        change_dpi(LOWORD(wp), {now.left, now.top, now.left + size.width, now.top + size.height});
      }
      return 0;
    case WM_CTLCOLOREDIT:
      return color_control(reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp), false);
    case WM_CTLCOLORSTATIC:
      return color_control(reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp), true);
    default:
      return DefWindowProcA(hwnd, message, wp, lp);
  }
}

LRESULT MainWindow::color_control(HDC dc, HWND control, bool static_color) {
  const Control* c = layout::find(static_cast<Id>(GetDlgCtrlID(control)));
  if (c && c->kind == Kind::Edit && IsWindowEnabled(control)) {
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkColor(dc, RGB(255, 255, 255));
    return reinterpret_cast<LRESULT>(white_.get());
  }
  if (c && c->kind != Kind::Edit) {
    // Labels, checkboxes and the group box draw only their text over the tab page, whose
    // background depends on the visual style.
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
  }
  return DefWindowProcA(hwnd_, static_color ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT,
                        reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control));
}

// The tab control and the group box pass their children's notifications on to the main
// window, where the handlers are bound. After each message the tab control's own procedure
// handled, the window looks at its selection.
LRESULT CALLBACK MainWindow::container_proc(HWND hwnd, UINT message, WPARAM wp, LPARAM lp,
                                            UINT_PTR subclass, DWORD_PTR data) {
  auto* self = reinterpret_cast<MainWindow*>(data);
  switch (message) {
    case WM_COMMAND:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return SendMessageA(self->hwnd_, message, wp, lp);
    default:
      if (subclass != kTabSubclass) return DefSubclassProc(hwnd, message, wp, lp);
      if (message == WM_DESTROY) self->pages_.close();
      const LRESULT result = DefSubclassProc(hwnd, message, wp, lp);
      self->follow_tab(hwnd);
      return result;
  }
}

LRESULT CALLBACK MainWindow::port_proc(HWND hwnd, UINT message, WPARAM wp, LPARAM lp, UINT_PTR,
                                       DWORD_PTR) {
  if (message == WM_CHAR && !layout::port_char_allowed(static_cast<unsigned>(wp))) return 0;
  return DefSubclassProc(hwnd, message, wp, lp);
}

// A checkbox draws its text and its focus rectangle over the page without drawing the page first,
// and draws the rectangle by inverting: where it draws itself anew, an old rectangle would stay or
// cancel the new one out. The page under it is drawn again each time, and the box over it.
LRESULT CALLBACK MainWindow::see_through_proc(HWND hwnd, UINT message, WPARAM wp, LPARAM lp,
                                              UINT_PTR, DWORD_PTR) {
  const LRESULT result = DefSubclassProc(hwnd, message, wp, lp);
  switch (message) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_UPDATEUISTATE:
    case WM_ENABLE:
    case BM_SETCHECK: {
      HWND root = GetAncestor(hwnd, GA_ROOT);
      RECT r{};
      GetWindowRect(hwnd, &r);
      MapWindowPoints(nullptr, root, reinterpret_cast<POINT*>(&r), 2);
      RedrawWindow(root, &r, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
      break;
    }
    case WM_NCDESTROY:
      RemoveWindowSubclass(hwnd, see_through_proc, 0);
      break;
    default:
      break;
  }
  return result;
}

void MainWindow::create_controls() {
  // The window was sized for the system's DPI; the monitor it opened on may have another.
  const int dpi = dpi::window_dpi(hwnd_);
  if (dpi != dpi_) {
    dpi_ = dpi;
    move_to(hwnd_, centred(dpi::window_size(widening_, dpi_)));
  }
  set_fonts();
  white_.reset(CreateSolidBrush(RGB(255, 255, 255)));
  const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(hwnd_, GWLP_HINSTANCE));

  for (const Control& c : layout::controls()) {
    HWND parent = hwnd_;
    if (c.parent == layout::Parent::Tab) parent = control(layout::选择夹1);
    if (c.parent == layout::Parent::Group) parent = control(layout::分组框1);
    const dpi::Rect r = dpi::place(c, widening_, dpi_);
    HWND w = CreateWindowExA(
        ex_style_of(c), class_of(c.kind), c.caption, style_of(c), r.x, r.y, r.width, r.height,
        parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, nullptr);
    const bool log = (c.flags & layout::kLog) != 0;
    SendMessageA(w, WM_SETFONT, reinterpret_cast<WPARAM>(log ? log_font_.get() : ui_font_.get()),
                 FALSE);
    // 0 lifts the control's own limit of 32,767 characters.
    if (c.kind == Kind::Edit) SendMessageA(w, EM_SETLIMITTEXT, c.max_input, 0);
    if (c.flags & layout::kPassword) SendMessageA(w, EM_SETPASSWORDCHAR, '*', 0);
    if (c.flags & layout::kPortInput) SetWindowSubclass(w, port_proc, 0, 0);
    if (c.kind == Kind::CheckBox) SetWindowSubclass(w, see_through_proc, 0, 0);
    if (c.kind == Kind::Tab || c.kind == Kind::GroupBox) {
      SetWindowSubclass(w, container_proc, c.kind == Kind::Tab ? kTabSubclass : 0,
                        reinterpret_cast<DWORD_PTR>(this));
    }
    if (c.kind == Kind::Tab) {
      TCITEMA item{};
      item.mask = TCIF_TEXT;
      item.pszText = const_cast<char*>(layout::kTabConfig);
      SendMessageA(w, TCM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
      item.pszText = const_cast<char*>(layout::kTabLog);
      SendMessageA(w, TCM_INSERTITEMA, 1, reinterpret_cast<LPARAM>(&item));
    }
    if (c.kind == Kind::StatusBar) {
      set_parts(w, dpi_);
      for (std::size_t i = 0; i < layout::status_parts().size(); ++i) {
        set_status(static_cast<int>(i), layout::status_parts()[i].text);
      }
    }
  }
}

void MainWindow::set_fonts() {
  win::unique_hfont ui(dpi::message_font(dpi_));
  win::unique_hfont log(CreateFontA(-dpi::log_font_height(dpi_), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                                    FALSE, GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                    DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                    layout::kLogFontFace));
  for (const Control& c : layout::controls()) {
    HWND w = control(c.id);
    if (!w) continue;  // not created yet
    const bool is_log = (c.flags & layout::kLog) != 0;
    SendMessageA(w, WM_SETFONT, reinterpret_cast<WPARAM>(is_log ? log.get() : ui.get()), FALSE);
  }
  ui_font_ = std::move(ui);
  log_font_ = std::move(log);
}

void MainWindow::place_controls() {
  for (const Control& c : layout::controls()) {
    HWND w = control(c.id);
    if (c.kind == Kind::StatusBar) {
      set_parts(w, dpi_);
      SendMessageA(w, WM_SIZE, 0, 0);
      continue;
    }
    const dpi::Rect r = dpi::place(c, widening_, dpi_);
    SetWindowPos(w, nullptr, r.x, r.y, r.width, r.height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void MainWindow::change_dpi(int dpi, const RECT& suggested) {
  HWND log = control(layout::编辑框_日志);
  const auto first_line = SendMessageA(log, EM_GETFIRSTVISIBLELINE, 0, 0);
  dpi_ = dpi;
  set_fonts();
  move_to(hwnd_, suggested);
  place_controls();
  // An edit box may scroll when its font or size changes; the reader stays at his line.
  const auto now = SendMessageA(log, EM_GETFIRSTVISIBLELINE, 0, 0);
  if (now != first_line) SendMessageA(log, EM_LINESCROLL, 0, first_line - now);
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void MainWindow::create_tray_menu() {
  tray_menu_.reset(CreatePopupMenu());
  fill_menu(tray_menu_.get(), layout::tray_menu());
}

// A message sent, posted with SendNotifyMessage or sent with a callback by another thread (or
// program). The message hook clears the pointer messages that another program posts.
bool MainWindow::sent_from_another_thread() {
  return (InSendMessageEx(nullptr) & (ISMEX_SEND | ISMEX_NOTIFY | ISMEX_CALLBACK)) != 0;
}

HWND MainWindow::control(layout::Id id) const {
  const Control* c = layout::find(id);
  if (!c) return nullptr;
  HWND parent = hwnd_;
  if (c->parent != layout::Parent::Main) parent = GetDlgItem(hwnd_, layout::选择夹1);
  if (c->parent == layout::Parent::Group) parent = GetDlgItem(parent, layout::分组框1);
  return GetDlgItem(parent, id);
}

std::string MainWindow::text(layout::Id id) const {
  HWND w = control(id);
  std::string s(static_cast<std::size_t>(GetWindowTextLengthA(w)) + 1, '\0');
  s.resize(static_cast<std::size_t>(GetWindowTextA(w, s.data(), static_cast<int>(s.size()))));
  return s;
}

void MainWindow::set_text(layout::Id id, const std::string& text) {
  setting_text_ = true;
  SetWindowTextA(control(id), text.c_str());
  setting_text_ = false;
  events_->on_content_changed(id);
}

void MainWindow::keep_within_limit(layout::Id id) {
  // The control's own limit counts bytes where it keeps ANSI text, but characters where the
  // system keeps every text in UTF-16 (Wine does): a double-byte character must count twice.
  const layout::Control* c = layout::find(id);
  if (c == nullptr || c->max_input == 0) return;
  const std::string now = text(id);
  if (now.size() <= c->max_input) return;
  HWND w = control(id);
  setting_text_ = true;
  SetWindowTextA(w, gbk::cut_whole_chars(now, c->max_input).c_str());
  setting_text_ = false;
  constexpr WPARAM kEnd = 0x7FFFFFFF;  // positions past the text mean its end
  SendMessageA(w, EM_SETSEL, kEnd, kEnd);
}

bool MainWindow::checked(layout::Id id) const {
  return SendMessageA(control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void MainWindow::set_checked(layout::Id id, bool on) {
  SendMessageA(control(id), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool MainWindow::enabled(layout::Id id) const { return IsWindowEnabled(control(id)) != FALSE; }

void MainWindow::enable(layout::Id id, bool on) { EnableWindow(control(id), on); }

void MainWindow::set_password_masked(bool masked) {
  HWND w = control(layout::编辑框_密码);
  SendMessageA(w, EM_SETPASSWORDCHAR, masked ? '*' : 0, 0);
  InvalidateRect(w, nullptr, TRUE);
}

bool MainWindow::visible() const { return IsWindowVisible(hwnd_) != FALSE; }

void MainWindow::set_visible(bool on) { ShowWindow(hwnd_, on ? SW_SHOW : SW_HIDE); }

void MainWindow::set_title(const std::string& title) { SetWindowTextA(hwnd_, title.c_str()); }

void MainWindow::show_page(int page) {
  for (const Control& c : layout::controls()) {
    if (c.page < 0 || c.parent == layout::Parent::Group) continue;
    ShowWindow(control(c.id), c.page == page ? SW_SHOW : SW_HIDE);
  }
}

void MainWindow::follow_tab(HWND tab) {
  pages_.follow([tab] { return static_cast<int>(SendMessageA(tab, TCM_GETCURSEL, 0, 0)); },
                [this](int page) {
                  show_page(page);
                  events_->on_tab_changed(page);
                });
}

bool MainWindow::take_key(const MSG& m) {
  if (m.message != WM_KEYDOWN || hwnd_ == nullptr || (m.hwnd != hwnd_ && !IsChild(hwnd_, m.hwnd))) {
    return false;
  }
  const auto held = [](int key) { return (GetKeyState(key) & 0x8000) != 0; };
  const keys::Action action = keys::action(static_cast<unsigned>(m.wParam), held(VK_CONTROL),
                                           held(VK_SHIFT), held(VK_MENU));
  switch (action) {
    case keys::Action::kNextPage:
    case keys::Action::kPreviousPage:
      switch_page(action == keys::Action::kPreviousPage);
      return true;
    case keys::Action::kNextControl:
    case keys::Action::kPreviousControl:
      move_focus(action == keys::Action::kPreviousControl);
      return true;
    case keys::Action::kHide:
      SendMessageA(hwnd_, WM_SYSCOMMAND, SC_CLOSE, 0);  // as the close box does
      return true;
    case keys::Action::kNone:
      break;
  }
  return false;
}

void MainWindow::switch_page(bool backward) {
  // As a click on a tab: the tabs take the focus, then the selection moves, and the window follows
  // the selection as after any message of the control's (follow_tab). The control that had the
  // focus may belong to the page that goes.
  HWND tab = control(layout::选择夹1);
  const int now = static_cast<int>(SendMessageA(tab, TCM_GETCURSEL, 0, 0));
  SendMessageA(hwnd_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
  SetFocus(tab);
  SendMessageA(tab, TCM_SETCURFOCUS, static_cast<WPARAM>(keys::next_page(now, backward)), 0);
}

void MainWindow::move_focus(bool backward) {
  const int page = static_cast<int>(SendMessageA(control(layout::选择夹1), TCM_GETCURSEL, 0, 0));
  HWND now = GetFocus();
  const int from = now != nullptr && IsChild(hwnd_, now) ? GetDlgCtrlID(now) : 0;
  const int next = keys::next_stop(page, from, backward, [this](Id id) {
    HWND w = control(id);
    return IsWindowVisible(w) && IsWindowEnabled(w);
  });
  if (next == 0) return;
  // Keyboard users see where the focus went, also where the system hides the cues until a key.
  SendMessageA(hwnd_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
  HWND w = control(static_cast<Id>(next));
  SetFocus(w);
  // A field entered by Tab has its text selected, as in a dialog; the log keeps the reader's place.
  const Control& c = *layout::find(static_cast<Id>(next));
  if (c.kind == Kind::Edit && (c.flags & layout::kLog) == 0) SendMessageA(w, EM_SETSEL, 0, -1);
}

void MainWindow::widen(int dx) {
  widening_ += dx;
  // Widths come from the description at the window's DPI, so that widening and narrowing again
  // land on the same pixel; heights stay.
  const auto set_width = [](HWND w, int width) {
    RECT r{};
    GetWindowRect(w, &r);
    SetWindowPos(w, nullptr, 0, 0, width, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  };
  set_width(hwnd_, dpi::window_size(widening_, dpi_).width);
  for (Id id : {layout::选择夹1, layout::编辑框_日志}) {
    set_width(control(id), dpi::place(*layout::find(id), widening_, dpi_).width);
  }
}

void MainWindow::set_status(int part, const std::string& text) {
  SendMessageA(control(layout::状态条1), SB_SETTEXTA, static_cast<WPARAM>(part),
               reinterpret_cast<LPARAM>(text.c_str()));
}

void MainWindow::set_menu_text(int id, const std::string& text) {
  MENUITEMINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_STRING;
  info.dwTypeData = const_cast<char*>(text.c_str());
  SetMenuItemInfoA(tray_menu_.get(), static_cast<UINT>(id), FALSE, &info);
}

void MainWindow::set_menu_checked(int id, bool on) {
  CheckMenuItem(tray_menu_.get(), static_cast<UINT>(id),
                MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

void MainWindow::set_menu_enabled(int id, bool on) {
  EnableMenuItem(tray_menu_.get(), static_cast<UINT>(id),
                 MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED));
}

void MainWindow::popup_tray_menu() {
  POINT pt{};
  GetCursorPos(&pt);
  // Without the foreground the menu would not close when the user clicks elsewhere.
  SetForegroundWindow(hwnd_);
  TrackPopupMenu(tray_menu_.get(), TPM_RIGHTALIGN, pt.x - 5, pt.y - 5, 0, hwnd_, nullptr);
  PostMessageA(hwnd_, WM_NULL, 0, 0);
}

void MainWindow::message_box(const std::string& text, const std::string& caption) {
  MessageBoxA(hwnd_, text.c_str(), caption.c_str(), MB_OK | MB_TASKMODAL);
}

std::string MainWindow::browse(const std::string& initial_dir) {
  // One filter entry whose description and pattern are both the server's file name.
  static const wchar_t kFilter[] = L"rivermesh_windows_amd64.exe\0rivermesh_windows_amd64.exe\0";
  // The dialog's wide form: the narrow one would hand over a path with a character that code
  // page 936 lacks already changed.
  const std::wstring dir = gbk::to_wide(initial_dir);
  wchar_t path[MAX_PATH] = {};
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = hwnd_;
  ofn.lpstrFilter = kFilter;
  ofn.lpstrFile = path;
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrInitialDir = dir.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  if (!GetOpenFileNameW(&ofn)) return std::string();
  const std::optional<std::string> chosen = gbk::from_wide(path);
  if (!chosen) {
    message_box(layout::kPathNotKept, settings::kErrorCaption);
    return std::string();
  }
  return *chosen;
}
