// The walk over the system's process information, over buffers of any content: it reads only
// inside the buffer, goes forward only, asks for names only of whole entries, and answers what a
// plain walk over the same layout answers. The layout is a parameter of the reference walk, so
// that another entry shape is one more table row.
#include "server/process_rules.h"

#include <utility>

#include "tests/fuzz/fuzz_check.h"

namespace {

struct Layout {
  std::size_t next_entry;
  std::size_t name_length;
  std::size_t name_buffer;
  std::size_t id;
  std::size_t parent_id;
  std::size_t entry_size;
};

constexpr Layout k32 = {proc::spi32::kNextEntryOffset,
                        proc::spi32::kImageNameLength,
                        proc::spi32::kImageNameBuffer,
                        proc::spi32::kUniqueProcessId,
                        proc::spi32::kInheritedFromUniqueProcessId,
                        proc::spi32::kEntryMinSize};

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

// Entries are skipped from the first on; a zero step, a step past the end or an entry that does
// not fit ends the walk without an answer.
long reference_walk(std::span<const std::byte> buffer, const Layout& layout,
                    std::string_view wanted, const std::function<std::string(std::size_t)>& name) {
  const long value = proc::decimal_id(wanted);
  const bool by_id = value > 0 && value <= 0xFFFFFFFFL;
  for (std::size_t offset = 0; offset + layout.entry_size <= buffer.size();) {
    const std::uint32_t step = u32(buffer, offset + layout.next_entry);
    if (step == 0 || step > buffer.size() - offset) return -1;
    offset += step;
    if (offset + layout.entry_size > buffer.size()) return -1;
    if ((by_id && u32(buffer, offset + layout.id) == static_cast<std::uint32_t>(value)) ||
        gbk::equals_ignoring_ascii_case(name(offset), wanted)) {
      return u32(buffer, offset + layout.parent_id);
    }
  }
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const std::size_t name_size = data[0] % 16;
  if (size < 5 + name_size) return 0;
  const std::string wanted(reinterpret_cast<const char*>(data) + 5, name_size);
  // The address the system would have filled the buffer at; names point into it (or not).
  const std::uint32_t base = u32(std::as_bytes(std::span(data + 1, 4)), 0);
  // A copy of its own, so that a read past the end is caught.
  const std::vector<std::byte> owned(reinterpret_cast<const std::byte*>(data) + 5 + name_size,
                                     reinterpret_cast<const std::byte*>(data) + size);
  const std::span<const std::byte> buffer(owned);

  const Layout& layout = k32;
  std::vector<std::size_t> asked;
  auto name = [&](std::size_t offset) {
    FUZZ_CHECK(offset + layout.entry_size <= buffer.size());
    FUZZ_CHECK(asked.empty() || offset > asked.back());
    asked.push_back(offset);
    const auto bytes = proc::image_name_bytes(buffer, offset, base);
    if (!bytes) return std::string("?");
    FUZZ_CHECK(bytes->empty() || (bytes->data() >= buffer.data() &&
                                  bytes->data() + bytes->size() <= buffer.data() + buffer.size()));
    FUZZ_CHECK(bytes->size() ==
               (static_cast<std::size_t>(buffer[offset + layout.name_length]) |
                static_cast<std::size_t>(buffer[offset + layout.name_length + 1]) << 8));
    return narrow(*bytes);
  };
  std::size_t between = 0;
  const long parent = proc::parent_in_chain(buffer, wanted, name, [&] { ++between; });
  FUZZ_CHECK(between <= asked.size());
  FUZZ_CHECK(parent == -1 || (parent >= 0 && parent <= 0xFFFFFFFFL));
  const std::vector<std::size_t> asked_by_program = std::exchange(asked, {});
  FUZZ_CHECK(parent == reference_walk(buffer, layout, wanted, name));
  FUZZ_CHECK(asked == asked_by_program);

  // Any entry offset, also one past the end or inside another entry.
  const std::size_t any = data[0] * 7u % (buffer.size() + 8);
  const auto bytes = proc::image_name_bytes(buffer, any, base);
  if (bytes && !bytes->empty()) {
    FUZZ_CHECK(bytes->data() >= buffer.data() &&
               bytes->data() + bytes->size() <= buffer.data() + buffer.size());
  }
  return 0;
}
