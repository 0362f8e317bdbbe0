#include "platform/program_win.h"

#include <windows.h>

#include "platform/gbk.h"

namespace program {

std::string path() {
  std::string buf(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n < buf.size()) {
      buf.resize(n);
      return buf;
    }
    buf.resize(buf.size() * 2);  // a long path: try again with room for it
  }
}

std::string directory() {
  std::string dir = gbk::folder_part(path());
  if (!dir.empty()) dir.pop_back();
  return dir;
}

std::string file_name() { return gbk::name_part(path()); }

}  // namespace program
