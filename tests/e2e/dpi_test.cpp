// The main window at the screen's DPI and after a move to a monitor with another DPI. The
// runner starts the Dpi suite again in prefixes whose screens have 144 and 192 DPI and tells the
// expected DPI in RMT_TEST_DPI (read by this test program only); without it the screen has 96.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/layout.h"
#include "tests/support/harness.h"

using namespace e2e;
using namespace layout;

namespace {

int expected_dpi() {
  char buf[16] = {};
  const DWORD n = GetEnvironmentVariableA("RMT_TEST_DPI", buf, sizeof buf);
  return n > 0 && n < sizeof buf ? std::atoi(buf) : 96;
}

int screen_dpi() {
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi;
}

// A figure of the 96-DPI description at dpi, before any rounding.
double at(int value, int dpi) { return value * dpi / 96.0; }
int rounded(int value, int dpi) { return static_cast<int>(std::lround(at(value, dpi))); }

// A buffer in the program's memory, for messages that answer through a pointer or that Wine
// passes on without copying what their pointer points at (WM_DPICHANGED).
class Remote {
 public:
  Remote(HWND w, SIZE_T size) : size_(size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_) address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
  }
  ~Remote() {
    if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
  }
  Remote(const Remote&) = delete;
  Remote& operator=(const Remote&) = delete;

  LPARAM address() const { return reinterpret_cast<LPARAM>(address_); }
  bool write(const void* data, SIZE_T n) const {
    return address_ && n <= size_ && WriteProcessMemory(process_, address_, data, n, nullptr);
  }
  bool read(void* data, SIZE_T n) const {
    return address_ && n <= size_ && ReadProcessMemory(process_, address_, data, n, nullptr);
  }

 private:
  HANDLE process_ = nullptr;
  void* address_ = nullptr;
  SIZE_T size_;
};

LRESULT send(HWND w, UINT message, WPARAM wp, LPARAM lp) {
  DWORD_PTR r = 0;
  SendMessageTimeoutA(w, message, wp, lp, SMTO_ABORTIFHUNG, 5000, &r);
  return static_cast<LRESULT>(r);
}

std::vector<int> status_edges(HWND bar) {
  int edges[8] = {};
  Remote remote(bar, sizeof edges);
  const auto n = send(bar, SB_GETPARTS, 8, remote.address());
  if (n <= 0 || n > 8 || !remote.read(edges, sizeof edges)) return {};
  return std::vector<int>(edges, edges + n);
}

void click_tab(HWND main, int index) {
  HWND tab = find_control(main, 选择夹1);
  RECT item{};
  Remote remote(tab, sizeof item);
  send(tab, TCM_GETITEMRECT, index, remote.address());
  ASSERT_TRUE(remote.read(&item, sizeof item));
  const LPARAM centre = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
  PostMessageA(tab, WM_LBUTTONDOWN, MK_LBUTTON, centre);
  PostMessageA(tab, WM_LBUTTONUP, 0, centre);
  sync(main);
}

RECT window_rect(HWND w) {
  RECT r{};
  GetWindowRect(w, &r);
  return r;
}

// Whether the window and the two controls that widen with the log tab have their widths: the
// window is sized first and its children after it.
bool widths_settled(HWND main, int dpi, int widening) {
  const RECT outer = window_rect(main);
  if (std::abs(outer.right - outer.left - at(kWidth + widening, dpi)) > 1) return false;
  for (const Control& c : controls()) {
    if (c.id != 选择夹1 && c.id != 编辑框_日志) continue;
    const RECT r = rect_in_parent(find_control(main, c.id));
    if (std::abs(r.right - r.left - at(c.width + widening, dpi)) > 1) return false;
  }
  return true;
}

