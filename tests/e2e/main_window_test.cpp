// The main window as a user meets it: caption, every control in its place with its text, the
// status bar, hiding on close, the log tab's width, dropped files and the exit entry.
// Winsock 2 (through the message box helpers) must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <commctrl.h>
#include <dlgs.h>
#include <ole2.h>
#include <oleacc.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/layout.h"
#include "app/main_window_win.h"
#include "platform/gbk_win.h"
#include "tests/e2e/server_fixture.h"
#include "tests/support/harness.h"

using namespace e2e;
using namespace layout;

namespace {

std::string window_title(HWND w) {
  char buf[256] = {};
  GetWindowTextA(w, buf, sizeof buf);
  return buf;
}

int outer_width(HWND w) {
  RECT r{};
  GetWindowRect(w, &r);
  return r.right - r.left;
}

int outer_height(HWND w) {
  RECT r{};
  GetWindowRect(w, &r);
  return r.bottom - r.top;
}

struct Expected {
  Id id;
  Id parent;  // 0: the main window
  int x, y, w, h;
  const char* text;
};

// Where a user finds each control, relative to what holds it.
const Expected kControls[] = {
    {选择夹1, Id(0), 12, 4, 380, 316, ""},
    {分组框1, 选择夹1, 16, 32, 352, 156, "配置信息"},
    {透明标签1, 选择夹1, 16, 200, 64, 24, "文件位置："},
    {编辑框_文件位置, 选择夹1, 80, 200, 250, 24, nullptr},
    {按钮_浏览, 选择夹1, 330, 200, 36, 24, "浏览"},
    {透明标签5, 选择夹1, 16, 232, 80, 24, "网页端口："},
    {编辑框_网页端口, 选择夹1, 80, 232, 92, 24, "8888"},
    {按钮_保存, 选择夹1, 184, 232, 92, 24, "保存配置"},
    {选择框_开机启动, 选择夹1, 296, 232, 76, 24, "开机启动"},
    {按钮_启动, 选择夹1, 28, 268, 160, 32, "启动"},
    {按钮_停止, 选择夹1, 188, 268, 160, 32, "停止"},
    {透明标签2, 分组框1, 16, 24, 68, 24, "访问地址："},
    {编辑框_IP, 分组框1, 84, 24, 228, 24, "0.0.0.0"},
    {选择框_访问控制, 分组框1, 84, 56, 252, 24, "启用访问限制（账号密码）"},
    {透明标签3, 分组框1, 16, 88, 60, 24, "访问账号："},
    {编辑框_账号, 分组框1, 84, 88, 228, 24, ""},
    {透明标签4, 分组框1, 16, 120, 60, 24, "访问密码："},
    {编辑框_密码, 分组框1, 84, 120, 228, 24, ""},
    {选择框_密码明文, 分组框1, 320, 120, 16, 24, ""},
    {编辑框_日志, 选择夹1, 0, 20, 380, 296, ""},
};

// A key pressed as a user does, with the modifiers held: into the foreground window's focus.
void press(WORD key, const std::vector<WORD>& held = {}) {
  for (WORD k : held) keybd_event(static_cast<BYTE>(k), 0, 0, 0);
  keybd_event(static_cast<BYTE>(key), 0, 0, 0);
  keybd_event(static_cast<BYTE>(key), 0, KEYEVENTF_KEYUP, 0);
  for (WORD k : held) keybd_event(static_cast<BYTE>(k), 0, KEYEVENTF_KEYUP, 0);
}

// What a control shows on the screen.
std::vector<COLORREF> pixels(HWND w) {
  RECT r{};
  GetWindowRect(w, &r);
  HDC screen = GetDC(nullptr);
  HDC copy = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, r.right - r.left, r.bottom - r.top);
  HGDIOBJ before = SelectObject(copy, bitmap);
  BitBlt(copy, 0, 0, r.right - r.left, r.bottom - r.top, screen, r.left, r.top, SRCCOPY);
  std::vector<COLORREF> seen;
  for (int y = 0; y < r.bottom - r.top; ++y) {
    for (int x = 0; x < r.right - r.left; ++x) seen.push_back(GetPixel(copy, x, y));
  }
  DeleteObject(SelectObject(copy, before));
  DeleteDC(copy);
  ReleaseDC(nullptr, screen);
  return seen;
}

