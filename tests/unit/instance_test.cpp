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
  EXPECT_EQ(instance::mutex_name(a), "Local\\" + a);
  EXPECT_NE(instance::show_message_name(a), a);
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
