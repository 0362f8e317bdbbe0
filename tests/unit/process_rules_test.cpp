#include "server/process_rules.h"

#include "platform/path_case.h"

#include <gtest/gtest.h>

#include "tests/unit/process_record.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace {

using proc::ProcessRecord;

TEST(ProcessNames, FoldOnlyAsciiLettersWhenCaseInsensitive) {
  EXPECT_TRUE(
      proc::name_matches("Rivermesh_Windows_AMD64.EXE", "rivermesh_windows_amd64.exe", false));
  EXPECT_FALSE(
      proc::name_matches("Rivermesh_Windows_AMD64.EXE", "rivermesh_windows_amd64.exe", true));
  EXPECT_FALSE(proc::name_matches("rivermesh.exe", "rivermesh.ex", false));
  // Full-width Ａ (A3 C1) and ａ (A3 E1) are one letter to NTFS, and so one executable.
  EXPECT_TRUE(proc::name_matches("\xA3\xC1.exe", "\xA3\xE1.exe", false));
  EXPECT_FALSE(proc::name_matches("\xA3\xC1.exe", "\xA3\xE1.exe", true));
  // The trail byte 0x41 ('A') of a double-byte character is part of that character.
  EXPECT_FALSE(proc::name_matches("\x81\x41.exe", "\x81\x61.exe", false));
  EXPECT_TRUE(proc::name_matches("\x81\x41X.EXE", "\x81\x41x.exe", false));
}

TEST(ProcessNames, LookupsTakeTheFirstMatchInListOrder) {
  const std::vector<ProcessRecord> list = {
      record(4, "System", 0), record(100, "cmd.exe", 8), record(200, "RIVERMESH.exe", 100),
      record(300, "rivermesh.exe", 100), record(400, "x.exe", 300)};
  EXPECT_EQ(proc::id_by_name(list, "rivermesh.exe", false), 200u);
  EXPECT_EQ(proc::id_by_name(list, "rivermesh.exe", true), 300u);
  EXPECT_EQ(proc::id_by_name(list, "missing.exe", false), 0u);
  EXPECT_EQ(proc::id_by_name({}, "cmd.exe", false), 0u);

  EXPECT_EQ(proc::parent_id_by_name(list, "x.EXE", 0), 300u);
  EXPECT_EQ(proc::parent_id_by_name(list, "x.EXE", 2), 300u);  // only 1 means case-sensitive
  EXPECT_EQ(proc::parent_id_by_name(list, "x.EXE", 1), 0u);
  EXPECT_EQ(proc::parent_id_by_name(list, "missing.exe", 0), 0u);
}

TEST(ProcessNames, ExplorerParentIsJudgedForTheGivenProcess) {
  const std::vector<ProcessRecord> list = {
      record(10, "Explorer.EXE", 1),        record(20, "cmd.exe", 10),
      record(30, "RivermeshTools.exe", 20),  // an older copy, started from a prompt
      record(40, "RivermeshTools.exe", 10),  // this copy, started by double-click
      record(50, "tool.exe", 999),           // its parent has gone
      record(60, "orphan.exe", 0)};
  EXPECT_TRUE(proc::parent_is_explorer(list, 40));
  EXPECT_FALSE(proc::parent_is_explorer(list, 30));
  EXPECT_TRUE(proc::parent_is_explorer(list, 20));
  EXPECT_FALSE(proc::parent_is_explorer(list, 50));
  EXPECT_FALSE(proc::parent_is_explorer(list, 60));
  EXPECT_FALSE(proc::parent_is_explorer(list, 77));  // not in the list at all

  // A process is still the one watched only while its id carries the same name.
  EXPECT_TRUE(proc::id_has_name(list, 20, "CMD.exe"));
  EXPECT_FALSE(proc::id_has_name(list, 10, "cmd.exe"));
  EXPECT_FALSE(proc::id_has_name(list, 999, "cmd.exe"));
  EXPECT_FALSE(proc::parent_is_explorer({record(1, "explorer.exe.bak", 0), record(2, "a", 1)}, 2));
}

