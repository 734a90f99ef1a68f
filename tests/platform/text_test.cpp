#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

TEST(CompareTextNoCase, FoldsAsciiAndKeepsTheOrder) {
  EXPECT_EQ(CompareTextNoCase("HTTP://Example.COM/", "http://example.com/"), 0);
  EXPECT_EQ(CompareTextNoCase(nullptr, ""), 0);
  EXPECT_EQ(CompareTextNoCase(nullptr, nullptr), 0);
  EXPECT_LT(CompareTextNoCase("", "a"), 0);
  EXPECT_GT(CompareTextNoCase("ab", "a"), 0);
  EXPECT_LT(CompareTextNoCase("Apple", "banana"), 0);
  EXPECT_GT(CompareTextNoCase("zebra", "Apple"), 0);
  EXPECT_EQ(Sign(CompareTextNoCase("a", "B")), -Sign(CompareTextNoCase("B", "a")));
}

TEST(CompareTextNoCase, FoldsAccentedLettersInUtf8AndWindows1252) {
  EXPECT_EQ(CompareTextNoCase("\xC3\x89t\xC3\xA9", "\xC3\xA9T\xC3\x89"), 0);  // Été
  EXPECT_EQ(CompareTextNoCase("\xC9t\xE9", "\xE9T\xC9"), 0);                  // the same, 1252
  EXPECT_EQ(CompareTextNoCase("\xC3\x89t\xC3\xA9", "\xE9t\xE9"), 0);          // mixed
  EXPECT_EQ(CompareTextNoCase("\x8A", "\x9A"), 0);                            // Š š in 1252
  EXPECT_EQ(CompareTextNoCase("\x9F", "\xFF"), 0);                            // Ÿ ÿ in 1252
  EXPECT_EQ(CompareTextNoCase("\xC5\x81\xC3\xB3"
                              "d\xC5\xBA",
                              "\xC5\x82\xC3\x93"
                              "D\xC5\xB9"),
            0);
  EXPECT_EQ(CompareTextNoCase("\xCE\x91\xCE\x98", "\xCE\xB1\xCE\xB8"), 0);  // Greek
  EXPECT_EQ(CompareTextNoCase("\xD0\x9C\xD0\x81", "\xD0\xBC\xD1\x91"), 0);  // Cyrillic Мё
  EXPECT_NE(CompareTextNoCase("\xC3\x97", "\xC3\xB7"), 0);                  // × is not ÷
  EXPECT_NE(CompareTextNoCase("\xC3\x9F", "ss"), 0);
}

TEST(CompareTextNoCase, BrokenUtf8IsReadAsSingleBytes) {
  // A lone lead byte, a truncated sequence and an overlong form are not UTF-8.
  EXPECT_EQ(CompareTextNoCase("\xC3", "\xE3"), 0);
  EXPECT_NE(CompareTextNoCase("a\xE2\x82", "a"), 0);
  EXPECT_EQ(CompareTextNoCase("\xC0\xAF", "\xE0\xAF"), 0);
}

TEST(CompareAsciiNoCase, FoldsOnlyAToZ) {
  EXPECT_EQ(CompareAsciiNoCase("News", "nEWS"), 0);
  EXPECT_LT(CompareAsciiNoCase("_", "a"), 0);
  EXPECT_NE(CompareAsciiNoCase("\xC9", "\xE9"), 0);
  EXPECT_GT(CompareAsciiNoCase("\xE9", "z"), 0);  // bytes compare unsigned
  EXPECT_EQ(CompareAsciiNoCase(nullptr, ""), 0);
}

}  // namespace
