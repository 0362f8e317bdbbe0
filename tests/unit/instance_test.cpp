#include "app/instance.h"

#include <gtest/gtest.h>

TEST(Instance, OneKeyPerFolderWhateverTheCase) {
  const std::string a = instance::key("C:\\Tools\\RivermeshTools.exe");
  EXPECT_EQ(a, instance::key("c:\\tools\\rivermeshtools.EXE"));
  EXPECT_NE(a, instance::key("C:\\Tools2\\RivermeshTools.exe"));
  EXPECT_NE(a, instance::key("C:\\Tools\\Sub\\RivermeshTools.exe"));
  // A renamed copy beside the first shares its config.ini and server: the same key.
  EXPECT_EQ(a, instance::key("C:\\Tools\\RivermeshTools2.exe"));
  // NTFS takes full-width Ａ and ａ for one letter: one folder, one key.
  EXPECT_EQ(instance::key("C:\\Ａ\\x.exe"), instance::key("C:\\ａ\\y.exe"));
  EXPECT_NE(instance::key("C:\\Ａ\\x.exe"), instance::key("C:\\Ｂ\\x.exe"));
  EXPECT_EQ(a.rfind("RivermeshTools-", 0), 0u);
  EXPECT_EQ(a.size(), 15u + 16u);
  EXPECT_EQ(a.find_first_not_of("RivermshTol-0123456789abcdef"), std::string::npos);
  EXPECT_EQ(instance::session_mutex_name(a), "Local\\" + a);
  // The Run value starts a copy at every user's login: the machine has one copy per folder.
  EXPECT_EQ(instance::machine_mutex_name(a), "Global\\" + a);
  EXPECT_NE(instance::show_message_name(a), a);
}

// The identity as the file index gives it, unchecked, so that any numbers can be hashed.
instance::FolderIdentity indexed(std::uint32_t volume, std::uint64_t index) {
  return {false, volume, index, 0};
}

TEST(Instance, OneKeyPerFolderIdentityWhateverPathLedThere) {
  // A link, a junction or another drive letter leads to the same volume and file index.
  const instance::FolderIdentity tools = indexed(0x52000000u, 0xae2012u);
  const std::string a = instance::key(tools);
  EXPECT_EQ(a, instance::key(indexed(0x52000000u, 0xae2012u)));
  // Another folder on the volume, the same index on another volume, and the halves of a file
  // index swapped (an index is 64 bits; the low half alone repeats across large volumes).
  EXPECT_NE(a, instance::key(indexed(0x52000000u, 0xae2013u)));
  EXPECT_NE(a, instance::key(indexed(0x43000000u, 0xae2012u)));
  EXPECT_NE(instance::key(indexed(1, 0x0000000100000002ull)),
            instance::key(indexed(1, 0x0000000200000001ull)));
  EXPECT_NE(instance::key(indexed(1, 0x100000000ull)), instance::key(indexed(1, 0)));
  // The 128-bit id (ReFS, where the 64-bit index is not unique): ids that share their low half
  // are two folders, and neither is the index form's folder of the same numbers.
  const auto wide = [](std::uint64_t low, std::uint64_t high) {
    return *file_id::from_id128(0x52000000u, low, high);
  };
  EXPECT_NE(instance::key(wide(0xae2012u, 1)), instance::key(wide(0xae2012u, 2)));
  EXPECT_NE(instance::key(wide(0xae2012u, 0)), a);
  EXPECT_EQ(instance::key(wide(7, 9)), instance::key(wide(7, 9)));
  // Fit for the same names as a path's key.
  EXPECT_EQ(a.rfind("RivermeshTools-", 0), 0u);
  EXPECT_EQ(a.size(), 15u + 16u);
  EXPECT_EQ(a.find_first_not_of("RivermshTol-0123456789abcdef"), std::string::npos);
  EXPECT_NE(a, instance::key("C:\\Tools\\RivermeshTools.exe"));
}

