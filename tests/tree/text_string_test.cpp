#include "tree/text_string.h"

#include <gtest/gtest.h>

TEST(TextStringSmoke, AssignAndAppend) {
  TextString s;
  s.assign("abc");
  s.append("def");
  EXPECT_STREQ(s.c_str(), "abcdef");
  EXPECT_EQ(s.length, 6);
}