// The control with the keyboard focus in the program's window.
HWND focused(HWND main) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info) ? info.hwndFocus
                                                                          : nullptr;
}

// The name a screen reader reads for a control, in the program's code page.
std::string accessible_name(HWND w) {
  std::string text = "<none>";
  CoInitialize(nullptr);
  IAccessible* object = nullptr;
  if (SUCCEEDED(AccessibleObjectFromWindow(w, OBJID_CLIENT, IID_IAccessible,
                                           reinterpret_cast<void**>(&object)))) {
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    object->get_accName(self, &name);
    text = name ? gbk::from_wide(name).value_or("?") : "";
    SysFreeString(name);
    object->Release();
  }
  CoUninitialize();
  return text;
}

// Files dragged from the desktop shell: their paths in UTF-16, as the shell hands them over.
class DraggedFiles final : public IDataObject {
 public:
  explicit DraggedFiles(std::vector<std::wstring> paths) : paths_(std::move(paths)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IDataObject) {
      *object = static_cast<IDataObject*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&refs_); }

  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
    if (QueryGetData(format) != S_OK) return DV_E_FORMATETC;
    std::wstring list;
    for (const std::wstring& p : paths_) list += p + L'\0';
    list += L'\0';
    const SIZE_T size = sizeof(DROPFILES) + list.size() * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (!memory) return E_OUTOFMEMORY;
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    std::memcpy(drop + 1, list.data(), list.size() * sizeof(wchar_t));
    GlobalUnlock(memory);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = memory;
    medium->pUnkForRelease = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override {
    return format && format->cfFormat == CF_HDROP && (format->tymed & TYMED_HGLOBAL)
               ? S_OK
               : DV_E_FORMATETC;
  }
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
    out->ptd = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC** e) override {
    *e = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }

 private:
  std::vector<std::wstring> paths_;
  LONG refs_ = 1;
};

// The user lets go of the mouse button over the window once the drag has entered it.
class LetGo final : public IDropSource {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IDropSource) {
      *object = static_cast<IDropSource*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL, DWORD) override {
    return ++asked_ > 3 ? DRAGDROP_S_DROP : S_OK;
  }
  HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }

 private:
  int asked_ = 0;
};

// Drags the files onto the middle of the window and drops them there, as a user would from the
// desktop shell; whether the window took the drop.
bool drop_files(HWND main, const std::vector<std::wstring>& paths) {
  RECT r{};
  GetWindowRect(main, &r);
  bool dropped = false;
  // Drag and drop runs in an apartment of its own, on a thread that lives as long as the drag.
  std::thread drag([&] {
    if (FAILED(OleInitialize(nullptr))) return;
    {
      DraggedFiles data(paths);
      LetGo source;
      SetForegroundWindow(main);
      SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
      DWORD effect = DROPEFFECT_NONE;
      dropped = DoDragDrop(&data, &source, DROPEFFECT_COPY, &effect) == DRAGDROP_S_DROP &&
                effect == DROPEFFECT_COPY;
    }
    OleUninitialize();
  });
  drag.join();
  return dropped;
}

std::wstring widened(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// Chooses the file in the open-file dialog that "浏览" opens, its full path typed into the file
// name box as a user may; whether the dialog took it and closed.
bool choose_file(const Program& program, const std::wstring& path) {
  HWND browse = find_control(program.main, 按钮_浏览);
  if (!enabled(browse)) return false;
  PostMessageA(browse, BM_CLICK, 0, 0);
  HWND dialog = nullptr;
  if (!wait_until([&] { return (dialog = visible_window_of("#32770", program.id)) != nullptr; },
                  10000)) {
    return false;
  }
  HWND name = GetDlgItem(dialog, cmb13);  // the box of the explorer-style dialog
  if (!name) name = GetDlgItem(dialog, edt1);
  HWND open = GetDlgItem(dialog, IDOK);
  if (!name || !open || !enabled(open)) return false;
  DWORD_PTR answer = 0;
  SendMessageTimeoutW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), SMTO_ABORTIFHUNG,
                      5000, &answer);
  PostMessageA(open, BM_CLICK, 0, 0);
  return wait_until([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, 10000);
}

