#include "app/instance.h"

#include <gtest/gtest.h>

TEST(Instance, OneKeyPerFolderWhateverTheCase) {
  const std::string a = instance::key("C:\\Tools\\RivermeshTools.exe");
  EXPECT_EQ(a, instance::key("c:\\tools\\rivermeshtools.EXE"));
  EXPECT_NE(a, instance::key("C:\\Tools2\\RivermeshTools.exe"));
  // Full-width letters are other characters, not other cases.
  EXPECT_NE(instance::key("C:\\工具\\Ａ.exe"), instance::key("C:\\工具\\ａ.exe"));
  EXPECT_EQ(a.rfind("RivermeshTools-", 0), 0u);
  EXPECT_EQ(a.size(), 15u + 16u);
  EXPECT_EQ(a.find_first_not_of("RivermshTol-0123456789abcdef"), std::string::npos);
  EXPECT_EQ(instance::mutex_name(a), "Local\\" + a);
  EXPECT_NE(instance::show_message_name(a), a);
}
