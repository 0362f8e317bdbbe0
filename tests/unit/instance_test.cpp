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

TEST(Instance, OneKeyPerFolderIdentityWhateverPathLedThere) {
  // A link, a junction or another drive letter leads to the same volume and file index.
  const instance::FolderIdentity tools{0x52000000u, 0xae2012u};
  const std::string a = instance::key(tools);
  EXPECT_EQ(a, instance::key(instance::FolderIdentity{0x52000000u, 0xae2012u}));
  // Another folder on the volume, the same index on another volume, and the halves of a file
  // index swapped (an index is 64 bits; the low half alone repeats across large volumes).
  EXPECT_NE(a, instance::key(instance::FolderIdentity{0x52000000u, 0xae2013u}));
  EXPECT_NE(a, instance::key(instance::FolderIdentity{0x43000000u, 0xae2012u}));
  EXPECT_NE(instance::key(instance::FolderIdentity{1, 0x0000000100000002ull}),
            instance::key(instance::FolderIdentity{1, 0x0000000200000001ull}));
  EXPECT_NE(instance::key(instance::FolderIdentity{1, 0x100000000ull}),
            instance::key(instance::FolderIdentity{1, 0}));
  // Fit for the same names as a path's key.
  EXPECT_EQ(a.rfind("RivermeshTools-", 0), 0u);
  EXPECT_EQ(a.size(), 15u + 16u);
  EXPECT_EQ(a.find_first_not_of("RivermshTol-0123456789abcdef"), std::string::npos);
  EXPECT_NE(a, instance::key("C:\\Tools\\RivermeshTools.exe"));
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
