#include "app/instance.h"

#include <cstdint>

#include "platform/gbk.h"
#include "platform/path_case.h"

namespace instance {

namespace {

// FNV-1a: short, stable across runs and builds.
class Hash {
 public:
  void add(unsigned char byte) {
    value_ ^= byte;
    value_ *= 1099511628211ull;
  }
  std::string key() const {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text = "RivermeshTools-";
    for (int shift = 60; shift >= 0; shift -= 4) text += kDigits[(value_ >> shift) & 0xF];
    return text;
  }

 private:
  std::uint64_t value_ = 14695981039346656037ull;
};

}  // namespace

std::string key(FolderIdentity folder) {
  // A leading mark keeps an identity's name apart from any path's: a folder that one copy could
  // open and another could not still gives two names, but no two folders give one.
  // The two forms of identity have marks of their own: their numbers never compare.
  Hash hash;
  hash.add(folder.wide ? '%' : '#');
  const int volume_bits = folder.wide ? 64 : 32;
  for (int shift = 0; shift < volume_bits; shift += 8) hash.add((folder.volume >> shift) & 0xFF);
  for (int shift = 0; shift < 64; shift += 8) hash.add((folder.low >> shift) & 0xFF);
  if (folder.wide) {
    for (int shift = 0; shift < 64; shift += 8) hash.add((folder.high >> shift) & 0xFF);
  }
  return hash.key();
}

std::string key(std::string_view exe_path) {
  Hash hash;
  for (const char c : path_case::folded(gbk::folder_part(exe_path))) {
    hash.add(static_cast<unsigned char>(c));
  }
  return hash.key();
}

std::string machine_mutex_name(std::string_view key) { return "Global\\" + std::string(key); }

std::string session_mutex_name(std::string_view key) { return "Local\\" + std::string(key); }

std::string show_message_name(std::string_view key) { return std::string(key) + "-show"; }

bool already_running(bool got_handle, std::uint32_t last_error) {
  return got_handle ? last_error == kErrorAlreadyExists : last_error == kErrorAccessDenied;
}

Action decide(bool in_session, bool on_machine, Start start) {
  if (in_session) return start == Start::DesktopShell ? Action::BringForward : Action::EndQuietly;
  if (on_machine) return start == Start::DesktopShell ? Action::SayOtherUser : Action::EndQuietly;
  return Action::Run;
}

}  // namespace instance
