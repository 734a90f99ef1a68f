#include "stores/firefox_profile.h"

#include <gtest/gtest.h>
#include <utime.h>

#include <string>
#include <vector>

#include "support/scratch_dir.h"

namespace {

void Touch(const std::string& path, time_t when) {
  struct utimbuf times {
    when, when
  };
  ::utime(path.c_str(), &times);
}

// Both places Firefox lists profiles in are read; relative and absolute paths, a profile
// named twice, a profile without bookmarks and a gap in the numbering are handled as Firefox
// does, and the most recently used profile comes first.
TEST(FirefoxProfiles, BothListsAreReadMostRecentlyUsedFirst) {
  ScratchDir home;
  std::string config = home / "cfg";
  home.write(".mozilla/firefox/profiles.ini",
             "[General]\nStartWithLastProfile=1\n\n"
             "[Profile0]\nName=old\nIsRelative=1\nPath=abc.old\n\n"
             "[Profile1]\nName=empty\nIsRelative=1\nPath=abc.empty\nDefault=1\n\n"
             "[Profile3]\nName=after a gap\nIsRelative=1\nPath=abc.gap\n");
  home.write(".mozilla/firefox/abc.old/places.sqlite", "x");
  home.write(".mozilla/firefox/abc.gap/places.sqlite", "x");
  home.write("cfg/mozilla/firefox/profiles.ini",
             "[Profile0]\r\nName=new\r\nIsRelative=1\r\nPath=Profiles/xyz.default-esr\r\n"
             "Default=1\r\n[Profile1]\r\nName=same again\r\nIsRelative=0\r\nPath=" +
                 (home / ".mozilla/firefox/abc.old") + "\r\n");
  home.write("cfg/mozilla/firefox/Profiles/xyz.default-esr/places.sqlite", "x");
  home.write("cfg/mozilla/firefox/Profiles/xyz.default-esr/places.sqlite-wal", "x");
  Touch(home / ".mozilla/firefox/abc.old/places.sqlite", 1700000000);
  Touch(home / "cfg/mozilla/firefox/Profiles/xyz.default-esr/places.sqlite", 1700000100);
  Touch(home / "cfg/mozilla/firefox/Profiles/xyz.default-esr/places.sqlite-wal", 1700000200);

  std::vector<std::string> lists = FirefoxProfileLists(home.path(), config);
  ASSERT_EQ(lists.size(), 2u);
  EXPECT_EQ(lists[0], home / ".mozilla/firefox/profiles.ini");
  EXPECT_EQ(lists[1], config + "/mozilla/firefox/profiles.ini");

  std::vector<FirefoxProfile> found = ListFirefoxProfiles(lists);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].name, "new");
  EXPECT_EQ(found[0].directory, config + "/mozilla/firefox/Profiles/xyz.default-esr");
  EXPECT_EQ(found[0].lastUsed, 1700000200);  // its write-ahead log changed last
  EXPECT_TRUE(found[0].isDefault);
  EXPECT_EQ(found[0].listedIn, lists[1]);
  EXPECT_EQ(found[1].name, "old");
  EXPECT_EQ(found[1].lastUsed, 1700000000);
  EXPECT_FALSE(found[1].isDefault);
}

TEST(FirefoxProfiles, StoreKindIsToldByContent) {
  ScratchDir dir;
  dir.write("profile/places.sqlite", std::string("SQLite format 3\0rest", 20));
  dir.write("renamed.html", std::string("SQLite format 3\0rest", 20));
  dir.write("bookmarks.html", "<!DOCTYPE NETSCAPE-Bookmark-file-1>");
  dir.write("short", "SQLite");
  dir.write("empty/other", "");
  struct Case {
    std::string setting;
    FirefoxStoreKind kind;
    std::string places, profile;
  };
  const std::vector<Case> cases = {
      {dir / "profile", FirefoxStoreKind::Places, dir / "profile/places.sqlite", dir / "profile"},
      {dir / "profile/places.sqlite", FirefoxStoreKind::Places, dir / "profile/places.sqlite",
       dir / "profile"},
      {dir / "renamed.html", FirefoxStoreKind::Places, dir / "renamed.html", dir.path()},
      {dir / "empty", FirefoxStoreKind::FolderWithoutDb, "", dir / "empty"},
      {dir / "bookmarks.html", FirefoxStoreKind::NotFirefox, "", ""},
      {dir / "short", FirefoxStoreKind::NotFirefox, "", ""},
      {dir / "missing", FirefoxStoreKind::NotFirefox, "", ""},
      {"", FirefoxStoreKind::NotFirefox, "", ""},
  };
  for (const Case& c : cases) {
    std::string places = "stale", profile = "stale";
    EXPECT_EQ(ClassifyFirefoxStore(c.setting.c_str(), places, profile), c.kind) << c.setting;
    EXPECT_EQ(places, c.places) << c.setting;
    EXPECT_EQ(profile, c.profile) << c.setting;
  }
}

}  // namespace
