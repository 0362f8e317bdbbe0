// Stands in for the web browser in the test prefix:
//   url_recorder.exe OUTPUT_FILE URL
// appends one line to OUTPUT_FILE: its own creation time (100 ns units, in decimal) and URL.
// Two pages opened back to back start two recorders whose writes may cross; the creation time
// gives the order in which they were started.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  FILETIME created{}, exited{}, kernel{}, user{};
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  const unsigned long long stamp =
      (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "%020llu ", stamp);
  const std::string line = prefix + std::string(argv[2]) + "\r\n";
  for (int attempt = 0; attempt < 100; ++attempt) {
    HANDLE f = CreateFileA(argv[1], FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
      CloseHandle(f);
      return 0;
    }
    Sleep(20);  // the other recorder holds the file for a moment
  }
  return 1;
}
