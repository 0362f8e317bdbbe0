#include "platform/file_identity.h"

#include "platform/path_case.h"

namespace file_id {

namespace {

constexpr std::uint64_t kAllOnes = ~std::uint64_t{0};

}  // namespace

std::optional<FileId> from_index(std::uint32_t volume, std::uint64_t index) {
  if (volume == 0 || volume == 0xFFFFFFFFu || index == 0 || index == kAllOnes) return std::nullopt;
  return FileId{false, volume, index, 0};
}

std::optional<FileId> from_id128(std::uint64_t volume, std::uint64_t low, std::uint64_t high) {
  if (volume == 0 || volume == kAllOnes) return std::nullopt;
  if ((low == 0 && high == 0) || (low == kAllOnes && high == kAllOnes)) return std::nullopt;
  return FileId{true, volume, low, high};
}

bool same_file(const Located& a, const Located& b) {
  if (a.id && b.id) return *a.id == *b.id;
  return !a.listed.empty() && path_case::same(a.listed, b.listed);
}

}  // namespace file_id