// The program's window, run by this test on a thread of its own as the program runs it, so that
// the test's thread is another thread of the window's process, where a pointer the test sends
// can point at something: Wine passes no WM_NOTIFY from one process to another (Windows does).
class HostedWindow final : public WindowEvents {
 public:
  HostedWindow() : thread_([this] { run(); }) {
    wait_until([&] { return main_.load() != nullptr; });
  }
  ~HostedWindow() {
    if (HWND main = main_.load()) PostMessageA(main, WM_CLOSE, 0, 0);
    thread_.join();
  }
  HostedWindow(const HostedWindow&) = delete;
  HostedWindow& operator=(const HostedWindow&) = delete;

  HWND main() const { return main_.load(); }
  // The pages the window switched to, in turn.
  std::vector<int> pages() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return pages_;
  }

 private:
  void run() {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    if (window_.create(GetModuleHandleA(nullptr), this)) {
      window_.set_visible(true);
      main_ = window_.hwnd();
      MSG m;
      while (GetMessageA(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
      }
    }
  }
  bool on_created() override { return true; }
  void on_close_query() override { DestroyWindow(window_.hwnd()); }
  void on_end_session() override {}
  void on_destroyed() override {}
  void on_command(int) override {}
  void on_lost_focus(Id) override {}
  void on_content_changed(Id) override {}
  void on_tab_changed(int page) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    pages_.push_back(page);
  }
  bool on_message(UINT, WPARAM, LPARAM, LRESULT*) override { return false; }

  MainWindow window_;
  mutable std::mutex mutex_;
  std::vector<int> pages_;
  std::atomic<HWND> main_{nullptr};
  std::thread thread_;  // last: it starts once the rest is there
};

// A tooltip that another program named for the tab control (TCM_SETTOOLTIPS), on the test's
// thread: the control hands mouse messages on to it and waits for the answer, and meanwhile it
// sends the window a notice with a pointer of its own choosing. It may send one at any other
// time, too.
class NamedTooltip {
 public:
  static constexpr UINT kSendNow = WM_APP;

  NamedTooltip(HWND main, HWND tab) : main_(main), tab_(tab) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "RmtTestNamedTooltip";
    RegisterClassA(&wc);  // fails harmlessly the second time
    hwnd_ = CreateWindowExA(WS_EX_TOOLWINDOW, wc.lpszClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr,
                            nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    DWORD_PTR r = 0;
    SendMessageTimeoutA(tab_, TCM_SETTOOLTIPS, reinterpret_cast<WPARAM>(hwnd_), 0, SMTO_ABORTIFHUNG,
                        5000, &r);
  }
  ~NamedTooltip() {
    DWORD_PTR r = 0;
    SendMessageTimeoutA(tab_, TCM_SETTOOLTIPS, 0, 0, SMTO_ABORTIFHUNG, 5000, &r);
    DestroyWindow(hwnd_);
  }
  NamedTooltip(const NamedTooltip&) = delete;
  NamedTooltip& operator=(const NamedTooltip&) = delete;

  HWND hwnd() const { return hwnd_; }
  void answer_with(LPARAM notice) { notice_ = notice; }
  // Notices the window answered (it did not hang or end meanwhile).
  int answered() const { return answered_; }
  // Answers what is sent to this thread until pred holds.
  bool serve_until(const std::function<bool()>& pred) {
    return wait_until([&] {
      MSG m;
      while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
      return pred();
    });
  }

