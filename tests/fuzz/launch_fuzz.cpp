// The launch line: every set of fields the checks accept reads, under both readings of an invalid
// pair, as the server's name and its flags with the field values; a refused address or password
// reads wrong under one of them.
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
  const bool accepted = !launch::first_problem(f).has_value();
  bool reads_wrong = false;
  for (const cmd_reading::InvalidPair reading : cmd_reading::kBothReadings) {
    const std::string fault = cmd_reading::line_fault(f, reading);
    if (accepted && !fault.empty()) {
      std::fprintf(stderr, "accepted, but %s (%s)\n", fault.c_str(), cmd_reading::name(reading));
    }
    FUZZ_CHECK(!accepted || fault.empty());
    reads_wrong = reads_wrong || !fault.empty();
  }
  // Where the port is safe and the account passes, a refusal is the address's or the password's,
  // which stand before a closing quote: then the line must really read wrong.
  if (!accepted && !f.ip.empty() && !f.port.empty() && launch::port_text_safe(f.port) &&
      (!f.access_control ||
       (!f.user.empty() && !f.password.empty() && launch::quoted_text_safe(f.user)))) {
    FUZZ_CHECK(reads_wrong);
  }
  return 0;
}