// The program's own figures are rounded; within one pixel of the exact product is right.
void expect_layout(HWND main, int dpi, int widening) {
  SCOPED_TRACE(testing::Message() << "at " << dpi << " DPI, widened by " << widening);
  const RECT outer = window_rect(main);
  EXPECT_NEAR(outer.right - outer.left, at(kWidth + widening, dpi), 1);
  EXPECT_NEAR(outer.bottom - outer.top, at(kHeight, dpi), 1);
  for (const Control& c : controls()) {
    SCOPED_TRACE(testing::Message() << "control id " << c.id);
    HWND w = find_control(main, c.id);
    ASSERT_NE(w, nullptr);
    const RECT r = rect_in_parent(w);
    if (c.kind == Kind::StatusBar) {
      RECT client{};
      GetClientRect(main, &client);
      EXPECT_EQ(r.left, 0);
      EXPECT_EQ(r.right, client.right);
      EXPECT_EQ(r.bottom, client.bottom);
      continue;
    }
    const int extra = (c.id == 选择夹1 || c.id == 编辑框_日志) ? widening : 0;
    EXPECT_NEAR(r.left, at(c.x, dpi), 1);
    EXPECT_NEAR(r.top, at(c.y, dpi), 1);
    EXPECT_NEAR(r.right - r.left, at(c.width + extra, dpi), 1);
    EXPECT_NEAR(r.bottom - r.top, at(c.height, dpi), 1);
  }
  const auto edges = status_edges(find_control(main, 状态条1));
  ASSERT_EQ(edges.size(), 2u);
  EXPECT_NEAR(edges[0], at(120, dpi), 1);
  EXPECT_NEAR(edges[1], at(520, dpi), 1);
}

// Heights of the font a window draws with cannot be read from another process; what it draws
// can. The same text in a font made here at the expected height must take the same room.
int line_height_of(HFONT font) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  DeleteObject(font);
  return tm.tmHeight;
}

int width_in(HFONT font, const std::string& text) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32A(dc, text.data(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  DeleteObject(font);
  return size.cx;
}

HFONT log_font(int dpi) {
  return CreateFontA(-rounded(kLogFontHeight, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                     GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, kLogFontFace);
}

// The controls' font: the system's message font as it is at 96 DPI, its height scaled.
HFONT message_font(int dpi) {
  using ForDpi = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
  const auto for_dpi = reinterpret_cast<ForDpi>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("user32.dll"), "SystemParametersInfoForDpi")));
  NONCLIENTMETRICSW m{};
  m.cbSize = sizeof m;
  if (!for_dpi || !for_dpi(SPI_GETNONCLIENTMETRICS, sizeof m, &m, 0, 96)) return nullptr;
  m.lfMessageFont.lfHeight = -rounded(-m.lfMessageFont.lfHeight, dpi);
  return CreateFontIndirectW(&m.lfMessageFont);
}

int pos_x(LRESULT pos) { return static_cast<short>(LOWORD(pos)); }
int pos_y(LRESULT pos) { return static_cast<short>(HIWORD(pos)); }

void expect_fonts(HWND main, int dpi) {
  SCOPED_TRACE(testing::Message() << "fonts at " << dpi << " DPI");
  // The address box holds "0.0.0.0" in a new folder.
  HWND ip = find_control(main, 编辑框_IP);
  ASSERT_EQ(text_of(ip), "0.0.0.0");
  const int drawn = pos_x(send(ip, EM_POSFROMCHAR, 6, 0)) - pos_x(send(ip, EM_POSFROMCHAR, 0, 0));
  HFONT expected = message_font(dpi);
  ASSERT_NE(expected, nullptr) << "Wine gives no metrics per DPI";
  EXPECT_NEAR(drawn, width_in(expected, "0.0.0."), 1);
  if (dpi != 96) {
    EXPECT_GT(std::abs(drawn - width_in(message_font(96), "0.0.0.")), 1)
        << "the controls' font did not follow the DPI";
  }

  // Line by line: the log's line height is its font's.
  HWND log = find_control(main, 编辑框_日志);
  if (send(log, EM_GETLINECOUNT, 0, 0) < 2) {
    send(log, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("第一行\r\n第二行"));
  }
  const auto second = send(log, EM_LINEINDEX, 1, 0);
  const int line =
      pos_y(send(log, EM_POSFROMCHAR, second, 0)) - pos_y(send(log, EM_POSFROMCHAR, 0, 0));
  EXPECT_EQ(line, line_height_of(log_font(dpi)));
  if (dpi != 96) {
    EXPECT_NE(line, line_height_of(log_font(96))) << "the log's font did not follow the DPI";
  }
}

}  // namespace

