#include "stores/favorites_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>

#include "platform/directories.h"
#include "support/scratch_dir.h"
#include "tree/settings.h"

namespace {

constexpr int64_t kJuly = 1690000000;     // 2023-07-22, daylight-saving time in many zones
constexpr int64_t kJanuary = 1673000000;  // 2023-01-06

std::string Describe(const NodeList& list) {
  std::string out;
  for (Node* n = list.head(); n->next; n = n->next) {
    LinkEntry* e = LinkEntry::of(n);
    if (!out.empty()) out += ' ';
    if (e->isSeparator()) {
      out += "-";
    } else if (e->isFolder()) {
      out += std::string(e->name) + "(" + Describe(e->children) + ")";
    } else {
      out += e->name;
    }
  }
  return out;
}

LinkEntry* Find(const NodeList& list, const char* name) {
  Node* n = list.findByName(nullptr, name);
  return n ? LinkEntry::of(n) : nullptr;
}

class FavoritesReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = settings;
    settings = &record_;
    record_.flags = FLAG_CLEAN_FAVORITES;
  }
  void TearDown() override {
    FreeTree(tree_);
    settings = saved_;
  }
  int32_t Read(const std::string& folder) {
    TextString path;
    TextString::constructAsPath(path);
    path.assign(folder.c_str());
    int32_t count = 0;
    bool inside = false;
    ReadFavoritesFolder(path, tree_, count, inside);
    EXPECT_FALSE(inside);
    EXPECT_STREQ(path.c_str(), folder.c_str());
    return count;
  }
  void Shortcut(const std::string& relative, const std::string& url, int64_t time = kJanuary) {
    dir_.write(relative, "[InternetShortcut]\r\nURL=" + url + "\r\n");
    SetFileTimes((dir_ / relative).c_str(), time);
  }
  Settings record_;
  Settings* saved_ = nullptr;
  NodeList tree_;
  ScratchDir dir_;
};

TEST_F(FavoritesReaderTest, ShortcutEntryCarriesAddressTitleFileAndTrueInstant) {
  Shortcut("x.y.url", "http://x.example/");
  LinkEntry* e = NewShortcutEntry((dir_ / "x.y.url").c_str(), kJuly);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->name, "x.y");
  EXPECT_STREQ(e->url.c_str(), "http://x.example/");
  EXPECT_EQ(e->source, SOURCE_FAVORITES);
  EXPECT_EQ(e->lastVisit, kJuly);  // no daylight-saving shift
  EXPECT_EQ(e->addDate, 0);
  EXPECT_EQ(e->action, ACTION_LEAVE);
  EXPECT_STREQ(e->shortcutFile.c_str(), "x.y.url");
  EXPECT_STREQ(e->shortcutTitle.c_str(), "x.y");
  delete e;

  // A value ends at its first NUL byte; the address holds none.
  Shortcut("nul.url", std::string("http://a.example/\0tail", 22));
  LinkEntry* cut = NewShortcutEntry((dir_ / "nul.url").c_str(), kJuly);
  ASSERT_NE(cut, nullptr);
  EXPECT_EQ(std::string(cut->url.data, cut->url.length), "http://a.example/");
  delete cut;

  // No address (no key, empty value, unreadable or missing file): a nameless entry.
  dir_.write("empty.url", "[InternetShortcut]\nURL=\n");
  for (const char* file : {"empty.url", "missing.url"}) {
    LinkEntry* none = NewShortcutEntry((dir_ / file).c_str(), kJuly);
    ASSERT_NE(none, nullptr);
    EXPECT_TRUE(none->isSeparator()) << file;
    EXPECT_EQ(none->source, SOURCE_FAVORITES);
    EXPECT_EQ(none->lastVisit, kJuly);
    delete none;
  }
}

TEST_F(FavoritesReaderTest, ReadsFoldersAndShortcutsIgnoringOtherFiles) {
  Shortcut("News.URL", "http://news.example/", kJuly);
  Shortcut("Links/a.url", "http://a.example/");
  Shortcut("Links/Deep/b.url", "http://b.example/");
  dir_.write("News.lnk", "not a shortcut");
  dir_.write("desktop.ini", "[.ShellClassInfo]\n");
  dir_.write("Links/url", "no extension");
  std::filesystem::create_directory(dir_ / "Empty");
  std::filesystem::copy_file(std::string(QF_TEST_DATA_DIR) + "/favorites/assimp-website.url",
                             dir_ / "Links/Website.url");

  record_.flags |= FLAG_SORT_BOOKMARKS;
  EXPECT_EQ(Read(dir_.path()), 4);
  EXPECT_EQ(Describe(tree_), "Empty() Links(a Deep(b) Website) News");
  LinkEntry* news = Find(tree_, "News");
  ASSERT_NE(news, nullptr);
  EXPECT_EQ(news->lastVisit, kJuly);
  EXPECT_STREQ(news->shortcutFile.c_str(), "News.URL");
  LinkEntry* links = Find(tree_, "Links");
  EXPECT_EQ(links->source, SOURCE_FAVORITES);
  EXPECT_STREQ(Find(links->children, "Website")->url.c_str(), "http://assimp.sourceforge.net");
}

TEST_F(FavoritesReaderTest, ShortcutWithoutAddressIsCountedButNameless) {
  dir_.write("blank.url", "[InternetShortcut]\n");
  dir_.write("other.url", "[Other]\nURL=http://not.here/\n");
  EXPECT_EQ(Read(dir_.path()), 2);
  EXPECT_EQ(Describe(tree_), "- -");
}

