#include "tests/e2e/browser.h"

#include <algorithm>

namespace e2e {

std::vector<std::string> recorded(const TestFolder& folder) {
  std::vector<std::string> lines;
  const std::string text = folder.read_file("urls.txt");
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) break;
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  std::sort(lines.begin(), lines.end());  // fixed-width time stamps first
  for (std::string& line : lines) line = line.substr(line.find(' ') + 1);
  return lines;
}

}  // namespace e2e
