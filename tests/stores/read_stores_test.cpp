#include "stores/read_stores.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/directories.h"
#include "support/headless_fixture.h"
#include "support/scratch_dir.h"
#include "tree/settings.h"
#include "support/cat.h"

namespace {

const char* const kBookmarks =
    "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
    "<TITLE>Bookmarks</TITLE>\n"
    "<H1>Bookmarks</H1>\n"
    "<DL><p>\n"
    "    <DT><H3 ADD_DATE=\"1\">LINKS</H3>\n"
    "    <DL><p>\n"
    "        <DT><A HREF=\"http://bm-a.example/\" ADD_DATE=\"1\">bm-a</A>\n"
    "    </DL><p>\n"
    "    <DT><A HREF=\"http://bm-b.example/\" ADD_DATE=\"1\">bm-b</A>\n"
    "</DL><p>\n";

std::string Describe(const NodeList& list) {
  std::string out;
  for (Node* n = list.head(); n->next; n = n->next) {
    LinkEntry* e = LinkEntry::of(n);
    if (!out.empty()) out += ' ';
    out += e->name ? e->name : "-";
    out += Cat("/", e->source);
    if (e->isFolder()) out += Cat("(", Describe(e->children), ")");
  }
  return out;
}

class ReadStoresTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = settings;
    settings = &record_;
    dir_.write("bookmark.htm", kBookmarks);
    dir_.write("Favorites/fav-c.url", "[InternetShortcut]\r\nURL=http://fav-c.example/\r\n");
    dir_.write("Favorites/Links/fav-d.url", "[InternetShortcut]\r\nURL=http://fav-d.example/\r\n");
    record_.favoritesFolder.assign((dir_ / "Favorites").c_str());
  }
  void TearDown() override { settings = saved_; }

  Settings record_;
  Settings* saved_ = nullptr;
  ScratchDir dir_;
};

TEST_F(ReadStoresTest, EveryCombinationOfStoreFlags) {
  const uint32_t storeFlags[] = {FLAG_CLEAN_FAVORITES, FLAG_CLEAN_BOOKMARKS, FLAG_SYNCHRONISE};
  for (bool bookmarkFileThere : {true, false}) {
    for (uint32_t combination = 0; combination < 8; ++combination) {
      uint32_t flags = 0;
      for (int bit = 0; bit < 3; ++bit)
        if (combination & (1u << bit)) flags |= storeFlags[bit];
      SCOPED_TRACE("flags " + std::to_string(flags) + (bookmarkFileThere ? "" : ", no file"));
      record_.flags = flags;
      record_.bookmarkFile.assign(
          (dir_ / (bookmarkFileThere ? "bookmark.htm" : "missing.htm")).c_str());

      HeadlessMainWindow main;
      NodeList root;
      int32_t linkCount = 77;
      ReadStores(main.window, root, linkCount);

      bool readBookmarks = flags & (FLAG_CLEAN_BOOKMARKS | FLAG_SYNCHRONISE);
      bool readFavorites = (flags & (FLAG_CLEAN_FAVORITES | FLAG_SYNCHRONISE)) &&
                           (!readBookmarks || bookmarkFileThere);
      std::string log;
      if (readBookmarks)
        log += bookmarkFileThere ? "Reading Navigator Bookmarks...\r\n"
                                 : "Couldn't open Navigator Bookmark file!\r\n";
      if (readFavorites) log += "Reading Explorer Favorites...\r\n";
      EXPECT_EQ(main.log(), log);

      std::string tree;
      if (readBookmarks && bookmarkFileThere && readFavorites)
        tree = "LINKS/3(bm-a/2 fav-d/1) bm-b/2 fav-c/1";
      else if (readBookmarks && bookmarkFileThere)
        tree = "LINKS/2(bm-a/2) bm-b/2";
      else if (readFavorites)
        tree = "fav-c/1 Links/1(fav-d/1)";
      if (!readBookmarks || bookmarkFileThere) {
        // The Favorites listing order is the file system's; compare as sets when alone.
        if (readFavorites && !readBookmarks) {
          std::string got = Describe(root);
          EXPECT_TRUE(got == "fav-c/1 Links/1(fav-d/1)" || got == "Links/1(fav-d/1) fav-c/1")
              << got;
        } else {
          EXPECT_EQ(Describe(root), tree);
        }
      } else {
        EXPECT_TRUE(root.isEmpty());
      }
      EXPECT_EQ(linkCount, (readBookmarks && bookmarkFileThere ? 2 : 0) + (readFavorites ? 2 : 0));
      EXPECT_STREQ(record_.favoritesFolder.c_str(), (dir_ / "Favorites").c_str());
      FreeTree(root);
    }
  }
}

