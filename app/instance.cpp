#include "app/instance.h"

#include <cstdint>

#include "platform/gbk.h"
#include "platform/path_case.h"

namespace instance {

std::string key(std::string_view exe_path) {
  // FNV-1a over the folder as the file system compares it: short, stable across runs and builds.
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : path_case::folded(gbk::folder_part(exe_path))) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text = "RivermeshTools-";
  for (int shift = 60; shift >= 0; shift -= 4) text += kDigits[(hash >> shift) & 0xF];
  return text;
}

std::string mutex_name(std::string_view key) { return "Local\\" + std::string(key); }

std::string show_message_name(std::string_view key) { return std::string(key) + "-show"; }

bool already_running(bool got_handle, std::uint32_t last_error) {
  return got_handle ? last_error == kErrorAlreadyExists : last_error == kErrorAccessDenied;
}

}  // namespace instance