TEST(Dpi, WindowControlsStatusPartsAndFontsFollowTheScreen) {
  const int dpi = expected_dpi();
  ASSERT_EQ(screen_dpi(), dpi) << "the prefix's screen is not at the DPI this run expects";
  TestFolder folder;
  Program program = start_program(folder, true);
  ASSERT_NE(program.main, nullptr);
  ASSERT_TRUE(wait_until([&] { return IsWindowVisible(program.main) != FALSE; }));
  expect_layout(program.main, dpi, 0);
  const RECT r = window_rect(program.main);
  EXPECT_NEAR(r.left, (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2, 1);
  EXPECT_NEAR(r.top, (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2, 1);
  expect_fonts(program.main, dpi);
}

TEST(Dpi, LogTabWidensByTheScaledWidening) {
  const int dpi = expected_dpi();
  TestFolder folder;
  Program program = start_program(folder, true);
  ASSERT_NE(program.main, nullptr);

  click_tab(program.main, 1);
  ASSERT_TRUE(wait_until([&] { return widths_settled(program.main, dpi, kLogWidening); }));
  expect_layout(program.main, dpi, kLogWidening);

  click_tab(program.main, 0);
  ASSERT_TRUE(wait_until([&] { return widths_settled(program.main, dpi, 0); }));
  expect_layout(program.main, dpi, 0);
}

// Wine has one DPI for every monitor and sends no WM_DPICHANGED; the test sends what Windows
// would on a move to a monitor with 1.5 times the DPI (the larger window still fits on the test
// display), and back. Sent by another program, the message cannot be told from a forged one
// whose rectangle is any number (1 here on the way back): the window reads none and keeps its
// corner, at the size the DPI gives.
TEST(DpiChange, MoveToAnotherDpiAndBackKeepsEveryStateAndPixel) {
  const int dpi = screen_dpi();
  TestFolder folder;
  Program program = start_program(folder, true);
  ASSERT_NE(program.main, nullptr);
  HWND main = program.main;
  ASSERT_TRUE(wait_until([&] { return IsWindowVisible(main) != FALSE; }));
  HWND log = find_control(main, 编辑框_日志);
  HWND account = find_control(main, 编辑框_账号);
  HWND plain = find_control(main, 选择框_密码明文);

  // The log tab widened, a long log scrolled to its middle and holding the focus, a text and a
  // check on the other page.
  click_tab(main, 1);
  ASSERT_TRUE(wait_until([&] { return visible(log); }));
  std::string lines;
  for (int i = 0; i < 300; ++i) lines += "服务日志第 " + std::to_string(i) + " 行\r\n";
  send(log, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lines.c_str()));
  send(log, EM_LINESCROLL, 0, 120);
  const auto first_line = send(log, EM_GETFIRSTVISIBLELINE, 0, 0);
  ASSERT_GT(first_line, 100);
  send(account, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("张三"));
  send(plain, BM_SETCHECK, BST_CHECKED, 0);
  focus(log);
  const DWORD thread = GetWindowThreadProcessId(main, nullptr);
  const auto focused = [&] {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
  };
  ASSERT_EQ(focused(), log);

  std::vector<RECT> before;
  for (const Control& c : controls()) before.push_back(rect_in_parent(find_control(main, c.id)));
  const RECT outer = window_rect(main);

  Remote suggested(main, sizeof(RECT));
  const auto dpi_changed = [&](int to, const RECT& r) {
    ASSERT_TRUE(suggested.write(&r, sizeof r));
    send(main, WM_DPICHANGED, MAKEWPARAM(to, to), suggested.address());
    sync(main);
  };

  // A message with no usable DPI changes nothing.
  dpi_changed(0, RECT{0, 0, 10, 10});
  EXPECT_EQ(window_rect(main).right, outer.right);

  const int larger = dpi * 3 / 2;
  const RECT big{outer.left, outer.top, outer.left + rounded(kWidth + kLogWidening, larger),
                 outer.top + rounded(kHeight, larger)};
  dpi_changed(larger, RECT{big.left - 40, big.top - 30, big.right - 40, big.bottom - 30});
  const RECT now = window_rect(main);
  EXPECT_EQ(now.left, big.left);
  EXPECT_EQ(now.top, big.top);
  EXPECT_EQ(now.right, big.right);
  EXPECT_EQ(now.bottom, big.bottom);
  expect_layout(main, larger, kLogWidening);
  expect_fonts(main, larger);
  EXPECT_EQ(text_of(log), lines);
  EXPECT_EQ(send(log, EM_GETFIRSTVISIBLELINE, 0, 0), first_line);
  EXPECT_EQ(focused(), log);
  EXPECT_EQ(text_of(account), "张三");
  EXPECT_TRUE(checked(plain));
  EXPECT_TRUE(visible(log));

  send(main, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), 1);
  sync(main);
  const RECT back = window_rect(main);
  EXPECT_TRUE(EqualRect(&back, &outer));
  std::size_t i = 0;
  for (const Control& c : controls()) {
    const RECT r = rect_in_parent(find_control(main, c.id));
    EXPECT_TRUE(EqualRect(&r, &before[i++])) << "control id " << c.id << " moved";
  }
  EXPECT_EQ(send(log, EM_GETFIRSTVISIBLELINE, 0, 0), first_line);
  EXPECT_EQ(focused(), log);

  // The log tab narrows from where the new DPI put it.
  click_tab(main, 0);
  EXPECT_TRUE(wait_until([&] {
    return window_rect(main).right - outer.left == at(kWidth, dpi) && widths_settled(main, dpi, 0);
  }));
  expect_layout(main, dpi, 0);
}