TEST_F(FavoritesReaderTest, LinksInBrokenLinksAreReadButNotCounted) {
  Shortcut("Broken Links/a.url", "http://a.example/");
  Shortcut("Broken Links/Inner/b.url", "http://b.example/");
  Shortcut("Other/broken links/c.url", "http://c.example/");  // not the exact name: counted
  Shortcut("d.url", "http://d.example/");
  EXPECT_EQ(Read(dir_.path()), 2);
  record_.flags |= FLAG_SORT_BOOKMARKS;
  FreeTree(tree_);
  EXPECT_EQ(Read(dir_.path()), 2);
  EXPECT_EQ(Describe(tree_), "Broken Links(a Inner(b)) d Other(broken links(c))");
}

TEST_F(FavoritesReaderTest, FoldersMergeIntoBookmarkFoldersOfTheSameName) {
  LinkEntry* bookmarkLink = new LinkEntry("Links", "http://links.example/", 0);
  LinkEntry* bookmarkFolder = new LinkEntry("LINKS", nullptr, 0);
  bookmarkFolder->children.addTail(new LinkEntry("fromBookmarks", "http://bm.example/", 0));
  tree_.addTail(bookmarkLink);
  tree_.addTail(bookmarkFolder);
  Shortcut("Links/fromFavorites.url", "http://fav.example/");
  EXPECT_EQ(Read(dir_.path()), 1);
  EXPECT_EQ(Describe(tree_), "Links LINKS(fromBookmarks fromFavorites)");
  EXPECT_EQ(bookmarkFolder->source, SOURCE_FAVORITES | SOURCE_BOOKMARKS);
  EXPECT_EQ(bookmarkLink->source, SOURCE_BOOKMARKS);
}

TEST_F(FavoritesReaderTest, MissingEmptyOrUnlistableFoldersAddNothing) {
  EXPECT_EQ(Read(dir_ / "missing"), 0);
  EXPECT_EQ(Read(dir_.path()), 0);  // empty
  EXPECT_TRUE(tree_.isEmpty());

  // An empty location must not mean the root directory.
  TextString empty;
  int32_t count = 0;
  bool inside = false;
  ReadFavoritesFolder(empty, tree_, count, inside);
  EXPECT_TRUE(tree_.isEmpty());

  // A trailing separator is dropped by the walk.
  Shortcut("a.url", "http://a.example/");
  TextString path;
  TextString::constructAsPath(path);
  path.assign((dir_.path() + "/").c_str());
  ReadFavoritesFolder(path, tree_, count, inside);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(std::string(path.c_str()), dir_.path());
}

TEST_F(FavoritesReaderTest, UnreadableDirectoryKeepsItsFolderAndTheWalkGoesOn) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  Shortcut("Locked/a.url", "http://a.example/");
  Shortcut("Open/b.url", "http://b.example/");
  Shortcut("Open/c.url", "http://c.example/");
  ::chmod((dir_ / "Open/c.url").c_str(), 0);
  ::chmod((dir_ / "Locked").c_str(), 0);
  EXPECT_EQ(Read(dir_.path()), 2);
  LinkEntry* locked = Find(tree_, "Locked");
  ASSERT_NE(locked, nullptr);
  EXPECT_TRUE(locked->children.isEmpty());
  LinkEntry* open = Find(tree_, "Open");
  ASSERT_NE(open, nullptr);
  EXPECT_NE(Find(open->children, "b"), nullptr);
}

TEST_F(FavoritesReaderTest, LinksBackToAParentAreNotFollowed) {
  Shortcut("Sub/a.url", "http://a.example/");
  std::filesystem::create_directory_symlink(dir_.path(), dir_ / "Sub/Up");
  std::filesystem::create_directory_symlink(dir_ / "Sub", dir_ / "Sub/Self");
  EXPECT_EQ(Read(dir_.path()), 1);
  EXPECT_EQ(Describe(tree_), "Sub(a)");
}

TEST_F(FavoritesReaderTest, PipesAndDevicesNamedAsShortcutsArePassedOverWithoutWaiting) {
  Shortcut("a.url", "http://a.example/");
  ASSERT_EQ(::mkfifo((dir_ / "pipe.url").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", dir_ / "zero.url");
  std::filesystem::create_symlink("/dev/null", dir_ / "null.url");
  auto reading = std::async(std::launch::async, [this] { return Read(dir_.path()); });
  if (reading.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    // Let a reader stuck on the pipe go before failing.
    int writer = ::open((dir_ / "pipe.url").c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) ::close(writer);
    FAIL() << "reading waited on a pipe";
  }
  EXPECT_EQ(reading.get(), 1);
  EXPECT_EQ(Describe(tree_), "a");
}

TEST_F(FavoritesReaderTest, DirectoriesDifferingOnlyInCaseStayApart) {
  LinkEntry* bookmarkFolder = new LinkEntry("LINKS", nullptr, 0);
  tree_.addTail(bookmarkFolder);
  Shortcut("Links/a.url", "http://a.example/");
  Shortcut("links/b.url", "http://b.example/");
  EXPECT_EQ(Read(dir_.path()), 2);
  // One of the two merges into the bookmark folder; the other keeps a folder of its own.
  ASSERT_EQ(bookmarkFolder->children.head()->next->next, nullptr);
  LinkEntry* own = LinkEntry::of(bookmarkFolder->next);
  ASSERT_NE(own->next, nullptr);
  for (LinkEntry* folder : {bookmarkFolder, own}) {
    LinkEntry* link = LinkEntry::of(folder->children.head());
    EXPECT_EQ(std::string(folder->shortcutFile.c_str()), link->name[0] == 'a' ? "Links" : "links");
  }
}

}  // namespace
