#include "tray/notify_record.h"

#include <algorithm>
#include <string>

#include "platform/gbk.h"

namespace tray {
namespace {

// The rest of the buffer is zeroed so that no tail of a longer earlier text stays behind it.
template <std::size_t N>
void store_text(char (&buffer)[N], std::string_view text) {
  const std::string cut = gbk::cut_whole_chars(text, N - 1);
  std::fill(std::begin(buffer), std::end(buffer), '\0');
  std::copy(cut.begin(), cut.end(), buffer);
}

std::uint32_t read_u32(std::span<const unsigned char> at) {
  return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
         (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

constexpr std::size_t kIcoHeaderSize = 6;
constexpr std::size_t kIcoEntrySize = 16;

}  // namespace

const NotifyRecord& NotifyModel::prepare_add(NotifyHandle owner, NotifyHandle icon,
                                             std::string_view tip) {
  record_.cbSize = kRecordSize;
  record_.hWnd = owner;
  record_.uID = kIconId;
  record_.uCallbackMessage = kCallbackMessage;
  record_.hIcon = icon;
  record_.uTimeout = kBalloonTimeoutMs;
  store_text(record_.szTip, tip);
  icon_flags_ = kIconFlags;
  update_flags();
  return record_;
}

const NotifyRecord& NotifyModel::prepare_readd() {
  update_flags();
  return record_;
}

const NotifyRecord& NotifyModel::prepare_tooltip(std::string_view text) {
  store_text(record_.szTip, text);
  update_flags();
  return record_;
}

const NotifyRecord& NotifyModel::prepare_balloon(std::string_view title, std::string_view text,
                                                 std::uint32_t kind) {
  record_.dwInfoFlags = kind;
  store_text(record_.szInfoTitle, title);
  store_text(record_.szInfo, text);
  balloon_pending_ = true;
  update_flags();
  return record_;
}

const NotifyRecord& NotifyModel::prepare_change_icon(NotifyHandle icon) {
  record_.hIcon = icon;
  icon_flags_ = kIconFlags;
  update_flags();
  return record_;
}

const NotifyRecord& NotifyModel::prepare_remove() {
  store_text(record_.szInfo, {});
  store_text(record_.szInfoTitle, {});
  balloon_pending_ = false;
  update_flags();
  return record_;
}

void NotifyModel::delivered(bool accepted) {
  if (accepted && (record_.uFlags & kFlagInfo) != 0) balloon_pending_ = false;
}

void NotifyModel::update_flags() {
  record_.uFlags = icon_flags_ | (balloon_pending_ ? kFlagInfo : 0);
}

BalloonGo balloon_go(bool essential, bool notices, std::optional<std::uint32_t> state) {
  if (!essential && !notices) return BalloonGo::Skip;
  if (!state || *state == kUserAccepts || *state < kUserNotPresent || *state > kUserInApp) {
    return BalloonGo::Show;
  }
  return essential ? BalloonGo::ShowRespectingQuietTime : BalloonGo::Skip;
}

std::optional<IcoImage> find_ico_image(std::span<const unsigned char> data, std::size_t index) {
  if (data.size() < kIcoHeaderSize) return std::nullopt;
  // Division instead of 6 + 16 * index keeps a huge index from wrapping around.
  if (index >= (data.size() - kIcoHeaderSize) / kIcoEntrySize) return std::nullopt;
  const auto entry = data.subspan(kIcoHeaderSize + kIcoEntrySize * index, kIcoEntrySize);
  const std::uint32_t size = read_u32(entry.subspan(8));
  const std::uint32_t offset = read_u32(entry.subspan(12));
  if (size == 0 || offset > data.size() || size > data.size() - offset) return std::nullopt;
  IcoImage image;
  image.bytes = data.subspan(offset, size);
  image.width = entry[0];
  image.height = entry[1];
  return image;
}

}  // namespace tray
