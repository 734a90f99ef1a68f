#include "stores/firefox_places.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "stores/firefox_backup.h"
#include "stores/firefox_profile.h"
#include "support/places_fixture.h"
#include "support/scratch_dir.h"
#include "tree/settings.h"

namespace {

using nlohmann::json;

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> Names(const NodeList& list) {
  std::vector<std::string> names;
  for (Node* n = list.head(); n->next; n = n->next) names.push_back(n->name ? n->name : "<hr>");
  return names;
}

LinkEntry* Child(const NodeList& list, size_t index) {
  Node* n = list.head();
  for (size_t i = 0; i < index && n->next; ++i) n = n->next;
  return n->next ? LinkEntry::of(n) : nullptr;
}

// The backup JSON of the tree, parsed.
json BackupOf(const NodeList& tree) {
  std::string text;
  int64_t items = 0;
  FormatFirefoxBackup(tree, FirefoxState().rootMembers, text, items);
  return json::parse(text);
}

class FirefoxPlacesTest : public ::testing::Test {
 protected:
  void SetUp() override { settings = &record_; }
  void TearDown() override {
    FreeTree(tree_);
    settings = nullptr;
  }
  std::string places() const { return dir_ / "places.sqlite"; }

  Settings record_;
  ScratchDir dir_;
  NodeList tree_;
  int32_t links_ = 0;
};

TEST_F(FirefoxPlacesTest, RootsFoldersSeparatorsTagsAndKeywordsAreRead) {
  int64_t dev = 0;
  {
    PlacesFixture db(places());
    dev = db.folder(PlacesFixture::kMenu, "Dev");
    db.bookmark(dev, "Tagged", "https://a.example/", 1700000500000000);
    db.separator(dev);
    db.bookmark(dev, "Plain", "https://b.example/");
    db.folder(dev, "Broken Links");
    db.bookmark(PlacesFixture::kToolbar, "Bar", "https://c.example/x?q=\"1\"");
    db.bookmark(PlacesFixture::kMobile, "Phone", "https://d.example/");
    db.tag("https://a.example/", "zeta");
    db.tag("https://a.example/", "alpha");
    db.keyword("https://a.example/", "ak", "");
    db.keyword("https://c.example/x?q=\"1\"", "ck", "q=%s");
  }
  // In write-ahead-log mode, as Firefox keeps it; its log is gone once Firefox has closed.
  sqlite3* db = nullptr;
  sqlite3_open(places().c_str(), &db);
  sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  std::string before = dir_.read("places.sqlite");
  PlacesReadResult r = ReadPlacesDatabase(places(), false, tree_, links_);
  ASSERT_EQ(r.error, PlacesError::None) << r.message;
  EXPECT_EQ(r.schema, 86);
  EXPECT_FALSE(r.copied);
  // Read in place, leaving nothing in the profile.
  EXPECT_EQ(dir_.read("places.sqlite"), before);
  EXPECT_FALSE(dir_.exists("places.sqlite-wal"));
  EXPECT_FALSE(dir_.exists("places.sqlite-shm"));
  EXPECT_EQ(links_, 4);

  EXPECT_EQ(Names(tree_), (std::vector<std::string>{"Bookmarks Menu", "Bookmarks Toolbar",
                                                    "Other Bookmarks", "Mobile Bookmarks"}));
  LinkEntry* devFolder = Child(Child(tree_, 0)->children, 0);
  ASSERT_TRUE(devFolder && devFolder->isFolder());
  EXPECT_EQ(Names(devFolder->children),
            (std::vector<std::string>{"Tagged", "<hr>", "Plain", "Broken Links"}));
  LinkEntry* tagged = Child(devFolder->children, 0);
  EXPECT_STREQ(tagged->url.c_str(), "https://a.example/");
  EXPECT_EQ(tagged->lastVisit, 1700000500);  // the page's last visit, in seconds
  EXPECT_EQ(tagged->addDate, (PlacesFixture::kAdded + 0) / 1000000);
  EXPECT_EQ(Child(devFolder->children, 2)->lastVisit, Child(devFolder->children, 2)->addDate);

  // What the backup keeps of each item, in Firefox's own form.
  json backup = BackupOf(tree_);
  EXPECT_EQ(backup["guid"], "root________");
  EXPECT_EQ(backup["root"], "placesRoot");
  json menu = backup["children"][0];
  EXPECT_EQ(menu["guid"], "menu________");
  EXPECT_EQ(menu["title"], "menu");
  EXPECT_EQ(menu["root"], "bookmarksMenuFolder");
  json a = menu["children"][0]["children"][0];
  EXPECT_EQ(a["guid"], PlacesFixture::guidFor(8));
  EXPECT_EQ(a["dateAdded"], PlacesFixture::kAdded + 8);
  EXPECT_EQ(a["lastModified"], PlacesFixture::kModified + 8);
  EXPECT_EQ(a["typeCode"], 1);
  EXPECT_EQ(a["type"], "text/x-moz-place");
  EXPECT_EQ(a["tags"], "alpha,zeta");
  EXPECT_EQ(a["keyword"], "ak");
  ASSERT_TRUE(a.contains("postData"));
  EXPECT_TRUE(a["postData"].is_null());  // an empty one would make the restore drop it
  json hr = menu["children"][0]["children"][1];
  EXPECT_EQ(hr["type"], "text/x-moz-place-separator");
  EXPECT_FALSE(menu["children"][0]["children"][3].contains("children"));  // empty folder
  json bar = backup["children"][1]["children"][0];
  EXPECT_EQ(bar["uri"], "https://c.example/x?q=\"1\"");
  EXPECT_EQ(bar["postData"], "q=%s");
  EXPECT_FALSE(bar.contains("tags"));
  EXPECT_EQ(backup["children"][2]["root"], "unfiledBookmarksFolder");
  EXPECT_FALSE(backup["children"][2].contains("children"));
  EXPECT_EQ(backup["children"][3]["children"][0]["title"], "Phone");
}

// Whatever is wrong with the file, the reason is told, nothing is added and the file is left
// exactly as it was.
TEST_F(FirefoxPlacesTest, BadDatabasesAreRefusedWithAReason) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
    PlacesError error;
    const char* says;
  };
  std::vector<Case> cases = {
      {"missing", [](const std::string&) {}, PlacesError::CannotOpen, "cannot read"},
      {"text", [](const std::string& p) { WriteBytes(p, "<!DOCTYPE NETSCAPE"); },
       PlacesError::NotDatabase, "not a database"},
      {"damaged",
       [](const std::string& p) {
         std::string bytes("SQLite format 3\0", 16);
         bytes.append(4080, '\x5a');
         WriteBytes(p, bytes);
       },
       PlacesError::NotDatabase, "damaged"},
      {"foreign",
       [](const std::string& p) {
         sqlite3* db = nullptr;
         sqlite3_open(p.c_str(), &db);
         sqlite3_exec(db, "CREATE TABLE cookies (name TEXT)", nullptr, nullptr, nullptr);
         sqlite3_close(db);
       },
       PlacesError::Foreign, "holds no Firefox bookmarks"},
      {"newer schema", [](const std::string& p) { PlacesFixture db(p, 87); },
       PlacesError::UnknownSchema, "schema 87"},
      {"older schema", [](const std::string& p) { PlacesFixture db(p, 30); },
       PlacesError::UnknownSchema, "schema 30"},
      {"no root",
       [](const std::string& p) {
         PlacesFixture db(p);
         db.exec("DELETE FROM moz_bookmarks WHERE guid = 'root________'");
       },
       PlacesError::Foreign, "no bookmark root"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    std::string path = dir / "places.sqlite";
    c.make(path);
    std::string before = dir.read("places.sqlite");
    NodeList tree;
    int32_t links = 0;
    PlacesReadResult r = ReadPlacesDatabase(path, false, tree, links);
    EXPECT_EQ(r.error, c.error);
    EXPECT_NE(r.message.find(c.says), std::string::npos) << r.message;
    EXPECT_TRUE(tree.isEmpty());
    EXPECT_EQ(links, 0);
    EXPECT_FALSE(FirefoxState().active);
    EXPECT_EQ(dir.read("places.sqlite"), before);
    EXPECT_FALSE(dir.exists("places.sqlite-journal"));
    FreeTree(tree);
  }
}

