// The console output's way to the log: the decoder drops NUL bytes, loses and adds nothing, and
// never hands over a text that ends inside a character; the log's cuts keep the newest text, never
// more than the cap, and cut only where a character begins.
#include "app/log_mirror.h"
#include "server/console_text.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

void check_decoder(std::string_view input, std::uint8_t split_seed) {
  console::ChunkDecoder decoder;
  std::string joined;
  std::vector<std::size_t> hand_overs;
  std::size_t at = 0;
  for (std::size_t step = 1 + split_seed % 7; at < input.size(); step = 1 + (step * 5 + 3) % 11) {
    const std::string_view out = decoder.feed(input.substr(at, step));
    at += std::min(step, input.size() - at);
    FUZZ_CHECK(out.find('\0') == std::string_view::npos);
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
  const std::size_t length = logbox::slice_length(text, max_bytes);
  FUZZ_CHECK(length <= text.size());
  FUZZ_CHECK(length > 0 || text.empty());
  FUZZ_CHECK(length <= std::max<std::size_t>(max_bytes, 2));
  FUZZ_CHECK(fuzz::starts_char(text, length));
  if (text.size() <= max_bytes) FUZZ_CHECK(length == text.size());
}

// Adds output and takes the box's steps in the order the input gives, on a model of the box:
// the steps cut only what the box holds at its front, append at most a step's size, and once the
// box has caught up it holds the newest output, never more than the cap, at least half of it when
// more came, and all of it when less came.
void check_mirror(std::string_view input, std::uint8_t ops) {
  // A flood costs a megabyte a run: only for one input in 256, picked by a hash that mutations
  // cannot aim at, so that the other checks keep their pace.
  std::uint32_t hash = 2166136261u;
  for (const char c : input) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  const bool flood = hash % 256 == 0;
  logbox::LogMirror mirror;
  std::string added;  // everything, for the newest-text checks
  std::string box;
  const std::size_t piece = 1 + ops % 29;
  const std::size_t step_bytes = 1 + (ops * 7u) % logbox::kSliceBytes;
  const auto take_steps = [&](std::size_t most) {
    for (std::size_t i = 0; i < most; ++i) {
      const logbox::LogMirror::Step step = mirror.next(step_bytes);
      using Kind = logbox::LogMirror::Step::Kind;
      if (step.kind == Kind::kNone) return true;
      if (step.kind == Kind::kClear) {
        box.clear();
      } else if (step.kind == Kind::kCut) {
        FUZZ_CHECK(!step.text.empty() && box.compare(0, step.text.size(), step.text) == 0);
        box.erase(0, step.text.size());
      } else {
        FUZZ_CHECK(!step.text.empty() && step.text.size() <= std::max<std::size_t>(step_bytes, 2));
        box += step.text;
      }
    }
    return false;
  };
  std::size_t at = 0;
  while (at < input.size()) {
    std::string text(input.substr(at, piece));
    at += text.size();
    if (flood && at == text.size()) {
      // A flood: the first piece again and again, past the cap.
      while (text.size() <= console::kLogCap) text += text;
    }
    mirror.add(text);
    added += text;
    // Now and then a step or two while output still comes, as a paced box takes them.
    if (at % 2 == 0) take_steps(1 + at % 3);
    if (at % 3 == 0 || at == input.size()) {
      FUZZ_CHECK(take_steps(4 * console::kLogCap));
      FUZZ_CHECK(mirror.synced());
      FUZZ_CHECK(box.size() <= console::kLogCap);
      FUZZ_CHECK(added.size() >= box.size() &&
                 added.compare(added.size() - box.size(), box.size(), box) == 0);
      if (added.size() <= console::kLogCap) FUZZ_CHECK(box == added);
      FUZZ_CHECK(box.size() >= std::min(added.size(), console::kLogCap / 2));
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
  check_mirror(text, data[1]);
  return 0;
}
