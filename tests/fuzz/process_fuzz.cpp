// The walk over the system's process information, over buffers of any content: it reads only
// inside the buffer, goes forward only, asks for names only of whole entries, and answers what a
// plain walk over the same layout answers, for the entries of a 32-bit and of a 64-bit process.
#include "server/process_rules.h"

#include <utility>

#include "tests/fuzz/fuzz_check.h"

namespace {

std::uint32_t u32(std::span<const std::byte> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// The name as the reader in the program would give it, ASCII only.
std::string narrow(std::span<const std::byte> utf16) {
  std::string out;
  for (std::size_t i = 0; i + 1 < utf16.size(); i += 2) {
    const unsigned unit = static_cast<unsigned>(utf16[i]) | static_cast<unsigned>(utf16[i + 1])
                                                                << 8;
    out += unit < 0x80 ? static_cast<char>(unit) : '?';
  }
  return out;
}

std::uint64_t pointer(std::span<const std::byte> b, std::size_t at,
                      const proc::ChainLayout& layout) {
  std::uint64_t value = u32(b, at);
  if (layout.pointer_size == 8) value |= std::uint64_t{u32(b, at + 4)} << 32;
  return value;
}

// Every entry is looked at, the first one too, but the idle process (id 0) never matches; a zero
// step, a step past the end or an entry that does not fit ends the walk without an answer, and
// so does a parent id too wide for a process id.
long reference_walk(std::span<const std::byte> buffer, const proc::ChainLayout& layout,
                    std::string_view wanted, const std::function<std::string(std::size_t)>& name,
                    std::size_t& steps) {
  const long value = proc::decimal_id(wanted);
  const bool by_id = value > 0 && value <= 0xFFFFFFFFL;
  for (std::size_t offset = 0; offset + layout.entry_min_size <= buffer.size();) {
    const std::uint64_t id = pointer(buffer, offset + layout.unique_process_id, layout);
    if (id != 0 && ((by_id && id == static_cast<std::uint64_t>(value)) ||
                    gbk::equals_ignoring_ascii_case(name(offset), wanted))) {
      const std::uint64_t parent =
          pointer(buffer, offset + layout.inherited_from_unique_process_id, layout);
      return parent <= 0xFFFFFFFFu ? static_cast<long>(parent) : -1;
    }
    const std::uint32_t step = u32(buffer, offset + layout.next_entry_offset);
    if (step == 0 || step > buffer.size() - offset) return -1;
    offset += step;
    if (offset + layout.entry_min_size > buffer.size()) return -1;
    ++steps;
  }
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 9) return 0;
  const std::size_t name_size = data[0] % 16;
  if (size < 9 + name_size) return 0;
  // The high bit of the first byte picks the entry layout: a 32-bit or a 64-bit process's.
  const proc::ChainLayout& layout =
      (data[0] & 0x80) != 0 ? proc::kChainLayout64 : proc::kChainLayout32;
  const std::string wanted(reinterpret_cast<const char*>(data) + 9, name_size);
  // The address the system would have filled the buffer at; names point into it (or not).
  std::uint64_t base = 0;
  for (int i = 0; i < 8; ++i) base |= std::uint64_t{data[1 + i]} << (8 * i);
  if (layout.pointer_size == 4) base &= 0xFFFFFFFFu;
  // A copy of its own, so that a read past the end is caught.
  const std::vector<std::byte> owned(reinterpret_cast<const std::byte*>(data) + 9 + name_size,
                                     reinterpret_cast<const std::byte*>(data) + size);
  const std::span<const std::byte> buffer(owned);

  std::vector<std::size_t> asked;
  auto name = [&](std::size_t offset) {
    FUZZ_CHECK(offset + layout.entry_min_size <= buffer.size());
    FUZZ_CHECK(asked.empty() || offset > asked.back());
    asked.push_back(offset);
    const auto bytes = proc::image_name_bytes(buffer, offset, base, layout);
    if (!bytes) return std::string("?");
    FUZZ_CHECK(bytes->empty() || (bytes->data() >= buffer.data() &&
                                  bytes->data() + bytes->size() <= buffer.data() + buffer.size()));
    FUZZ_CHECK(bytes->size() ==
               (static_cast<std::size_t>(buffer[offset + layout.image_name_length]) |
                static_cast<std::size_t>(buffer[offset + layout.image_name_length + 1]) << 8));
    return narrow(*bytes);
  };
  const long parent = proc::parent_in_chain(buffer, wanted, name, layout);
  FUZZ_CHECK(parent == -1 || (parent >= 0 && parent <= 0xFFFFFFFFL));
  const std::vector<std::size_t> asked_by_program = std::exchange(asked, {});
  std::size_t steps = 0;
  FUZZ_CHECK(parent == reference_walk(buffer, layout, wanted, name, steps));
  FUZZ_CHECK(asked == asked_by_program);

  // Any entry offset, also one past the end or inside another entry.
  const std::size_t any = data[0] * 7u % (buffer.size() + 8);
  const auto bytes = proc::image_name_bytes(buffer, any, base, layout);
  if (bytes && !bytes->empty()) {
    FUZZ_CHECK(bytes->data() >= buffer.data() &&
               bytes->data() + bytes->size() <= buffer.data() + buffer.size());
  }
  return 0;
}