// Paths as a Windows file system resolves them: a junction C:\Srv (a package manager's "current"
// folder) leads to D:\Real\2.1, the drive S: is C:\Tools substituted, and F:\ is a share whose
// redirector gives no unique ids. The image path of a process comes back resolved, as
// QueryFullProcessImageName gives it; the settings keep the path the user took.
class LinkedDisk {
 public:
  std::string resolved(std::string path) const {
    for (const auto& [link, target] : kLinks) {
      if (path.rfind(link, 0) == 0) path = target + path.substr(link.size());
    }
    return path;
  }
  file_id::Located locate(const std::string& path) const {
    const std::string real = resolved(path);
    if (real.rfind("F:\\", 0) == 0) return {file_id::from_index(0x77, ~0ull), path};
    const auto file = std::find_if(kFiles.begin(), kFiles.end(),
                                   [&](const std::string& f) { return path_case::same(f, real); });
    if (file == kFiles.end()) return {std::nullopt, path};  // cannot be opened
    return {file_id::from_index(real[0] == 'D' ? 0xD0 : 0xC0, 100 + (file - kFiles.begin())), path};
  }

 private:
  const std::vector<std::pair<std::string, std::string>> kLinks = {{"C:\\Srv\\", "D:\\Real\\2.1\\"},
                                                                   {"S:\\", "C:\\Tools\\"}};
  const std::vector<std::string> kFiles = {
      "D:\\Real\\2.1\\rivermesh_windows_amd64.exe", "D:\\Real\\2.0\\rivermesh_windows_amd64.exe",
      "C:\\Tools\\A\\rivermesh_windows_amd64.exe", "C:\\Tools\\B\\rivermesh_windows_amd64.exe"};
};

TEST(ProcessNames, OurServerIsTheOneRunFromTheSettingsPath) {
  const std::string ours = "C:\\Tools\\A\\rivermesh_windows_amd64.exe";
  const std::map<std::uint32_t, std::optional<std::string>> images = {
      {10, "C:\\Tools\\B\\rivermesh_windows_amd64.exe"},  // a copy in another folder
      {20, "c:\\tools\\a\\RIVERMESH_WINDOWS_AMD64.EXE"},  // ours, in other letter case
      {30, std::nullopt},                                 // path unreadable
      {40, "C:\\Tools\\A\\rivermesh_windows_amd64.exe"},  // ours, listed later
      {5, "C:\\Windows\\system32\\cmd.exe"},
  };
  const auto image_of = [&](std::uint32_t id) { return images.at(id); };
  const LinkedDisk disk;
  const auto locate = [&](const std::string& path) { return disk.locate(path); };
  const auto record_list = [](std::vector<std::uint32_t> ids) {
    std::vector<ProcessRecord> list = {record(4, "System", 0), record(5, "cmd.exe", 4)};
    for (std::uint32_t id : ids) list.push_back(record(id, "rivermesh_windows_amd64.exe", 5));
    return list;
  };
  EXPECT_EQ(proc::id_by_path(record_list({10, 20}), ours, image_of, locate), 20u);
  EXPECT_EQ(proc::id_by_path(record_list({10}), ours, image_of, locate), 0u);
  EXPECT_EQ(proc::id_by_path(record_list({10, 40}), ours, image_of, locate), 40u);
  // A readable match wins over a process whose path cannot be read, wherever either is listed:
  // that one may be another user's server, which a stop could not end.
  EXPECT_EQ(proc::id_by_path(record_list({10, 30, 40}), ours, image_of, locate), 40u);
  EXPECT_EQ(proc::id_by_path(record_list({40, 30}), ours, image_of, locate), 40u);
  // Without any readable match the name decides, as it did before paths were read.
  EXPECT_EQ(proc::id_by_path(record_list({10, 30}), ours, image_of, locate), 30u);
  EXPECT_EQ(proc::id_by_path(record_list({10, 20}), "", image_of, locate), 0u);
  // The name comes from the path: a process of another name in the same folder is not it.
  EXPECT_EQ(proc::id_by_path(record_list({20}), "C:\\Tools\\A\\cmd.exe", image_of, locate), 0u);
  EXPECT_EQ(proc::id_by_path(record_list({20}), "C:\\Windows\\system32\\CMD.exe", image_of, locate),
            5u);

  // Through links: Windows names the image by its resolved path, the settings by the link. The
  // file's identity matches them; the text alone never did (the start failed, the server was
  // ended). Another version's folder behind the same link's parent is not it.
  const std::map<std::uint32_t, std::optional<std::string>> resolved = {
      {10, disk.resolved("D:\\Real\\2.0\\rivermesh_windows_amd64.exe")},
      {20, disk.resolved("C:\\Srv\\RIVERMESH_WINDOWS_AMD64.EXE")},
      {40, disk.resolved("S:\\A\\rivermesh_windows_amd64.exe")},
      {50, "F:\\Srv\\rivermesh_windows_amd64.exe"},
      {60, "\\\\nas\\Srv\\rivermesh_windows_amd64.exe"},
      {5, "C:\\Windows\\system32\\cmd.exe"}};
  const auto resolved_of = [&](std::uint32_t id) { return resolved.at(id); };
  EXPECT_EQ(*resolved.at(20), "D:\\Real\\2.1\\RIVERMESH_WINDOWS_AMD64.EXE");
  EXPECT_EQ(proc::id_by_path(record_list({10, 20}), "C:\\Srv\\rivermesh_windows_amd64.exe",
                             resolved_of, locate),
            20u);
  EXPECT_EQ(proc::id_by_path(record_list({10, 40}), ours, resolved_of, locate), 40u);
  EXPECT_EQ(proc::id_by_path(record_list({10, 40}), "S:\\A\\rivermesh_windows_amd64.exe",
                             resolved_of, locate),
            40u);
  EXPECT_EQ(proc::id_by_path(record_list({10, 40}), "C:\\Srv\\rivermesh_windows_amd64.exe",
                             resolved_of, locate),
            0u);
  // Where the file system gives no identity (all ones on the share, or a file that cannot be
  // opened), the text decides: the same path text is the same file, another one is not.
  EXPECT_EQ(proc::id_by_path(record_list({60, 50}), "f:\\srv\\rivermesh_windows_amd64.exe",
                             resolved_of, locate),
            50u);
  EXPECT_EQ(proc::id_by_path(record_list({50, 60}), "\\\\nas\\Srv\\rivermesh_windows_amd64.exe",
                             resolved_of, locate),
            60u);
}