TEST(DpiChange, ManifestDeclaresDpiAwarenessAndTheProgramsOwnProcessor) {
  // Wine reports every program as aware, manifest or not, and starts a program whose manifest
  // names another processor, which Windows refuses: what Windows reads is checked here.
  HMODULE exe = LoadLibraryExA((build_dir() + "\\RivermeshTools.exe").c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(exe, nullptr);
  HRSRC res = FindResourceA(exe, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  ASSERT_NE(res, nullptr);
  const auto* bytes = static_cast<const char*>(LockResource(LoadResource(exe, res)));
  const std::string manifest(bytes, SizeofResource(exe, res));
  FreeLibrary(exe);
  EXPECT_NE(manifest.find(">true</dpiAware>"), std::string::npos);
  EXPECT_NE(manifest.find(">PerMonitorV2, System</dpiAwareness>"), std::string::npos);
  EXPECT_NE(manifest.find("http://schemas.microsoft.com/SMI/2016/WindowsSettings"),
            std::string::npos);
  // This suite is built like the program, so it names the processor the program must name.
  const std::string own =
      sizeof(void*) == 8 ? "processorArchitecture=\"amd64\"" : "processorArchitecture=\"x86\"";
  std::size_t named = 0;
  for (std::size_t at = manifest.find("processorArchitecture="); at != std::string::npos;
       at = manifest.find("processorArchitecture=", at + 1)) {
    EXPECT_EQ(manifest.compare(at, own.size(), own), 0) << manifest.substr(at, 40);
    ++named;
  }
  EXPECT_EQ(named, 2u);  // the program itself and the common controls it asks for
}
