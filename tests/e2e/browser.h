// The web browser of the test prefix: a recorder registered for http and https addresses, and
// what it recorded.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/harness.h"

namespace e2e {

// Registers url_recorder.exe as the handler of http and https addresses in the test prefix, and
// puts the previous handlers back at the end.
class BrowserStandIn {
 public:
  explicit BrowserStandIn(const std::string& record_file) {
    const std::string command =
        quoted(build_dir() + "\\url_recorder.exe") + " " + quoted(record_file) + " \"%1\"";
    for (const char* scheme : {"http", "https"}) {
      const std::string key = std::string(scheme) + "\\shell\\open\\command";
      Saved saved{key, read(key)};
      saved_.push_back(saved);
      RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, command.c_str(),
                   static_cast<DWORD>(command.size()));
    }
  }
  ~BrowserStandIn() {
    for (const Saved& s : saved_) {
      RegSetValueA(HKEY_CLASSES_ROOT, s.key.c_str(), REG_SZ, s.value.c_str(),
                   static_cast<DWORD>(s.value.size()));
    }
  }

 private:
  struct Saved {
    std::string key;
    std::string value;
  };
  static std::string read(const std::string& key) {
    char buf[1024] = {};
    LONG size = sizeof buf;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), buf, &size) != ERROR_SUCCESS) return {};
    return buf;
  }
  std::vector<Saved> saved_;
};

// The addresses urls.txt in the folder records, in the order their recorders were started.
std::vector<std::string> recorded(const TestFolder& folder);

}  // namespace e2e
