#include "tray/notify_record.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>
#endif

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace tray {
namespace {

// One GBK double-byte character ("中").
const std::string kWide = "\xD6\xD0";

std::string tip_of(const NotifyRecord& r) { return r.szTip; }
std::string info_of(const NotifyRecord& r) { return r.szInfo; }
std::string title_of(const NotifyRecord& r) { return r.szInfoTitle; }

#ifdef _WIN32
// The prepared record as the shell reads it: through the platform's own declaration, at the size
// the record names. The header checks the offsets; this checks that what the model writes is
// what the shell finds, and that the size is one the shell knows.
TEST(NotifyRecordLayout, TheShellReadsWhatTheModelWrote) {
  NotifyModel model;
  const NotifyHandle owner = 0x1234;
  model.prepare_add(owner, 0x5678, "Rivermesh Tools");
  model.prepare_balloon("标题", "访问地址", kBalloonError);
  const auto& shell = *reinterpret_cast<const NOTIFYICONDATAA*>(&model.record());
  EXPECT_EQ(shell.cbSize,
            sizeof(void*) == 8 ? sizeof(NOTIFYICONDATAA) : std::size_t(NOTIFYICONDATAA_V2_SIZE));
  EXPECT_EQ(reinterpret_cast<NotifyHandle>(shell.hWnd), owner);
  EXPECT_EQ(reinterpret_cast<NotifyHandle>(shell.hIcon), NotifyHandle(0x5678));
  EXPECT_EQ(shell.uID, 1u);
  EXPECT_EQ(shell.uFlags, UINT(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO));
  EXPECT_EQ(shell.uCallbackMessage, 0x2DA5u);
  EXPECT_STREQ(shell.szTip, "Rivermesh Tools");
  EXPECT_EQ(shell.uTimeout, 10000u);
  EXPECT_STREQ(shell.szInfoTitle, "标题");
  EXPECT_STREQ(shell.szInfo, "访问地址");
  EXPECT_EQ(shell.dwInfoFlags, DWORD(NIIF_ERROR));
}
#endif

TEST(NotifyModel, AddFillsTheRecordForTheOwner) {
  NotifyModel model;
  // Handles take all of their width: a 64-bit handle keeps its high half.
  const NotifyHandle owner = sizeof(NotifyHandle) == 8 ? NotifyHandle(0x7FF612345678) : 0x1234;
  const NotifyRecord& r = model.prepare_add(owner, 0x5678, "Rivermesh Tools");
  EXPECT_EQ(r.cbSize, sizeof(NotifyRecord));
  EXPECT_EQ(r.hWnd, owner);
  EXPECT_EQ(r.uID, 1u);
  EXPECT_EQ(r.uFlags, kFlagMessage | kFlagIcon | kFlagTip);
  EXPECT_EQ(r.uCallbackMessage, 0x2DA5u);
  EXPECT_EQ(r.hIcon, 0x5678u);
  EXPECT_EQ(r.uTimeout, 10000u);
  EXPECT_EQ(tip_of(r), "Rivermesh Tools");
  EXPECT_EQ(r.dwState, 0u);
  EXPECT_EQ(r.dwStateMask, 0u);
}

TEST(NotifyModel, ShorterTooltipLeavesNoTailOfTheLongerOne) {
  NotifyModel model;
  model.prepare_add(1, 2, std::string(100, 'x'));
  const NotifyRecord& r = model.prepare_tooltip("ab");
  EXPECT_EQ(tip_of(r), "ab");
  for (std::size_t i = 2; i < sizeof r.szTip; ++i) ASSERT_EQ(r.szTip[i], '\0') << i;
}

TEST(NotifyModel, BalloonIsSentUntilTheShellTakesItThenNeverAgain) {
  NotifyModel model;
  model.prepare_add(1, 2, "tip");
  model.delivered(true);

  const NotifyRecord& shown = model.prepare_balloon("title", "text", kBalloonError);
  EXPECT_EQ(shown.uFlags, kIconFlags | kFlagInfo);
  EXPECT_EQ(shown.dwInfoFlags, kBalloonError);
  EXPECT_EQ(title_of(shown), "title");
  EXPECT_EQ(info_of(shown), "text");
  model.delivered(true);
  EXPECT_FALSE(model.balloon_pending());

  // The tooltip change right after a start balloon must not replay it, nor must a re-add.
  EXPECT_EQ(model.prepare_tooltip("running").uFlags, kIconFlags);
  model.delivered(true);
  EXPECT_EQ(model.prepare_readd().uFlags, kIconFlags);
}

// Every answer of the shell. Switched off, a success balloon never goes out; an error always does.
TEST(BalloonGo, OnlyAUserWhoTakesNoticesGetsEveryBalloon) {
  // The question failed, the user takes notices, or a state not known: as always.
  for (const auto state : {std::optional<std::uint32_t>{}, std::optional{kUserAccepts},
                           std::optional{0u}, std::optional{8u}}) {
    EXPECT_EQ(balloon_go(false, true, state), BalloonGo::Show);
    EXPECT_EQ(balloon_go(true, false, state), BalloonGo::Show);
    EXPECT_EQ(balloon_go(false, false, state), BalloonGo::Skip);
  }
  for (const std::uint32_t state :
       {kUserNotPresent, kUserBusy, kUserFullScreen, kUserPresenting, kUserQuietTime, kUserInApp}) {
    EXPECT_EQ(balloon_go(false, true, state), BalloonGo::Skip) << state;
    EXPECT_EQ(balloon_go(true, true, state), BalloonGo::ShowRespectingQuietTime) << state;
  }
}

TEST(NotifyModel, RefusedBalloonStaysPendingForTheNextSend) {
  NotifyModel model;
  model.prepare_add(1, 2, "tip");
  model.delivered(true);
  model.prepare_balloon("title", "text", kBalloonNone);
  model.delivered(false);  // the shell was restarting
  EXPECT_TRUE(model.balloon_pending());
  EXPECT_EQ(model.prepare_readd().uFlags, kIconFlags | kFlagInfo);
  model.delivered(true);
  EXPECT_FALSE(model.balloon_pending());
}

TEST(NotifyModel, BalloonStoredBeforeTheIconIsShownByTheAdd) {
  NotifyModel model;
  const NotifyRecord& early = model.prepare_balloon("title", "text", kBalloonNone);
  // Without the icon's size and owner the shell refuses it.
  EXPECT_EQ(early.cbSize, 0u);
  model.delivered(false);
  const NotifyRecord& added = model.prepare_add(1, 2, "tip");
  EXPECT_EQ(added.uFlags, kIconFlags | kFlagInfo);
  EXPECT_EQ(title_of(added), "title");
  model.delivered(true);
  EXPECT_EQ(model.prepare_tooltip("tip 2").uFlags, kIconFlags);
}

TEST(NotifyModel, RemoveForgetsTheBalloonButKeepsTheIconIdentity) {
  NotifyModel model;
  model.prepare_add(0x40, 2, "tip");
  model.prepare_balloon("title", "text", kBalloonError);
  const NotifyRecord& r = model.prepare_remove();
  EXPECT_FALSE(model.balloon_pending());
  EXPECT_EQ(info_of(r), "");
  EXPECT_EQ(title_of(r), "");
  EXPECT_EQ(r.hWnd, 0x40u);
  EXPECT_EQ(r.uID, 1u);
  model.delivered(true);
  EXPECT_EQ(model.prepare_add(0x40, 3, "tip").uFlags, kIconFlags);
}

TEST(NotifyModel, ChangeIconReplacesOnlyTheImage) {
  NotifyModel model;
  model.prepare_add(1, 2, "tip");
  const NotifyRecord& r = model.prepare_change_icon(9);
  EXPECT_EQ(r.hIcon, 9u);
  EXPECT_EQ(r.uFlags, kIconFlags);
  EXPECT_EQ(tip_of(r), "tip");
}

// Each text field: its limit and how the model stores into it.
struct TextField {
  const char* name;
  std::size_t limit;
  std::string (*store)(NotifyModel&, const std::string&);
};

void PrintTo(const TextField& f, std::ostream* os) { *os << f.name; }

class NotifyModelCut : public ::testing::TestWithParam<TextField> {};

TEST_P(NotifyModelCut, FitsWholeAtTheLimitAndCutsOneByteMore) {
  const TextField& f = GetParam();
  NotifyModel model;
  const std::string at_limit(f.limit, 'a');
  EXPECT_EQ(f.store(model, at_limit), at_limit);
  EXPECT_EQ(f.store(model, at_limit + "b"), at_limit);
  EXPECT_EQ(f.store(model, std::string(f.limit + 200, 'c')), std::string(f.limit, 'c'));
}

TEST_P(NotifyModelCut, NeverSplitsADoubleByteCharacterAcrossTheLimit) {
  const TextField& f = GetParam();
  NotifyModel model;
  const std::string head(f.limit - 1, 'a');
  EXPECT_EQ(f.store(model, head + kWide), head);
  EXPECT_EQ(f.store(model, head + kWide + "z"), head);
  // A double-byte character that ends exactly at the limit stays.
  const std::string fits = std::string(f.limit - 2, 'a') + kWide;
  EXPECT_EQ(f.store(model, fits + "z"), fits);
  const std::string all_wide = [&] {
    std::string s;
    while (s.size() < f.limit + 4) s += kWide;
    return s;
  }();
  const std::string stored = f.store(model, all_wide);
  EXPECT_EQ(stored.size(), f.limit - f.limit % 2);
  // 0x80 and 0xFF are single-byte characters; a lead byte before 0x22 stands alone.
  EXPECT_EQ(f.store(model, head + "\x80z"), head + "\x80");
  EXPECT_EQ(f.store(model, head + "\xFF\x80"), head + "\xFF");
  EXPECT_EQ(f.store(model, head + "\x81\x22"), head + "\x81");
}

INSTANTIATE_TEST_SUITE_P(
    Fields, NotifyModelCut,
    ::testing::Values(TextField{"AddTip", 127,
                                [](NotifyModel& m, const std::string& s) {
                                  return tip_of(m.prepare_add(1, 2, s));
                                }},
                      TextField{"Tooltip", 127,
                                [](NotifyModel& m, const std::string& s) {
                                  return tip_of(m.prepare_tooltip(s));
                                }},
                      TextField{"BalloonTitle", 63,
                                [](NotifyModel& m, const std::string& s) {
                                  return title_of(m.prepare_balloon(s, "text", 0));
                                }},
                      TextField{"BalloonText", 255,
                                [](NotifyModel& m, const std::string& s) {
                                  return info_of(m.prepare_balloon("title", s, 0));
                                }}),
    [](const ::testing::TestParamInfo<TextField>& info) { return std::string(info.param.name); });

// An .ico file image: header, `entries` directory entries (entry i is 16 + i pixels wide, 24
// high, all naming the same image), then `payload` image bytes.
std::vector<unsigned char> ico_file(std::uint32_t image_size, std::uint32_t image_offset,
                                    std::size_t entries = 1, std::size_t payload = 40) {
  std::vector<unsigned char> data;
  auto put = [&data](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) data.push_back(static_cast<unsigned char>(value >> (8 * i)));
  };
  put(0, 2);
  put(1, 2);
  put(static_cast<std::uint32_t>(entries), 2);
  for (std::size_t i = 0; i < entries; ++i) {
    put(static_cast<std::uint32_t>(16 + i), 1);
    put(24, 1);
    put(0, 2);   // colour count, reserved
    put(1, 2);   // planes
    put(32, 2);  // bit count
    put(image_size, 4);
    put(image_offset, 4);
  }
  for (std::size_t i = 0; i < payload; ++i) put(static_cast<std::uint32_t>(i), 1);
  return data;
}

TEST(IcoImage, FindsTheImageItsEntryNames) {
  const auto data = ico_file(40, 22);
  const auto image = find_ico_image(data, 0);
  ASSERT_TRUE(image.has_value());
  EXPECT_EQ(image->bytes.data(), data.data() + 22);
  EXPECT_EQ(image->bytes.size(), 40u);
  EXPECT_EQ(image->width, 16);
  EXPECT_EQ(image->height, 24);
}

TEST(IcoImage, ReadsLaterEntriesAtSixPlusSixteenPerIndex) {
  const auto data = ico_file(10, 54, 3);
  const auto image = find_ico_image(data, 2);
  ASSERT_TRUE(image.has_value());
  EXPECT_EQ(image->width, 18);
  EXPECT_EQ(image->bytes.data(), data.data() + 54);
}

TEST(IcoImage, NothingWhenTheDataEndsInsideTheDirectory) {
  const auto data = ico_file(40, 22);
  const std::span<const unsigned char> all(data);
  EXPECT_FALSE(find_ico_image({}, 0));
  EXPECT_FALSE(find_ico_image(all.first(5), 0));
  EXPECT_FALSE(find_ico_image(all.first(21), 0));  // entry cut by one byte
  EXPECT_FALSE(find_ico_image(data, 1));           // past the last entry
  EXPECT_FALSE(find_ico_image(data, static_cast<std::size_t>(-1)));
}

TEST(IcoImage, NothingWhenTheImageRunsPastTheData) {
  EXPECT_TRUE(find_ico_image(ico_file(40, 22), 0));              // ends exactly at the end
  EXPECT_FALSE(find_ico_image(ico_file(41, 22), 0));             // one byte too long
  EXPECT_FALSE(find_ico_image(ico_file(1, 62), 0));              // starts at the end
  EXPECT_FALSE(find_ico_image(ico_file(0x20, 0xFFFFFFF0u), 0));  // offset + size wraps
  EXPECT_FALSE(find_ico_image(ico_file(0xFFFFFFFFu, 22), 0));
  EXPECT_FALSE(find_ico_image(ico_file(0, 22), 0));  // no image at all
}

}  // namespace
}  // namespace tray
