// The floors the benchmark sets the program's figures against: what the system itself takes for
// the same work, measured in the same sitting. Benchmark tool only.
//   floor.exe window         a window with a tab control and a status bar, shown at once
//   floor.exe start PORT OUT  starts `cmd.exe /D /V:OFF` in its folder, types "echo off" and
//                            "run.bat", knocks at 127.0.0.1:PORT every 5 ms until it answers,
//                            writes the milliseconds that took to OUT and ends the shell's job
#include <winsock2.h>

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM wp, LPARAM lp) {
  if (message == WM_CLOSE || (message == WM_COMMAND && wp != 0)) {
    DestroyWindow(hwnd);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(hwnd, message, wp, lp);
}

int show_window(HINSTANCE instance) {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  WNDCLASSA wc{};
  wc.lpfnWndProc = window_proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = "RivermeshFloorWindow";
  RegisterClassA(&wc);
  HWND main =
      CreateWindowExA(0, wc.lpszClassName, "floor", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                      CW_USEDEFAULT, CW_USEDEFAULT, 410, 370, nullptr, nullptr, instance, nullptr);
  HWND tabs = CreateWindowExA(0, WC_TABCONTROLA, "", WS_CHILD | WS_VISIBLE, 8, 8, 380, 290, main,
                              nullptr, instance, nullptr);
  for (int i = 0; i < 2; ++i) {
    char text[] = "page";
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    SendMessageA(tabs, TCM_INSERTITEMA, i, reinterpret_cast<LPARAM>(&item));
  }
  CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, main, nullptr,
                  instance, nullptr);
  ShowWindow(main, SW_SHOWNORMAL);
  UpdateWindow(main);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}

bool answers(unsigned short port) {
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return false;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
  closesocket(s);
  return ok;
}

DWORD WINAPI drain(void* pipe) {
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) {
  }
  return 0;
}

void type(HANDLE input, const char* line) {
  DWORD written = 0;
  WriteFile(input, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
}

// Wine's shell reads its piped input in blocks and runs only the first line of each: the next
// line waits until the shell has taken the first.
void wait_taken(HANDLE read_end) {
  for (int i = 0; i < 2000; ++i) {
    DWORD available = 0;
    if (!PeekNamedPipe(read_end, nullptr, 0, nullptr, &available, nullptr) || available == 0)
      return;
    Sleep(1);
  }
}

int start_server(unsigned short port, const char* out) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  const LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER begun;
  QueryPerformanceCounter(&begun);
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE in_read, in_write, out_read, out_write;
  CreatePipe(&in_read, &in_write, &inherit, 0);
  CreatePipe(&out_read, &out_write, &inherit, 1 << 20);
  SetHandleInformation(in_write, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = in_read;
  startup.hStdOutput = out_write;
  startup.hStdError = out_write;
  char command[] = "cmd.exe /D /V:OFF";
  PROCESS_INFORMATION shell{};
  // A console of its own without a window, as the program gives its shell (a stop's Ctrl+C
  // needs one): under Wine making it is most of the shell's start.
  if (!CreateProcessA(nullptr, command, nullptr, nullptr, TRUE, CREATE_SUSPENDED | CREATE_NO_WINDOW,
                      nullptr, nullptr, &startup, &shell)) {
    return 1;
  }
  AssignProcessToJobObject(job, shell.hProcess);
  ResumeThread(shell.hThread);
  // The output is drained so that the shell and the server never wait on a full pipe.
  CreateThread(nullptr, 0, drain, out_read, 0, nullptr);
  type(in_write, "echo off\r\n");
  wait_taken(in_read);
  type(in_write, "run.bat\r\n");
  bool answered = false;
  for (int i = 0; i < 6000 && !answered; ++i) {
    answered = answers(port);
    if (!answered) Sleep(5);
  }
  LARGE_INTEGER ended;
  QueryPerformanceCounter(&ended);
  const double ms = 1000.0 * static_cast<double>(ended.QuadPart - begun.QuadPart) /
                    static_cast<double>(frequency.QuadPart);
  if (FILE* f = std::fopen(out, "w")) {
    std::fprintf(f, "%s\n", answered ? std::to_string(ms).c_str() : "none");
    std::fclose(f);
  }
  TerminateJobObject(job, 0);
  return answered ? 0 : 2;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  if (__argc >= 2 && std::strcmp(__argv[1], "window") == 0) return show_window(instance);
  if (__argc >= 4 && std::strcmp(__argv[1], "start") == 0) {
    return start_server(static_cast<unsigned short>(std::atoi(__argv[2])), __argv[3]);
  }
  return 1;
}
