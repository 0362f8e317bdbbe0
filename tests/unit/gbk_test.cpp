#include "platform/gbk.h"

#include <gtest/gtest.h>
TEST(Gbk, Placeholder) { SUCCEED(); }
