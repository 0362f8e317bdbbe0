#include "platform/program_win.h"

#include <windows.h>

#include "platform/gbk.h"
#include "platform/handles_win.h"

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

namespace {

// Runs a path call that fills a buffer and answers the length it needs when that is larger.
template <typename Call>
std::string filled(const Call& call) {
  std::string buf(MAX_PATH, '\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD n = call(buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) {
      buf.resize(n);
      return buf;
    }
    buf.resize(n + 1);
  }
  return {};
}

}  // namespace

std::string listed_path(const std::string& path) {
  if (path.empty()) return path;
  const std::string full = filled(
      [&](char* buf, DWORD size) { return GetFullPathNameA(path.c_str(), size, buf, nullptr); });
  if (full.empty()) return path;
  const std::string long_form =
      filled([&](char* buf, DWORD size) { return GetLongPathNameA(full.c_str(), buf, size); });
  return long_form.empty() ? full : long_form;
}

namespace {

// FILE_ID_INFO as Windows 8 defines it; the headers of a Windows 7 build hide it. The class is
// refused before Windows 8 (and by file systems that keep no such id): the file index is asked
// then.
struct FileIdInfo128 {
  ULONGLONG volume_serial;
  BYTE id[16];
};
constexpr FILE_INFO_BY_HANDLE_CLASS kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);

std::uint64_t half(const BYTE* bytes) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

}  // namespace

std::optional<file_id::FileId> identity(const std::string& path) {
  // No access asked for: a folder the user may not list still answers. Backup semantics is what
  // opens a folder at all; a link or junction on the way is followed to the folder itself.
  const win::unique_file file(
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return std::nullopt;
  FileIdInfo128 wide{};
  if (GetFileInformationByHandleEx(file.get(), kFileIdInfo, &wide, sizeof wide)) {
    if (auto id = file_id::from_id128(wide.volume_serial, half(wide.id), half(wide.id + 8))) {
      return id;
    }
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
  return file_id::from_index(
      info.dwVolumeSerialNumber,
      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
}

file_id::Located locate(const std::string& path) {
  if (path.empty()) return {};
  return {identity(path), listed_path(path)};
}

}  // namespace program
