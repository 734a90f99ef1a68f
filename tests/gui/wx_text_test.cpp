// The program's bytes shown in the toolkit and read back.
#include "ui/wx/wx_text.h"

#include <gtest/gtest.h>

#include "gui/wx_test_support.h"

namespace {

TEST(WxText, ValidUtf8IsKeptAndOtherBytesReadAsWindows1252) {
  EXPECT_EQ(ToWxText("plain"), wxString("plain"));
  EXPECT_EQ(ToWxText(static_cast<const char*>(nullptr)), wxString());
  EXPECT_EQ(FromWxText(ToWxText("caf\xc3\xa9 \xf0\x9f\x94\x96")), "caf\xc3\xa9 \xf0\x9f\x94\x96");
  // Each byte that starts no valid sequence is one Windows-1252 character; the valid
  // sequences around it stay as they are.
  EXPECT_EQ(FromWxText(ToWxText("\x93quoted\x94 caf\xc3\xa9 \xe9")),
            "\xe2\x80\x9cquoted\xe2\x80\x9d caf\xc3\xa9 \xc3\xa9");
  // Overlong forms, surrogates, values past U+10FFFF and cut sequences are not UTF-8.
  EXPECT_EQ(FromWxText(ToWxText("\xc0\xaf")), "\xc3\x80\xc2\xaf");
  EXPECT_EQ(ToWxText("\xed\xa0\x80").length(), 3u);
  EXPECT_EQ(ToWxText("\xf4\x90\x80\x80").length(), 4u);
  EXPECT_EQ(FromWxText(ToWxText("ab\xe2\x82")), "ab\xc3\xa2\xe2\x80\x9a");
  // The bytes the code page leaves undefined keep their own code point.
  EXPECT_EQ(ToWxText("\x81")[0], wxUniChar(0x81));
  EXPECT_FALSE(ToWxText("\xff\xfe").empty());
}

TEST(WxText, OffsetsBetweenBytesAndCharacters) {
  const std::string text = "a\xc3\xa9z\xe2\x82\xac!";  // a é z € !
  EXPECT_EQ(Utf8CharCount(text, 0), 0);
  EXPECT_EQ(Utf8CharCount(text, 1), 1);
  EXPECT_EQ(Utf8CharCount(text, 3), 2);
  EXPECT_EQ(Utf8CharCount(text, 2), 1);  // inside é: é not yet reached
  EXPECT_EQ(Utf8CharCount(text, text.size()), 5);
  EXPECT_EQ(Utf8CharCount(text, 999), 5);
  EXPECT_EQ(Utf8ByteOffset(text, 0), 0u);
  EXPECT_EQ(Utf8ByteOffset(text, 2), 3u);
  EXPECT_EQ(Utf8ByteOffset(text, 4), 7u);
  EXPECT_EQ(Utf8ByteOffset(text, 5), text.size());
  EXPECT_EQ(Utf8ByteOffset(text, 50), text.size());
  EXPECT_EQ(Utf8ByteOffset(text, -3), 0u);
}

}  // namespace

QF_GUI_TEST_MAIN()
