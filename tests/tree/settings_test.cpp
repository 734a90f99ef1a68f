#include "tree/settings.h"

#include <gtest/gtest.h>

#include <string>

namespace {

void ExpectDefaults(const Settings& s) {
  EXPECT_EQ(s.flags, 0x88u);
  EXPECT_EQ(s.flags, FLAG_BROKEN_ASK | FLAG_MOVED_ASK);
  EXPECT_EQ(s.favoritesFolder.length, 0);
  EXPECT_EQ(s.bookmarkFile.length, 0);
  EXPECT_STREQ(s.proxyHost, "");
  EXPECT_EQ(s.proxyPort, 8080u);
  EXPECT_EQ(s.olderThanDays, 30u);
  EXPECT_EQ(s.threadCount, 2u);
  EXPECT_EQ(s.timeout, 30u);
  EXPECT_EQ(s.retries, 5u);
  EXPECT_STREQ(s.bookmarkTitle, "Bookmarks");
  EXPECT_EQ(s.bookmarkHeader.length, 0);
  EXPECT_EQ(s.bookmarkDescription.data, nullptr);
}

TEST(Settings, ANewRecordHoldsTheDefaults) {
  Settings s;
  ExpectDefaults(s);
  // Both locations are paths with their room reserved.
  EXPECT_EQ(s.favoritesFolder.capacity, PATH_CAPACITY);
  EXPECT_EQ(s.bookmarkFile.capacity, PATH_CAPACITY);
}

TEST(Settings, SetDefaultsPutsEveryFieldBack) {
  Settings s;
  s.flags = FLAG_ALL_KNOWN;
  s.favoritesFolder.assign("/home/me/Favorites");
  s.bookmarkFile.assign("/home/me/bookmark.htm");
  CopySettingsText(s.proxyHost, "proxy.example.com");
  s.proxyPort = 3128;
  s.olderThanDays = 1;
  CopySettingsText(s.bookmarkTitle, "Mine");
  s.threadCount = 64;
  s.timeout = 5;
  s.retries = 0;
  s.bookmarkHeader.assign("<META>\r\n");
  s.bookmarkDescription.assign("");
  char* path = s.bookmarkFile.data;
  s.setDefaults();
  ExpectDefaults(s);
  EXPECT_EQ(s.bookmarkFile.data, path);  // the path room is kept
}

TEST(Settings, FixedTextsAreCutAndAlwaysTerminated) {
  Settings s;
  CopySettingsText(s.proxyHost, std::string(200, 'h').c_str());
  EXPECT_EQ(std::string(s.proxyHost), std::string(79, 'h'));
  CopySettingsText(s.bookmarkTitle, std::string(79, 't').c_str());
  EXPECT_EQ(std::string(s.bookmarkTitle), std::string(79, 't'));
  CopySettingsText(s.bookmarkTitle, nullptr);
  EXPECT_STREQ(s.bookmarkTitle, "");
}

TEST(Settings, TheRecordIsReachedThroughThePointer) {
  Settings s;
  Settings* before = settings;
  settings = &s;
  settings->flags |= FLAG_SORT_BOOKMARKS;
  EXPECT_TRUE(s.flags & FLAG_SORT_BOOKMARKS);
  settings = before;
}

}  // namespace