 private:
  static LRESULT CALLBACK proc(HWND hwnd, UINT message, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<NamedTooltip*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self && (message == TTM_RELAYEVENT || message == kSendNow)) {
      DWORD_PTR r = 0;
      if (SendMessageTimeoutA(self->main_, WM_NOTIFY, 选择夹1, self->notice_, SMTO_ABORTIFHUNG,
                              5000, &r)) {
        ++self->answered_;
      }
      return 0;
    }
    return DefWindowProcA(hwnd, message, wp, lp);
  }

  HWND main_;
  HWND tab_;
  HWND hwnd_ = nullptr;
  LPARAM notice_ = 0;
  int answered_ = 0;
};

}  // namespace

TEST(MainWindow, StartsFromTheShellShowingItsVersionedTitle) {
  TestFolder folder;
  Program program = start_program(folder, true);
  ASSERT_NE(program.main, nullptr) << "the program did not create its main window";
  EXPECT_TRUE(wait_until([&] { return IsWindowVisible(program.main) != FALSE; }));
  EXPECT_EQ(window_title(program.main), "Rivermesh Tools    v1.0.2");
  EXPECT_EQ(outer_width(program.main), 410);
  EXPECT_EQ(outer_height(program.main), 370);
  // Centred on the screen.
  RECT r{};
  GetWindowRect(program.main, &r);
  EXPECT_NEAR(r.left, (GetSystemMetrics(SM_CXSCREEN) - 410) / 2, 1);
  EXPECT_NEAR(r.top, (GetSystemMetrics(SM_CYSCREEN) - 370) / 2, 1);
  const LONG style = GetWindowLongA(program.main, GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
}

TEST(MainWindow, EveryControlSitsInItsPlaceWithItsText) {
  TestFolder folder;
  Program program = start_program(folder, true);
  ASSERT_NE(program.main, nullptr);
  for (const Expected& e : kControls) {
    SCOPED_TRACE(testing::Message() << "control id " << e.id);
    HWND w = find_control(program.main, e.id);
    ASSERT_NE(w, nullptr);
    HWND expected_parent = e.parent ? find_control(program.main, e.parent) : program.main;
    EXPECT_EQ(GetParent(w), expected_parent);
    const RECT r = rect_in_parent(w);
    EXPECT_EQ(r.left, e.x);
    EXPECT_EQ(r.top, e.y);
    EXPECT_EQ(r.right - r.left, e.w);
    EXPECT_EQ(r.bottom - r.top, e.h);
    if (e.text) {
      EXPECT_EQ(text_of(w), e.text);
    }
  }
  // A screen reader names each box after its label; the log has none. Where the test's own
  // process cannot reach the accessibility layer at all (Wine's 64-bit prefixes here: not even a
  // button, named by its text, answers), there is nothing to read the names with.
  const std::pair<Id, const char*> names[] = {
      {编辑框_文件位置, "文件位置："}, {编辑框_网页端口, "网页端口："}, {编辑框_IP, "访问地址："},
      {编辑框_账号, "访问账号："},     {编辑框_密码, "访问密码："},     {编辑框_日志, ""}};
  if (accessible_name(find_control(program.main, 按钮_启动)) == "<none>") {
    std::printf("note: no accessibility layer for this test program: the names are not read\n");
  } else {
    for (const auto& [id, name] : names) {
      EXPECT_EQ(accessible_name(find_control(program.main, id)), name) << "control id " << id;
    }
  }
  // Styles a user notices: centred fields, the masked password, the read-only path.
  HWND path = find_control(program.main, 编辑框_文件位置);
  EXPECT_TRUE(GetWindowLongA(path, GWL_STYLE) & ES_READONLY);
  EXPECT_TRUE(GetWindowLongA(path, GWL_STYLE) & ES_CENTER);
  EXPECT_TRUE(GetWindowLongA(path, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
  HWND password = find_control(program.main, 编辑框_密码);
  EXPECT_EQ(SendMessageA(password, EM_GETPASSWORDCHAR, 0, 0), '*');
  HWND log = find_control(program.main, 编辑框_日志);
  EXPECT_TRUE(GetWindowLongA(log, GWL_STYLE) & ES_MULTILINE);
  EXPECT_TRUE(GetWindowLongA(log, GWL_STYLE) & ES_READONLY);
  EXPECT_TRUE(GetWindowLongA(log, GWL_EXSTYLE) & WS_EX_STATICEDGE);
  EXPECT_FALSE(visible(log)) << "the log belongs to the other tab";
  EXPECT_TRUE(enabled(find_control(program.main, 按钮_启动)));
  EXPECT_FALSE(enabled(find_control(program.main, 按钮_停止)));
}

TEST(MainWindow, StatusBarShowsStateAndReminder) {
  TestFolder folder;
  Program program = start_program(folder, true);
  ASSERT_NE(program.main, nullptr);
  HWND bar = find_control(program.main, 状态条1);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(status_text(bar, 0), "   状态：未运行");
  EXPECT_EQ(status_text(bar, 1), "   提醒：修改配置后，请记得点击[保存配置]。");
  // Docked at the bottom of the client area.
  RECT client{}, r = rect_in_parent(bar);
  GetClientRect(program.main, &client);
  EXPECT_EQ(r.bottom, client.bottom);
}

TEST(MainWindow, CloseHidesAndExitEnds) {
  TestFolder folder;
  Program program = start_program(folder, true);
  ASSERT_NE(program.main, nullptr);
  ASSERT_TRUE(wait_until([&] { return IsWindowVisible(program.main) != FALSE; }));

  PostMessageA(program.main, WM_SYSCOMMAND, SC_CLOSE, 0);  // the close box
  EXPECT_TRUE(wait_until([&] { return !IsWindowVisible(program.main); }));
  // Once the program has handled everything up to now, the window must still be there.
  EXPECT_TRUE(sync(program.main));
  EXPECT_TRUE(IsWindow(program.main)) << "closing must only hide";

  post_command(program.main, 托盘_退出);
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, program.id);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(WaitForSingleObject(h, 10000), WAIT_OBJECT_0) << "exit must end the program";
  CloseHandle(h);
}

TEST(MainWindow, LogTabWidensTheWindowAndBack) {
  TestFolder folder;
  Program program = start_program(folder, true);
  ASSERT_NE(program.main, nullptr);
  HWND tab = find_control(program.main, 选择夹1);
  HWND log = find_control(program.main, 编辑框_日志);
  HWND group = find_control(program.main, 分组框1);

  // A user's click on a tab or arrow key, and a switch that another program (an automation or
  // accessibility tool) asks the tab control for: the control then notifies the window from inside
  // that program's message, or, with TCM_SETCURSEL, not at all (so Microsoft documents it).
  struct Way {
    const char* what;
    std::function<void(int index)> to;
  };
  const Way ways[] = {
      {"clicked",
       [&](int index) {
         const LPARAM at = MAKELPARAM(index == 1 ? 85 : 30, 10);
         PostMessageA(tab, WM_LBUTTONDOWN, MK_LBUTTON, at);
         PostMessageA(tab, WM_LBUTTONUP, 0, at);
         sync(program.main);
       }},
      {"asked for by another program",
       [&](int index) {
         DWORD_PTR answer = 0;
         SendMessageTimeoutA(tab, TCM_SETCURFOCUS, index, 0, SMTO_ABORTIFHUNG, 5000, &answer);
         sync(program.main);
       }},
      {"with an arrow key",
       [&](int index) {
         const WPARAM key = index == 1 ? VK_RIGHT : VK_LEFT;
         PostMessageA(tab, WM_KEYDOWN, key, 1);
         PostMessageA(tab, WM_KEYUP, key, 0xC0000001);
         sync(program.main);
       }},
      {"with Ctrl+Tab from the page that goes",
       [&](int index) {
         focus(find_control(program.main, index == 1 ? 编辑框_IP : 编辑框_日志));
         press(VK_TAB, index == 1 ? std::vector<WORD>{VK_CONTROL}
                                  : std::vector<WORD>{VK_CONTROL, VK_SHIFT});
         wait_until([&] { return focused(program.main) == tab; });
       }},
      {"selected by another program",
       [&](int index) {
         DWORD_PTR answer = 0;
         SendMessageTimeoutA(tab, TCM_SETCURSEL, index, 0, SMTO_ABORTIFHUNG, 5000, &answer);
         sync(program.main);
       }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.what);
    way.to(1);  // "日志"
    // The window is sized first and its children after it: wait for all three.
    ASSERT_TRUE(wait_until([&] {
      return outer_width(program.main) == 610 && outer_width(tab) == 580 && outer_width(log) == 580;
    }));
    EXPECT_EQ(outer_height(program.main), 370);
    EXPECT_TRUE(visible(log));
    EXPECT_FALSE(visible(group));
    RECT client{};
    GetClientRect(program.main, &client);
    EXPECT_EQ(rect_in_parent(find_control(program.main, 状态条1)).right, client.right)
        << "the status bar follows the window's width";

    way.to(0);  // "配置"
    ASSERT_TRUE(wait_until([&] {
      return outer_width(program.main) == 410 && outer_width(tab) == 380 && outer_width(log) == 380;
    }));
    EXPECT_FALSE(visible(log));
    EXPECT_TRUE(visible(group));
  }
}

// Tab walks the shown page in reading order past greyed controls and shows the focus, which
// leaves nothing behind on the see-through checkboxes; the log page holds the tabs and the log
// only. Esc hides the window, also from the log, which as a multi-line box would hand it on.
TEST(MainWindow, TabWalksTheShownPageAndEscHides) {
  TestFolder folder;
  Program program = start_program(folder, true);
  ASSERT_NE(program.main, nullptr);
  ASSERT_TRUE(wait_until([&] { return IsWindowVisible(program.main) != FALSE; }));
  HWND tab = find_control(program.main, 选择夹1);
  HWND box = find_control(program.main, 选择框_访问控制);
  focus(tab);
  const std::vector<COLORREF> unfocused = pixels(box);
  const auto walk = [&](std::vector<Id> ids, std::vector<WORD> held) {
    for (Id id : ids) {
      press(VK_TAB, held);
      ASSERT_TRUE(wait_until([&] {
        return focused(program.main) == find_control(program.main, id);
      })) << "expected "
          << id << ", focus on " << GetDlgCtrlID(focused(program.main));
    }
  };
  walk({编辑框_IP, 选择框_访问控制, 编辑框_文件位置, 按钮_浏览, 编辑框_网页端口, 按钮_保存,
        选择框_开机启动, 按钮_启动, 选择夹1},
       {});
  EXPECT_EQ(SendMessageA(tab, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS, 0);
  EXPECT_TRUE(wait_until([&] { return pixels(box) == unfocused; }));
  walk({按钮_启动}, {VK_SHIFT});
  walk({选择夹1}, {VK_CONTROL});
  walk({编辑框_日志, 选择夹1, 编辑框_日志}, {});

  press(VK_ESCAPE);
  EXPECT_TRUE(wait_until([&] { return !IsWindowVisible(program.main); }));
  EXPECT_TRUE(sync(program.main));
  EXPECT_TRUE(IsWindow(tab)) << "the tabs must outlive Esc in the log";
}

// A notice that another thread sends is never read, whatever it names: its pointer may be one of
// that program's choosing, also while the tab control's own procedure runs, as it does while the
// control hands a mouse message on to a tooltip that another program named and waits for it. The
// page still follows a click meanwhile.
TEST(MainWindow, NoticesFromAnotherThreadAreNeverRead) {
  HostedWindow hosted;
  ASSERT_NE(hosted.main(), nullptr);
  HWND tab = find_control(hosted.main(), 选择夹1);
  HWND log = find_control(hosted.main(), 编辑框_日志);
  NamedTooltip tooltip(hosted.main(), tab);
  // What the control itself would send for a switch.
  const NMHDR record{tab, 选择夹1, static_cast<UINT>(TCN_SELCHANGE)};
  struct Case {
    const char* what;
    bool relayed;
    LPARAM notice;
  };
  const Case cases[] = {
      {"a switch's record, sent at another time", false, reinterpret_cast<LPARAM>(&record)},
      {"a switch's record, sent while handed a mouse move", true,
       reinterpret_cast<LPARAM>(&record)},
      {"a pointer to nothing, sent while handed a mouse move", true, LPARAM(0x12345678)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int answered = tooltip.answered();
    tooltip.answer_with(c.notice);
    if (c.relayed) {
      PostMessageA(tab, WM_MOUSEMOVE, 0, MAKELPARAM(30, 10));
    } else {
      PostMessageA(tooltip.hwnd(), NamedTooltip::kSendNow, 0, 0);
    }
    ASSERT_TRUE(tooltip.serve_until([&] { return tooltip.answered() > answered; }));
    ASSERT_TRUE(sync(hosted.main()));
    EXPECT_TRUE(hosted.pages().empty());
    EXPECT_FALSE(visible(log));
  }

  PostMessageA(tab, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(85, 10));  // "日志"
  PostMessageA(tab, WM_LBUTTONUP, 0, MAKELPARAM(85, 10));
  // The page shows before the window's events hear of it, on the window's own thread.
  EXPECT_TRUE(tooltip.serve_until([&] { return visible(log) && !hosted.pages().empty(); }));
  EXPECT_EQ(hosted.pages(), std::vector<int>{1});
}

// A dropped or chosen path reaches the file location and config.ini as the system names it; one
// that code page 936 cannot hold as it is (stored, it would name another file) is refused with a
// message and changes neither.
TEST(MainWindow, DroppedAndChosenPathsAreKeptExactlyOrRefused) {
  TestFolder folder;
  Program program = start_program(folder, true);
  ASSERT_NE(program.main, nullptr);
  ASSERT_TRUE(wait_until([&] { return IsWindowVisible(program.main) != FALSE; }));
  HWND field = find_control(program.main, 编辑框_文件位置);
  const std::string ini = folder.file("config.ini");
  const auto stored = [&] { return ini_value(ini, "BasisConfig", "File"); };

  struct Way {
    const char* folder;  // of its own, so that each way's kept path is a new text
    bool (*take)(const Program& program, const std::wstring& path);
  };
  const Way ways[] = {
      {"dropped",
       [](const Program& p, const std::wstring& path) { return drop_files(p.main, {path}); }},
      {"chosen", choose_file},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.folder);
    // The dialog shows files that exist only.
    const auto server_in = [&](const std::wstring& sub) {
      std::wstring path = widened(folder.file(way.folder));
      CreateDirectoryW(path.c_str(), nullptr);
      path += L"\\" + sub;
      CreateDirectoryW(path.c_str(), nullptr);
      path += L"\\rivermesh_windows_amd64.exe";
      CloseHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
      return path;
    };
    // Chinese characters have their form in code page 936.
    ASSERT_TRUE(way.take(program, server_in(L"服务器")));
    const std::string kept = folder.file(way.folder) + "\\服务器\\rivermesh_windows_amd64.exe";
    EXPECT_TRUE(wait_until([&] { return text_of(field) == kept && stored() == kept; }))
        << text_of(field) << " / " << stored();

    // ü has a form too, the Hangul syllable has none; À has only its look-alike à.
    struct Lost {
      const char* what;
      const wchar_t* folder;
    };
    for (const Lost& lost :
         {Lost{"u with diaeresis, Hangul", L"\u00FC\uD55C"}, Lost{"A with grave", L"\u00C0"}}) {
      SCOPED_TRACE(lost.what);
      ASSERT_TRUE(way.take(program, server_in(lost.folder)));
      const Box box = message_box_of(program.id);
      ASSERT_NE(box.window, nullptr) << text_of(field);
      EXPECT_EQ(box.caption, "错误");
      EXPECT_EQ(box.text, kPathNotKept);
      close_box(box);
      EXPECT_TRUE(sync(program.main));
      EXPECT_EQ(text_of(field), kept);
      EXPECT_EQ(stored(), kept);
    }
  }
}