// A child process stands in for Firefox: it holds the lock on .parentlock, as Firefox does,
// and keeps recent bookmarks in the write-ahead log, not yet in the database file.
TEST_F(FirefoxPlacesTest, WhileFirefoxRunsAPrivateCopyWithItsLogIsRead) {
  {
    PlacesFixture db(places());
    db.bookmark(PlacesFixture::kMenu, "Old", "https://old.example/");
  }
  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open(places().c_str(), &writer), SQLITE_OK);
  sqlite3_exec(writer, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;", nullptr, nullptr,
               nullptr);
  sqlite3_exec(writer,
               "INSERT INTO moz_places (id, url) VALUES (99, 'https://new.example/');"
               "INSERT INTO moz_bookmarks (type, fk, parent, position, title, dateAdded, "
               "lastModified, guid) VALUES (1, 99, 2, 1, 'New', 1, 1, 'newbookmark_')",
               nullptr, nullptr, nullptr);
  ASSERT_TRUE(dir_.exists("places.sqlite-wal"));
  std::string mainFile = dir_.read("places.sqlite");

  dir_.write(".parentlock", "");
  EXPECT_FALSE(FirefoxHoldsProfile(dir_.path()));
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  pid_t child = fork();
  if (child == 0) {
    close(release[1]);  // so that the parent's close ends the wait below
    int fd = open((dir_ / ".parentlock").c_str(), O_RDWR);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    char byte = fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
    (void)!write(ready[1], &byte, 1);
    (void)!read(release[0], &byte, 1);
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  ASSERT_EQ(byte, 'y');
  EXPECT_TRUE(FirefoxHoldsProfile(dir_.path()));

  record_.bookmarkFile.assign(dir_.path().c_str());
  EXPECT_TRUE(ReadFirefoxBookmarks(nullptr, tree_, links_));
  EXPECT_TRUE(FirefoxState().firefoxRunning);
  EXPECT_EQ(Names(Child(tree_, 0)->children), (std::vector<std::string>{"Old", "New"}));
  EXPECT_EQ(dir_.read("places.sqlite"), mainFile);  // the original was not touched

  close(release[1]);
  waitpid(child, nullptr, 0);
  EXPECT_FALSE(FirefoxHoldsProfile(dir_.path()));
  sqlite3_close(writer);
}

}  // namespace