TEST(ProcessNames, OnlyOurOwnShellIsEndedWithTheServer) {
  EXPECT_TRUE(proc::ends_parent(120, 120));
  EXPECT_FALSE(proc::ends_parent(121, 120));  // a prompt of the user's, a cmd.exe too
  EXPECT_FALSE(proc::ends_parent(120, 0));    // no shell started
  EXPECT_FALSE(proc::ends_parent(0, 0));
  EXPECT_FALSE(proc::ends_parent(-1, 0));  // parent not found
  EXPECT_FALSE(proc::ends_parent(-1, 0xFFFFFFFFu));
}

TEST(ProcessNames, AServerThatCannotBeOpenedIsLookedForNotReportedEnded) {
  EXPECT_EQ(proc::watch_way(true, false), proc::WatchWay::Wait);
  EXPECT_EQ(proc::watch_way(true, true), proc::WatchWay::Wait);
  EXPECT_EQ(proc::watch_way(false, true), proc::WatchWay::Look);
  EXPECT_EQ(proc::watch_way(false, false), proc::WatchWay::EndedAlready);
}

TEST(ProcessNames, DecimalIdReadsLikeAtoi) {
  EXPECT_EQ(proc::decimal_id("1234"), 1234);
  EXPECT_EQ(proc::decimal_id("  \t56abc"), 56);
  EXPECT_EQ(proc::decimal_id("+7"), 7);
  EXPECT_EQ(proc::decimal_id("-8"), -8);
  EXPECT_EQ(proc::decimal_id("cmd.exe"), 0);
  EXPECT_EQ(proc::decimal_id(""), 0);
  EXPECT_EQ(proc::decimal_id("- 5"), 0);
  EXPECT_EQ(proc::decimal_id("99999999999999999999999"), LONG_MAX);
  EXPECT_EQ(proc::decimal_id("-99999999999999999999999"), LONG_MIN);
}

// Builds a process information buffer of either width: fixed-size entries, names kept beside
// the chain and handed out by the test's own reader, as the real reader would after converting
// them.
class Chain {
 public:
  static constexpr std::size_t kEntry = 0x100;
  explicit Chain(const proc::ChainLayout& layout) : layout_(layout) {}

