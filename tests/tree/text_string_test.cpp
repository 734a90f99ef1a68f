#include "tree/text_string.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr PathStyle W = PathStyle::Windows;
constexpr PathStyle N = PathStyle::Native;

TEST(TextString, EmptyStringsHaveNoBufferAndReadAsEmpty) {
  TextString s;
  EXPECT_EQ(s.data, nullptr);
  EXPECT_EQ(s.length, 0);
  EXPECT_EQ(s.capacity, 0);
  EXPECT_FALSE(s.owned);
  EXPECT_STREQ(s.c_str(), "");
  EXPECT_EQ(s.findChar('a'), TEXT_NONE);
  EXPECT_EQ(s.findLastChar('a'), TEXT_NONE);
  EXPECT_FALSE(s.equalsNoCase(""));  // no buffer never equals anything
  TextString reserved(5);
  EXPECT_NE(reserved.data, nullptr);
  EXPECT_EQ(reserved.capacity, 5);
  EXPECT_TRUE(reserved.owned);
  EXPECT_TRUE(reserved.equalsNoCase(""));
  reserved.release();
  EXPECT_EQ(reserved.data, nullptr);
  EXPECT_EQ(reserved.capacity, 0);
}

TEST(TextString, AssignReusesABufferThatFitsAndOtherwiseSizesExactly) {
  TextString big(20);
  char* buffer = big.data;
  big.assign("0123456789");
  EXPECT_EQ(big.data, buffer);
  EXPECT_EQ(big.capacity, 20);
  EXPECT_EQ(big.length, 10);
  TextString small(5);
  small.assign("0123456789");
  EXPECT_EQ(small.capacity, 10);
  EXPECT_STREQ(small.c_str(), "0123456789");
  EXPECT_EQ(small.assign(nullptr), nullptr);
  EXPECT_NE(small.data, nullptr);  // the buffer stays
  EXPECT_EQ(small.length, 0);
  // Text that lives in the string's own buffer survives a reallocation.
  small.assign("abc");
  TextString other;
  other.assign(small);
  EXPECT_STREQ(other.c_str(), "abc");
  other.assign(other.data + 1);
  EXPECT_STREQ(other.c_str(), "bc");
  other.assign("x\0y", 3);  // counted bytes may hold a zero
  EXPECT_EQ(other.length, 3);
}

TEST(TextString, AppendGrowsExactlyAndKeepsTheOldTextUntilItHasTheNew) {
  TextString s(10);
  char* buffer = s.data;
  s.append("abc");  // empty with a buffer: as assign
  EXPECT_EQ(s.data, buffer);
  EXPECT_STREQ(s.c_str(), "abc");
  EXPECT_EQ(s.append(""), s.data);  // nothing changes
  EXPECT_EQ(s.append(nullptr), s.data);
  EXPECT_EQ(s.length, 3);
  s.append("defghij");  // fits the 10 exactly
  EXPECT_EQ(s.data, buffer);
  s.append("k");
  EXPECT_EQ(s.capacity, 11);
  EXPECT_EQ(s.length, 11);
  EXPECT_STREQ(s.c_str(), "abcdefghijk");
  TextString none;
  none.append("first");
  EXPECT_STREQ(none.c_str(), "first");
  EXPECT_EQ(none.capacity, 5);
  none.append(none.data);  // appending its own text
  EXPECT_STREQ(none.c_str(), "firstfirst");
}

TEST(TextString, ComparisonsIgnoreCase) {
  TextString a, b;
  EXPECT_EQ(a.compareNoCase(b), 0);
  b.assign("x");
  EXPECT_EQ(a.compareNoCase(b), -1);
  EXPECT_EQ(b.compareNoCase(a), 1);
  a.assign("HTTP://Example.COM/");
  b.assign("http://example.com/");
  EXPECT_EQ(a.compareNoCase(b), 0);
  EXPECT_TRUE(a.equalsNoCase("http://EXAMPLE.com/"));
  b.assign("http://example.org/");
  EXPECT_LT(a.compareNoCase(b), 0);
}

TEST(TextString, FindCharFindsFirstAndLast) {
  TextString s;
  s.assign("a/b/c");
  EXPECT_EQ(s.findChar('/'), 1);
  EXPECT_EQ(s.findLastChar('/'), 3);
  EXPECT_EQ(s.findChar('z'), TEXT_NONE);
  s.clearText();
  EXPECT_EQ(s.findChar('/'), TEXT_NONE);
}

std::string Path(const char* start, void (*op)(TextString&)) {
  TextString s(PATH_CAPACITY);
  s.assign(start);
  op(s);
  return s.c_str();
}

