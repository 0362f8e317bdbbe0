// The console output's way to the log: the decoder drops NUL bytes, loses and adds nothing, and
// never hands over a text that ends inside a character; the log's cuts keep the newest text, never
// more than the cap, and cut only where a character begins.
#include "server/console_text.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

void check_decoder(std::string_view input, std::uint8_t split_seed) {
  console::ChunkDecoder decoder;
  std::string joined;
  std::vector<std::size_t> hand_overs;
  std::size_t at = 0;
  for (std::size_t step = 1 + split_seed % 7; at < input.size(); step = 1 + (step * 5 + 3) % 11) {
    const std::string out = decoder.feed(input.substr(at, step));
    at += std::min(step, input.size() - at);
    FUZZ_CHECK(out.find('\0') == std::string::npos);
    joined += out;
    hand_overs.push_back(joined.size());
  }
  joined += decoder.flush();
  std::string without_nul(input);
  std::erase(without_nul, '\0');
  FUZZ_CHECK(joined == without_nul);
  const std::vector<bool> starts = fuzz::char_starts(joined);
  for (const std::size_t boundary : hand_overs) FUZZ_CHECK(starts[boundary]);
}

void check_front_cut(std::string_view text, std::size_t cap) {
  const std::size_t cut = console::front_cut(text, cap);
  FUZZ_CHECK(cut <= text.size());
  FUZZ_CHECK(text.size() - cut <= cap);
  FUZZ_CHECK(fuzz::starts_char(text, cut));
  if (text.size() <= cap) {
    FUZZ_CHECK(cut == 0);
    return;
  }
  // The newest text stays: at least half of what the cap allows.
  FUZZ_CHECK(text.size() - cut >= cap / 2);
}

void check_slice(std::string_view text, std::size_t max_bytes) {
  const std::size_t length = console::slice_length(text, max_bytes);
  FUZZ_CHECK(length <= text.size());
  FUZZ_CHECK(length > 0 || text.empty());
  FUZZ_CHECK(length <= std::max<std::size_t>(max_bytes, 2));
  FUZZ_CHECK(fuzz::starts_char(text, length));
  if (text.size() <= max_bytes) FUZZ_CHECK(length == text.size());
}

// Adds and slices in the order the input gives; what comes out is always the end of what went in
// since the last time everything was shown, at most the cap.
void check_backlog(std::string_view input, std::uint8_t ops) {
  // A flood costs a megabyte a run: only for one input in 256, picked by a hash that mutations
  // cannot aim at, so that the other checks keep their pace.
  std::uint32_t hash = 2166136261u;
  for (const char c : input) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  const bool flood = hash % 256 == 0;
  console::Backlog backlog;
  std::string added;  // since everything was last shown
  std::string shown;
  const std::size_t piece = 1 + ops % 29;
  std::size_t at = 0;
  while (at < input.size()) {
    std::string text(input.substr(at, piece));
    at += text.size();
    if (flood && at == text.size()) {
      // A flood: the first piece again and again, past the cap.
      while (text.size() <= console::kLogCap) text += text;
    }
    backlog.add(text);
    added += text;
    if (at % 3 == 0 || at == input.size()) {
      while (!backlog.empty()) {
        const std::string_view slice = backlog.next(console::kSliceBytes);
        FUZZ_CHECK(!slice.empty() && slice.size() <= console::kSliceBytes);
        shown += slice;
      }
      FUZZ_CHECK(shown.size() <= console::kLogCap);
      FUZZ_CHECK(added.size() >= shown.size() &&
                 added.compare(added.size() - shown.size(), shown.size(), shown) == 0);
      if (added.size() <= console::kLogCap) FUZZ_CHECK(shown == added);
      added.clear();
      shown.clear();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 2, size - 2);
  check_decoder(text, data[0]);
  check_front_cut(text, data[1]);
  check_front_cut(text, data[1] % 4);
  check_slice(text, data[0] % 64 + 1);
  check_backlog(text, data[1]);
  return 0;
}