// File systems without unique ids answer 0 or all ones: such a volume's folders have no identity,
// so each keeps its path's key instead of every folder there being one copy's.
TEST(Instance, NoIdentityFromFileSystemsWithoutUniqueIds) {
  constexpr std::uint64_t kOnes = ~0ull;
  EXPECT_TRUE(file_id::from_index(0x52000000u, 0xae2012u).has_value());
  EXPECT_TRUE(file_id::from_id128(0x52000000u, 0, 1).has_value());
  EXPECT_TRUE(file_id::from_id128(0x52000000u, kOnes, 0).has_value());
  for (const auto& [volume, index] : std::vector<std::pair<std::uint32_t, std::uint64_t>>{
           {0, 0xae2012u}, {0xFFFFFFFFu, 0xae2012u}, {0x52000000u, 0}, {0x52000000u, kOnes}}) {
    EXPECT_FALSE(file_id::from_index(volume, index).has_value()) << volume << " " << index;
  }
  EXPECT_FALSE(file_id::from_id128(0, 1, 0).has_value());
  EXPECT_FALSE(file_id::from_id128(kOnes, 1, 0).has_value());
  EXPECT_FALSE(file_id::from_id128(0x52000000u, 0, 0).has_value());
  EXPECT_FALSE(file_id::from_id128(0x52000000u, kOnes, kOnes).has_value());
  // Without an identity on either side, "the same file" is the path's text as the file system
  // folds it; with both, only the identity counts.
  const file_id::Located none_a{std::nullopt, "F:\\Srv\\A.exe"};
  const file_id::Located none_b{std::nullopt, "F:\\Srv2\\A.exe"};
  EXPECT_TRUE(file_id::same_file(none_a, {std::nullopt, "f:\\srv\\a.EXE"}));
  EXPECT_FALSE(file_id::same_file(none_a, none_b));
  EXPECT_FALSE(file_id::same_file({}, {}));
  const file_id::Located real{file_id::from_index(1, 2), "D:\\Real\\A.exe"};
  EXPECT_TRUE(file_id::same_file(real, {file_id::from_index(1, 2), "C:\\Link\\A.exe"}));
  EXPECT_FALSE(file_id::same_file(real, {file_id::from_index(1, 3), "D:\\Real\\A.exe"}));
  EXPECT_FALSE(file_id::same_file(real, {file_id::from_id128(1, 2, 0), "C:\\Link\\A.exe"}));
}

TEST(Instance, WhatACopyDoesThatMeetsAnother) {
  using instance::Action;
  using instance::Start;
  struct Case {
    bool in_session;
    bool on_machine;
    Start start;
    Action action;
  };
  const Case cases[] = {
      // No copy of this folder runs anywhere.
      {false, false, Start::DesktopShell, Action::Run},
      {false, false, Start::Login, Action::Run},
      {false, false, Start::Other, Action::Run},
      // One runs on this desktop: a double click shows it, anything else leaves it be.
      {true, true, Start::DesktopShell, Action::BringForward},
      {true, true, Start::Login, Action::EndQuietly},
      {true, true, Start::Other, Action::EndQuietly},
      // Held in this session but not seen on the machine (an elevated copy's mutex refused us,
      // or the machine's could not be looked at): still this desktop's copy.
      {true, false, Start::DesktopShell, Action::BringForward},
      {true, false, Start::Login, Action::EndQuietly},
      // One runs for another user: a second login ends quietly, a double click is told why.
      {false, true, Start::DesktopShell, Action::SayOtherUser},
      {false, true, Start::Login, Action::EndQuietly},
      {false, true, Start::Other, Action::EndQuietly},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(instance::decide(c.in_session, c.on_machine, c.start), c.action)
        << c.in_session << c.on_machine << static_cast<int>(c.start);
  }
}

TEST(Instance, AMutexHeldByAnElevatedCopyMeansAlreadyRunning) {
  EXPECT_FALSE(instance::already_running(true, 0));
  EXPECT_TRUE(instance::already_running(true, instance::kErrorAlreadyExists));
  // A normal start against an elevated copy's mutex gets no handle and "access denied".
  EXPECT_TRUE(instance::already_running(false, instance::kErrorAccessDenied));
  // Any other failure to make the mutex lets this copy run rather than never start.
  EXPECT_FALSE(instance::already_running(false, 8));
  EXPECT_FALSE(instance::already_running(false, instance::kErrorAlreadyExists));
}