TEST_F(ReadStoresTest, SortedReadingMergesAndOrdersByName) {
  record_.flags = FLAG_CLEAN_FAVORITES | FLAG_CLEAN_BOOKMARKS | FLAG_SORT_BOOKMARKS;
  record_.bookmarkFile.assign((dir_ / "bookmark.htm").c_str());
  dir_.write("Favorites/Broken Links/dead.url", "[InternetShortcut]\r\nURL=http://dead/\r\n");
  HeadlessMainWindow main;
  NodeList root;
  int32_t linkCount = 0;
  ReadStores(main.window, root, linkCount);
  EXPECT_EQ(Describe(root), "bm-b/2 Broken Links/1(dead/1) fav-c/1 LINKS/3(bm-a/2 fav-d/1)");
  EXPECT_EQ(linkCount, 4);
  FreeTree(root);
}

// The same tree as a bookmark file, in the order the Favorites gave it.
std::string AsBookmarkList(const NodeList& list) {
  std::string out = "<DL><p>\n";
  for (Node* n = list.head(); n->next; n = n->next) {
    LinkEntry* e = LinkEntry::of(n);
    if (e->isFolder())
      out += "<DT><H3>" + std::string(e->name) + "</H3>\n" + AsBookmarkList(e->children);
    else
      out += "<DT><A HREF=\"" + std::string(e->url.c_str()) + "\">" + e->name + "</A>\n";
  }
  return out + "</DL><p>\n";
}

TEST_F(ReadStoresTest, BothReadersCountANestedBrokenLinksFolderAlike) {
  // Links after an inner "Broken Links" folder in an outer one are counted (the mark is one
  // flag, cleared on leaving the inner folder); links before it are not.
  dir_.write("Nested/Broken Links/Broken Links/inner.url", "[InternetShortcut]\nURL=http://i/\n");
  for (char c = 'a'; c <= 'h'; ++c)
    dir_.write(std::string("Nested/Broken Links/") + c + ".url",
               std::string("[InternetShortcut]\nURL=http://") + c + "/\n");
  record_.favoritesFolder.assign((dir_ / "Nested").c_str());
  record_.flags = FLAG_CLEAN_FAVORITES;
  HeadlessMainWindow main;
  NodeList favorites;
  int32_t fromFavorites = 0;
  ReadStores(main.window, favorites, fromFavorites);
  ASSERT_FALSE(favorites.isEmpty());
  int32_t after = 0;
  bool passedInner = false;
  const NodeList& outer = LinkEntry::of(favorites.head())->children;
  for (Node* n = outer.head(); n->next; n = n->next) {
    if (LinkEntry::of(n)->isFolder())
      passedInner = true;
    else if (passedInner)
      ++after;
  }
  EXPECT_EQ(fromFavorites, after);

  dir_.write("nested.htm", "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n" + AsBookmarkList(favorites));
  record_.bookmarkFile.assign((dir_ / "nested.htm").c_str());
  record_.flags = FLAG_CLEAN_BOOKMARKS;
  NodeList bookmarks;
  int32_t fromBookmarks = 0;
  ReadStores(main.window, bookmarks, fromBookmarks);
  EXPECT_EQ(fromBookmarks, fromFavorites);
  FreeTree(favorites);
  FreeTree(bookmarks);
}

}  // namespace
