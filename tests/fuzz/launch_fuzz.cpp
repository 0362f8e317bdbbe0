// The launch line: every set of fields the checks accept reads, under both readings of an invalid
// pair and within the shell's line cut, as the server's name and its flags with the field values;
// a refused address or password reads wrong under one of them. Inputs run past the cut, so the
// run lets them be longer than the other targets' (scripts/fuzz.sh).
#include "server/launch.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/unit/cmd_reading.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::vector<std::string> parts = fuzz::fields(data + 1, size - 1, 4);
  launch::Fields f;
  f.file = "C:\\srv\\rivermesh_windows_amd64.exe";
  f.access_control = (data[0] & 1) != 0;
  f.ip = parts[0];
  f.port = parts[1];
  f.user = parts[2];
  f.password = parts[3];
  const std::optional<std::string> problem = launch::first_problem(f);
  const bool accepted = !problem.has_value();
  bool reads_wrong = false;
  for (const cmd_reading::InvalidPair reading : cmd_reading::kBothReadings) {
    const std::string fault = cmd_reading::line_fault(f, reading);
    if (accepted && !fault.empty()) {
      std::fprintf(stderr, "accepted, but %s (%s)\n", fault.c_str(), cmd_reading::name(reading));
    }
    FUZZ_CHECK(!accepted || fault.empty());
    reads_wrong = reads_wrong || !fault.empty();
  }
  // The address and the password stand before a closing quote: a refusal of their characters
  // means the line would really read wrong. (Lengths and the port's range are limits of their
  // own, and the account is held to one rule with the others.)
  if (problem == "访问地址 包含不允许的字符！" || problem == "访问密码 包含不允许的字符！") {
    FUZZ_CHECK(reads_wrong);
  }
  return 0;
}