TEST(TextStringPath, AppendComponentInTheWindowsStyle) {
  auto append = [](const char* path, const char* part) {
    TextString s(PATH_CAPACITY);
    s.assign(path);
    s.appendComponent(part, W);
    return std::string(s.c_str());
  };
  EXPECT_EQ(append("C:", "name"), "C:name");
  EXPECT_EQ(append("C:\\", "name"), "C:\\name");
  EXPECT_EQ(append("C:\\a", "name"), "C:\\a\\name");
  EXPECT_EQ(append("", "name"), "\\name");
  EXPECT_EQ(append("C:\\a", "name\\"), "C:\\a\\name");
  TextString s(PATH_CAPACITY);
  s.assign("C:\\a");
  EXPECT_EQ(s.appendComponent(nullptr, W), nullptr);
  EXPECT_STREQ(s.c_str(), "C:\\a\\");
}

TEST(TextStringPath, NormaliseAndAssignPath) {
  EXPECT_EQ(Path("c:\\folder\\", [](TextString& s) { s.normalise(W); }), "C:\\folder");
  EXPECT_EQ(Path("C:\\", [](TextString& s) { s.normalise(W); }), "C:\\");
  EXPECT_EQ(Path("\\", [](TextString& s) { s.normalise(W); }), "\\");
  EXPECT_EQ(Path("/home/me/", [](TextString& s) { s.normalise(N); }), "/home/me");
  EXPECT_EQ(Path("/", [](TextString& s) { s.normalise(N); }), "/");
  TextString s(PATH_CAPACITY);
  s.assignPath("d:\\x\\", W);
  EXPECT_STREQ(s.c_str(), "D:\\x");
  s.assignPath("", W);
  EXPECT_EQ(s.length, 0);
  s.assignPath(nullptr, W);
  EXPECT_EQ(s.length, 0);
}

TEST(TextStringPath, FileNamePartAndExtension) {
  TextString s(PATH_CAPACITY);
  s.assign("C:\\a\\b.url");
  EXPECT_STREQ(s.c_str() + s.fileNamePart(W), "b.url");
  EXPECT_STREQ(s.c_str() + s.extension(W), ".url");
  s.assign("C:\\a\\");
  EXPECT_EQ(s.fileNamePart(W), 0);
  s.assign("C:\\a.b\\file");
  EXPECT_EQ(s.extension(W), TEXT_NONE);
  s.assign("C:\\a\\file.URL");
  EXPECT_STREQ(s.c_str() + s.extension(W), ".URL");
  s.assign(".hidden");
  EXPECT_EQ(s.extension(W), TEXT_NONE);  // the first character is never the dot
  s.clearText();
  EXPECT_EQ(s.fileNamePart(W), TEXT_NONE);
  s.assign("/home/me/Links/site.url");
  EXPECT_STREQ(s.c_str() + s.fileNamePart(N), "site.url");
  EXPECT_STREQ(s.c_str() + s.extension(N), ".url");
  s.assign("/home/me.d/file");
  EXPECT_EQ(s.extension(N), TEXT_NONE);
}

TEST(TextStringPath, RemoveLastComponentWalksUpToNothing) {
  auto walk = [](const char* start, PathStyle style) {
    TextString s(PATH_CAPACITY);
    s.assign(start);
    std::string steps;
    while (s.removeLastComponent(style)) steps += std::string("[") + s.c_str() + "]";
    return steps;
  };
  EXPECT_EQ(walk("C:\\a\\b", W), "[C:\\a][C:\\][]");
  EXPECT_EQ(walk("\\\\server\\share", W), "[\\\\server][]");
  EXPECT_EQ(walk("C:name", W), "[C:][]");
  EXPECT_EQ(walk("\\name", W), "[]");
  EXPECT_EQ(walk("", W), "");
  EXPECT_EQ(walk("/home/me/x", N), "[/home/me][/home][/]");
  EXPECT_EQ(walk("rel/x", N), "[rel][]");
}

TEST(TextStringPath, AWalkReturnsThePathToItsStart) {
  TextString s(PATH_CAPACITY);
  s.assignPath("C:\\Favorites\\", W);
  char* buffer = s.data;
  for (const char* part : {"News", "Sub folder", "x.url"}) {
    s.appendComponent(part, W);
    s.removeLastComponent(W);
    EXPECT_STREQ(s.c_str(), "C:\\Favorites");
  }
  EXPECT_EQ(s.data, buffer);  // within the path room nothing is reallocated
  s.assignPath("/home/me/Favorites/", N);
  s.appendComponent("a", N);
  EXPECT_STREQ(s.c_str(), "/home/me/Favorites/a");
  s.removeLastComponent(N);
  EXPECT_STREQ(s.c_str(), "/home/me/Favorites");
}

}  // namespace