  void add(std::uint64_t id, std::uint64_t parent, std::string name) {
    const std::size_t at = bytes_.size();
    if (at != 0) put(at - kEntry + layout_.next_entry_offset, kEntry, 4);
    bytes_.resize(at + kEntry);
    put(at + layout_.unique_process_id, id);
    put(at + layout_.inherited_from_unique_process_id, parent);
    names_[at] = std::move(name);
  }
  void put(std::size_t at, std::uint64_t value, std::size_t width = 0) {
    if (width == 0) width = layout_.pointer_size;
    for (std::size_t i = 0; i < width; ++i)
      bytes_[at + i] = static_cast<std::byte>(value >> (8 * i));
  }
  std::span<const std::byte> span() const { return bytes_; }

  long parent_of(std::string_view text, std::span<const std::byte> buffer) {
    asked_.clear();
    return proc::parent_in_chain(
        buffer, text,
        [this](std::size_t offset) {
          asked_.push_back(offset);
          auto found = names_.find(offset);
          return found == names_.end() ? std::string() : found->second;
        },
        layout_);
  }
  long parent_of(std::string_view text) { return parent_of(text, span()); }

  std::vector<std::size_t> asked_;
  std::vector<std::byte> bytes_;

 private:
  const proc::ChainLayout& layout_;
  std::map<std::size_t, std::string> names_;
};

// Every walk test runs on the 32-bit layout and on the 64-bit one, whatever this build is.
class ProcessChain : public ::testing::TestWithParam<const proc::ChainLayout*> {
 protected:
  const proc::ChainLayout& layout() const { return *GetParam(); }
  Chain sample_chain() const {
    Chain chain(layout());
    chain.add(0, 0, "");  // idle
    chain.add(4, 0, "System");
    chain.add(120, 4, "cmd.exe");
    chain.add(300, 120, "Rivermesh_Windows_AMD64.exe");
    chain.add(512, 300, "last.exe");
    return chain;
  }
};

INSTANTIATE_TEST_SUITE_P(BothWidths, ProcessChain,
                         ::testing::Values(&proc::kChainLayout32, &proc::kChainLayout64),
                         [](const auto& info) {
                           return info.param->pointer_size == 8 ? "Layout64" : "Layout32";
                         });

TEST_P(ProcessChain, FindsEntriesByNameOrDecimalId) {
  Chain chain = sample_chain();
  EXPECT_EQ(chain.parent_of("rivermesh_windows_amd64.exe"), 120);
  EXPECT_EQ(chain.parent_of("300"), 120);
  EXPECT_EQ(chain.parent_of("512"), 300);  // the last entry is reached
  EXPECT_EQ(chain.parent_of("last.exe"), 300);
  EXPECT_EQ(chain.parent_of("4"), 0);
  EXPECT_EQ(chain.parent_of("777"), -1);
  EXPECT_EQ(chain.parent_of("gone.exe"), -1);
  EXPECT_EQ(chain.parent_of("-1"), -1);
}

TEST_P(ProcessChain, IdleProcessIsNeverATarget) {
  Chain chain = sample_chain();
  EXPECT_EQ(chain.parent_of("0"), -1);
  EXPECT_EQ(chain.parent_of(""), -1);  // the idle process's empty name
  // A name reads as id 0; it must not stop at the idle entry listed first.
  EXPECT_EQ(chain.parent_of("cmd.exe"), 4);
  EXPECT_EQ(std::count(chain.asked_.begin(), chain.asked_.end(), 0u), 0);
}

TEST_P(ProcessChain, FirstEntryIsARealProcessWhenNoIdleEntryLeads) {
  // Wine lists no idle process: the first entry must be found like any other.
  Chain chain(layout());
  chain.add(32, 0, "first.exe");
  chain.add(48, 32, "second.exe");
  EXPECT_EQ(chain.parent_of("32"), 0);
  EXPECT_EQ(chain.parent_of("FIRST.exe"), 0);
  EXPECT_EQ(chain.parent_of("second.exe"), 32);

  Chain single(layout());
  single.add(8, 4, "only.exe");
  EXPECT_EQ(single.parent_of("8"), 4);
  EXPECT_EQ(single.parent_of("only.exe"), 4);
}

TEST_P(ProcessChain, IdsTakeTheWholePointerWidth) {
  Chain chain(layout());
  chain.add(0, 0, "");
  // In a 64-bit entry the high half is part of the id: 0x1'0000'0048 is not process 72.
  chain.add(layout().pointer_size == 8 ? 0x100000048ull : 0x50, 4, "high.exe");
  chain.add(72, 8, "low.exe");
  EXPECT_EQ(chain.parent_of("72"), 8);
}

TEST_P(ProcessChain, CorruptChainsEndWithoutReadingPastTheEnd) {
  Chain chain = sample_chain();
  const std::size_t last = 4 * Chain::kEntry;
  const std::size_t min = layout().entry_min_size;

  // The buffer ends inside the last entry: the walk stops before it.
  EXPECT_EQ(chain.parent_of("512", chain.span().first(last + min - 1)), -1);
  EXPECT_EQ(chain.parent_of("512", chain.span().first(last + min)), 300);

  // A step that leaves the buffer, or one so large that the sum would wrap.
  chain.put(2 * Chain::kEntry, 0x10000, 4);
  EXPECT_EQ(chain.parent_of("512"), -1);
  chain.put(2 * Chain::kEntry, 0xFFFFFFF0u, 4);
  EXPECT_EQ(chain.parent_of("last.exe"), -1);
  EXPECT_FALSE(chain.asked_.empty());
  for (std::size_t offset : chain.asked_) EXPECT_LT(offset, chain.span().size());

  // A step that lands too near the end for a whole entry.
  chain.put(2 * Chain::kEntry, chain.span().size() - 2 * Chain::kEntry - 4, 4);
  EXPECT_EQ(chain.parent_of("512"), -1);

  EXPECT_EQ(chain.parent_of("1", {}), -1);
  EXPECT_EQ(chain.parent_of("1", chain.span().first(8)), -1);
}

class ImageName : public ::testing::TestWithParam<const proc::ChainLayout*> {
 protected:
  // Above 4 GiB in a 64-bit process, so that a reader of 32-bit addresses would go wrong.
  std::uint64_t base() const { return GetParam()->pointer_size == 8 ? 0x1C0500000ull : 0x500000; }
  ImageName() : bytes_(0x80) {}
  void set(std::uint16_t length, std::uint64_t address) {
    const proc::ChainLayout& layout = *GetParam();
    bytes_[layout.image_name_length] = static_cast<std::byte>(length);
    bytes_[layout.image_name_length + 1] = static_cast<std::byte>(length >> 8);
    for (std::size_t i = 0; i < layout.pointer_size; ++i) {
      bytes_[layout.image_name_buffer + i] = static_cast<std::byte>(address >> (8 * i));
    }
  }
  std::optional<std::span<const std::byte>> get(std::size_t entry = 0) {
    return proc::image_name_bytes(bytes_, entry, base(), *GetParam());
  }
  std::vector<std::byte> bytes_;
};

INSTANTIATE_TEST_SUITE_P(BothWidths, ImageName,
                         ::testing::Values(&proc::kChainLayout32, &proc::kChainLayout64),
                         [](const auto& info) {
                           return info.param->pointer_size == 8 ? "Layout64" : "Layout32";
                         });

TEST_P(ImageName, PointsInsideTheBuffer) {
  set(8, base() + 0x70);
  const auto name = get();
  ASSERT_TRUE(name.has_value());
  EXPECT_EQ(name->data(), bytes_.data() + 0x70);
  EXPECT_EQ(name->size(), 8u);

  set(0, 0);  // the idle process has no name
  ASSERT_TRUE(get().has_value());
  EXPECT_TRUE(get()->empty());
}

TEST_P(ImageName, RejectsNamesOutsideTheBuffer) {
  set(8, base() + 0x7A);  // runs 2 bytes past the end
  EXPECT_FALSE(get().has_value());
  set(8, base() - 2);
  EXPECT_FALSE(get().has_value());
  set(8, base() + 0xFFFFFFF8u);
  EXPECT_FALSE(get().has_value());
  set(8, ~std::uint64_t{0} - 4);
  EXPECT_FALSE(get().has_value());
  // An address that only its low half would put inside the buffer.
  if (GetParam()->pointer_size == 8) {
    set(8, (base() + 0x70) ^ 0x100000000ull);
    EXPECT_FALSE(get().has_value());
  }
  EXPECT_FALSE(get(0x40).has_value());  // entry cut short
}

}  // namespace
