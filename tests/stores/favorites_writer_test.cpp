#include "stores/favorites_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/directories.h"
#include "stores/favorites_reader.h"
#include "support/scratch_dir.h"
#include "tree/settings.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t kJuly = 1690000000;
constexpr int64_t kJanuary = 1673000000;
const char* const kNewContent = "[InternetShortcut]\r\nURL=";

struct FileState {
  std::string bytes;
  int64_t mtime = 0;
  int64_t mtimeNsec = 0;
  int64_t creation = 0;
  uint64_t inode = 0;
  bool operator==(const FileState&) const = default;
};

// Every file and directory under root, with its bytes and times.
std::map<std::string, FileState> Snapshot(const std::string& root) {
  std::map<std::string, FileState> out;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    std::string rel = fs::relative(item.path(), root).string();
    FileState st;
    struct stat info;
    if (::lstat(item.path().c_str(), &info) == 0) {
      st.mtime = info.st_mtim.tv_sec;
      st.mtimeNsec = info.st_mtim.tv_nsec;
      st.inode = info.st_ino;
    }
    if (item.is_regular_file()) {
      std::ifstream in(item.path(), std::ios::binary);
      st.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      GetCreationTime(item.path().c_str(), st.creation);
    }
    out[rel] = st;
  }
  return out;
}

int64_t CreationOf(const std::string& path) {
  int64_t t = 0;
  GetCreationTime(path.c_str(), t);
  return t;
}

LinkEntry* Link(const char* name, const char* url, int64_t visit = kJanuary) {
  LinkEntry* e = new LinkEntry(name, url, visit);
  e->source = SOURCE_FAVORITES;
  return e;
}

LinkEntry* Folder(const char* name) {
  LinkEntry* e = new LinkEntry(name, nullptr, 0);
  e->source = SOURCE_FAVORITES;
  return e;
}

LinkEntry* Find(const NodeList& list, const char* name) {
  Node* n = list.findByName(nullptr, name);
  return n ? LinkEntry::of(n) : nullptr;
}

class FavoritesWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = settings;
    settings = &record_;
    record_.flags = FLAG_CLEAN_FAVORITES;
    fs::create_directory(outer_ / "Favorites");
    root_ = outer_ / "Favorites";
    record_.favoritesFolder.assign(root_.c_str());
  }
  void TearDown() override {
    FreeTree(tree_);
    settings = saved_;
  }
  void ReadTree() {
    FreeTree(tree_);
    TextString path;
    TextString::constructAsPath(path);
    path.assign(root_.c_str());
    int32_t count = 0;
    bool inside = false;
    ReadFavoritesFolder(path, tree_, count, inside);
  }
  void Shortcut(const std::string& rel, const std::string& bytes, int64_t time) {
    outer_.write("Favorites/" + rel, bytes);
    SetFileTimes((root_ + "/" + rel).c_str(), time);
  }
  std::string Read(const std::string& rel) { return outer_.read("Favorites/" + rel); }
  bool Exists(const std::string& rel) { return outer_.exists("Favorites/" + rel); }

  Settings record_;
  Settings* saved_ = nullptr;
  NodeList tree_;
  ScratchDir outer_;
  std::string root_;
};

TEST(FavoritesFileNameTest, FileNameCharactersAreExactlyTheKeptOnes) {
  std::string kept;
  for (int c = 1; c < 0x80; ++c)
    if (IsFileNameChar(static_cast<unsigned char>(c))) kept += static_cast<char>(c);
  EXPECT_EQ(kept,
            " !#$%&'()+,-0123456789;=@ABCDEFGHIJKLMNOPQRSTUVWXYZ[^_`abcdefghijklmnopqrstuvwxyz{}~");
  for (int c = 0x80; c < 0x100; ++c) EXPECT_TRUE(IsFileNameChar(static_cast<unsigned char>(c)));
  EXPECT_FALSE(IsFileNameChar(0));
}

TEST(FavoritesFileNameTest, NamesAreFilteredAndCutToFit) {
  EXPECT_EQ(ShortcutFileName("a:b [1]"), "ab [1.url");
  EXPECT_EQ(ShortcutFileName("x.y"), "xy.url");
  EXPECT_EQ(ShortcutFileName(""), ".url");
  EXPECT_EQ(ShortcutFileName("../..//\\*?\"<>|"), ".url");
  EXPECT_EQ(ShortcutFileName(std::string(300, 'a').c_str()), std::string(251, 'a') + ".url");
  // 250 bytes, then a two-byte character that would end at byte 252: it goes whole.
  std::string name = std::string(250, 'a') + "\xC3\xA9" + "tail";
  EXPECT_EQ(ShortcutFileName(name.c_str()), std::string(250, 'a') + ".url");
}

TEST_F(FavoritesWriterTest, UnchangedTreeLeavesEveryFileAsItWas) {
  std::string data = std::string(QF_TEST_DATA_DIR) + "/favorites/";
  int64_t time = kJanuary;
  for (const auto& item : fs::directory_iterator(data)) {
    if (item.path().extension() != ".url") continue;
    fs::copy_file(item.path(), root_ + "/" + item.path().filename().string());
    SetFileTimes((root_ + "/" + item.path().filename().string()).c_str(), time += 86400 * 40);
  }
  Shortcut("Links/x.y.url", "[InternetShortcut]\r\nURL=http://dotted.example/\r\n", kJuly);
  Shortcut("Links/News.URL", "[InternetShortcut]\r\nURL=http://news.example/\r\n", kJanuary);
  Shortcut("Links/Deep/prop.url",
           "[{000214A0-0000-0000-C000-000000000046}]\r\nProp3=19,2\r\n[InternetShortcut]\r\n"
           "IDList=\r\nURL=http://prop.example/\r\nIconFile=C:\\x.ico\r\nIconIndex=1\r\n",
           kJuly);
  Shortcut("Links/Deep/notes.txt", "not a shortcut", kJuly);
  Shortcut("Broken Links/old.url", "[InternetShortcut]\nURL=http://old.example/\n", kJuly);
  Shortcut("blank.url", "[InternetShortcut]\r\n", kJuly);
  fs::create_directory(root_ + "/Empty");
  Shortcut(".url", "[InternetShortcut]\r\nURL=http://nameless.example/\r\n", kJuly);

  auto before = Snapshot(root_);
  ReadTree();
  ASSERT_TRUE(WriteFavorites(tree_));
  auto after = Snapshot(root_);
  EXPECT_EQ(after.size(), before.size());
  for (const auto& [name, state] : before) {
    ASSERT_TRUE(after.count(name)) << name << " went";
    EXPECT_EQ(after[name].bytes, state.bytes) << name;
    EXPECT_EQ(after[name].mtime, state.mtime) << name;
    EXPECT_EQ(after[name].mtimeNsec, state.mtimeNsec) << name;
    EXPECT_EQ(after[name].creation, state.creation) << name;
  }
}

TEST_F(FavoritesWriterTest, ChangedAddressReplacesOnlyTheUrlValue) {
  std::string original =
      "[DEFAULT]\nBASEURL=http://www.google.com/\n[{000214A0-0000-0000-C000-000000000046}]\n"
      "Prop3=19,2\n[InternetShortcut]\nIDList=\nURL=http://www.google.com/\n"
      "IconFile=http://www.google.com/favicon.ico\nIconIndex=1\nHotKey=0\n";
  Shortcut("Google.url", original, kJanuary);
  ReadTree();
  LinkEntry* google = Find(tree_, "Google");
  ASSERT_NE(google, nullptr);
  google->url.assign("https://www.google.com/moved");
  google->lastVisit = kJuly;
  ASSERT_TRUE(WriteFavorites(tree_));
  std::string expected = original;
  expected.replace(expected.find("\nURL=") + 5, 22, "https://www.google.com/moved");
  EXPECT_EQ(Read("Google.url"), expected);
  EXPECT_EQ(CreationOf(root_ + "/Google.url"), kJuly);
  // Read again, the link is the same.
  ReadTree();
  EXPECT_EQ(Find(tree_, "Google")->lastVisit, kJuly);
  EXPECT_STREQ(Find(tree_, "Google")->url.c_str(), "https://www.google.com/moved");
}

TEST_F(FavoritesWriterTest, ANewLinkGetsTheMinimalFileAndItsTime) {
  tree_.addTail(Link("Example: News.", "http://example.com/news"));
  LinkEntry* undated = Link("Undated", "http://undated.example/", 0);
  tree_.addTail(undated);
  LinkEntry* folder = Folder("Synced");
  tree_.addTail(folder);
  folder->children.addTail(Link("Inner", "http://inner.example/", kJuly));
  tree_.addTail(Folder("Empty from bookmarks"));
  LinkEntry* bookmarkOnly = new LinkEntry("Bookmark only", "http://bm.example/", kJuly);
  tree_.addTail(bookmarkOnly);     // no SOURCE_FAVORITES: not written
  tree_.addTail(new LinkEntry());  // separator

  ASSERT_TRUE(WriteFavorites(tree_));
  EXPECT_EQ(Read("Example News.url"), std::string(kNewContent) + "http://example.com/news\r\n");
  EXPECT_EQ(CreationOf(root_ + "/Example News.url"), kJanuary);
  EXPECT_EQ(Read("Synced/Inner.url"), std::string(kNewContent) + "http://inner.example/\r\n");
  EXPECT_EQ(CreationOf(root_ + "/Synced/Inner.url"), kJuly);
  EXPECT_TRUE(fs::is_directory(root_ + "/Empty from bookmarks"));
  EXPECT_FALSE(Exists("Bookmark only.url"));
  // No time: the file keeps the time of its writing, not 1970.
  EXPECT_GT(CreationOf(root_ + "/Undated.url"), kJuly);
}

TEST_F(FavoritesWriterTest, DottedAndUpperCaseNamesGoBackToTheirOwnFiles) {
  Shortcut("x.y.url", "[InternetShortcut]\r\nURL=http://x.example/\r\n", kJanuary);
  Shortcut("News.URL", "[InternetShortcut]\r\nURL=http://n.example/\r\n", kJanuary);
  ReadTree();
  Find(tree_, "x.y")->url.assign("http://x2.example/");
  Find(tree_, "News")->url.assign("http://n2.example/");
  ASSERT_TRUE(WriteFavorites(tree_));
  EXPECT_FALSE(Exists("xy.url"));
  EXPECT_FALSE(Exists("News.url"));
  EXPECT_EQ(Read("x.y.url"), std::string(kNewContent) + "http://x2.example/\r\n");
  EXPECT_EQ(Read("News.URL"), std::string(kNewContent) + "http://n2.example/\r\n");

  Find(tree_, "x.y")->action = ACTION_DELETE;
  ASSERT_TRUE(WriteFavorites(tree_));
  EXPECT_FALSE(Exists("x.y.url"));
  EXPECT_TRUE(Exists("News.URL"));
}

TEST_F(FavoritesWriterTest, ARenamedLinkMovesToItsNewNameKeepingItsOtherLines) {
  Shortcut("Old name.url", "[InternetShortcut]\nURL=http://r.example/\nIconIndex=3\n", kJanuary);
  ReadTree();
  LinkEntry* link = Find(tree_, "Old name");
  link->setName("New: name");
  ASSERT_TRUE(WriteFavorites(tree_));
  EXPECT_FALSE(Exists("Old name.url"));
  EXPECT_EQ(Read("New name.url"), "[InternetShortcut]\nURL=http://r.example/\nIconIndex=3\n");
  EXPECT_EQ(CreationOf(root_ + "/New name.url"), kJanuary);

  // A rename that only changes what the file name drops keeps the one file.
  Shortcut("a.b.url", "[InternetShortcut]\r\nURL=http://ab.example/\r\n", kJanuary);
  ReadTree();
  Find(tree_, "a.b")->setName("ab");
  ASSERT_TRUE(WriteFavorites(tree_));
  EXPECT_TRUE(Exists("ab.url"));
  EXPECT_FALSE(Exists("a.b.url"));
}

TEST_F(FavoritesWriterTest, DeletingALinkWithoutAFileTakesNoOtherFile) {
  Shortcut("News.url", "[InternetShortcut]\r\nURL=http://keep.example/\r\n", kJanuary);
  LinkEntry* synced = Link("News", "http://gone.example/");
  synced->action = ACTION_DELETE;
  tree_.addTail(synced);
  ASSERT_TRUE(WriteFavorites(tree_));
  EXPECT_EQ(Read("News.url"), std::string(kNewContent) + "http://keep.example/\r\n");
}

TEST_F(FavoritesWriterTest, AShiftedLinkMovesIntoBrokenLinksUnderItsFileName) {
  Shortcut("Sub/dead.link.url", "[InternetShortcut]\r\nURL=http://dead.example/\r\nIconIndex=2\r\n",
           kJuly);
  ReadTree();
  LinkEntry* sub = Find(tree_, "Sub");
  LinkEntry* dead = Find(sub->children, "dead.link");
  ASSERT_NE(dead, nullptr);
  LinkEntry* copy = new LinkEntry(*dead);
  dead->action = ACTION_DELETE;
  LinkEntry* broken = Folder("Broken Links");
  broken->children.addTail(copy);
  tree_.addTail(broken);
  ASSERT_TRUE(WriteFavorites(tree_));
  EXPECT_FALSE(Exists("Sub/dead.link.url"));
  EXPECT_EQ(Read("Broken Links/dead.link.url"),
            std::string(kNewContent) + "http://dead.example/\r\nIconIndex=2\r\n");
  EXPECT_EQ(CreationOf(root_ + "/Broken Links/dead.link.url"), kJuly);
}

TEST_F(FavoritesWriterTest, NamesAreJudgedByThisSystemsRulesAndRefusalsAreReported) {
  struct Case {
    const char* folder;
    bool allowed;
  };
  const Case cases[] = {
      {"..", false},       {".", false},   {"../../x", false}, {"a/b", false}, {"/abs", false},
#ifdef _WIN32
      {"..\\evil", false}, {"C:x", false}, {"c:", false},      {"NUL", false},
#else
      // Ordinary names here: they stay inside the folder they are added to.
      {"..\\evil", true},  {"C:x", true},     {"c:", true},       {"Q: notes", true},
#endif
  };
  auto outside = Snapshot(outer_.path());
  for (const Case& c : cases) {
    LinkEntry* folder = Folder(c.folder);
    folder->children.addTail(Link("escaped", "http://escape.example/"));
    LinkEntry* deeper = Folder("deeper");
    deeper->children.addTail(Link("escaped too", "http://escape.example/"));
    folder->children.addTail(deeper);
    tree_.addTail(folder);
  }
  tree_.addTail(Link("*?:/\\", "http://dropped.example/"));
  std::string longName(300, 'n');
  tree_.addTail(Link(longName.c_str(), "http://long.example/"));
  LinkEntry* longFolder = Folder(longName.c_str());
  longFolder->children.addTail(Link("inside long", "http://x.example/"));
  tree_.addTail(longFolder);
  LinkEntry* hostileFile = Link("renamed", "http://f.example/");
  hostileFile->shortcutFile.assign("../outside.url");
  hostileFile->shortcutTitle.assign("outside");
  hostileFile->action = ACTION_DELETE;
  tree_.addTail(hostileFile);

  std::string cwd = GetCurrentDirectoryPath();
  std::vector<FavoritesFailure> failures;
  ASSERT_TRUE(WriteFavorites(tree_, &failures));
  EXPECT_EQ(GetCurrentDirectoryPath(), cwd);

  std::map<std::string, FileState> inside;
  for (const auto& [name, state] : Snapshot(outer_.path()))
    if (name.rfind("Favorites/", 0) != 0) inside[name] = state;
  outside.erase("Favorites");
  inside.erase("Favorites");
  EXPECT_EQ(inside, outside);

  std::set<std::string> names, expected{".url", std::string(251, 'n') + ".url"};
  std::set<std::string> expectedRefusals{"../outside.url", longName};
  for (const Case& c : cases)
    if (c.allowed) expected.insert(c.folder);
  for (const auto& item : fs::directory_iterator(root_))
    names.insert(item.path().filename().string());
  EXPECT_EQ(names, expected);
  for (const Case& c : cases) {
    if (c.allowed)
      EXPECT_TRUE(Exists(std::string(c.folder) + "/deeper/escaped too.url")) << c.folder;
    else
      expectedRefusals.insert(c.folder);
  }
  // Every refusal names what was refused.
  for (const FavoritesFailure& failure : failures) {
    bool named = false;
    for (const std::string& name : expectedRefusals)
      named = named ||
              (failure.path.size() >= name.size() &&
               failure.path.compare(failure.path.size() - name.size(), name.size(), name) == 0);
    EXPECT_TRUE(named) << failure.path << ": " << failure.reason;
  }
  EXPECT_EQ(failures.size(), expectedRefusals.size());
}

TEST_F(FavoritesWriterTest, UnwritableOrUnreadablePlacesArePassedOver) {
  EXPECT_FALSE(Exists("x"));
  // A directory in the way of a shortcut file, and a file in the way of a directory.
  fs::create_directory(root_ + "/Blocked.url");
  outer_.write("Favorites/Plain", "a file");
  tree_.addTail(Link("Blocked", "http://b.example/"));
  LinkEntry* plain = Folder("Plain");
  plain->children.addTail(Link("lost", "http://l.example/"));
  tree_.addTail(plain);
  tree_.addTail(Link("After", "http://after.example/"));
  ASSERT_TRUE(WriteFavorites(tree_));
  EXPECT_TRUE(fs::is_directory(root_ + "/Blocked.url"));
  EXPECT_EQ(Read("Plain"), "a file");
  EXPECT_TRUE(Exists("After.url"));

  if (::geteuid() != 0) {
    Shortcut("Locked.url", "[InternetShortcut]\nURL=http://l.example/\nSecret=1\n", kJanuary);
    ::chmod((root_ + "/Locked.url").c_str(), 0);
    LinkEntry* locked = Link("Locked", "http://new.example/");
    locked->shortcutFile.assign("Locked.url");
    locked->shortcutTitle.assign("Locked");
    tree_.addTail(locked);
    ASSERT_TRUE(WriteFavorites(tree_));
    ::chmod((root_ + "/Locked.url").c_str(), 0600);
    EXPECT_EQ(Read("Locked.url"), "[InternetShortcut]\nURL=http://l.example/\nSecret=1\n");
  }
}

TEST_F(FavoritesWriterTest, AHostileDepthOfFoldersIsWrittenAsFarAsPathsGo) {
  // 100,000 nested folders: the walk stops where no path could reach, without exhausting the
  // stack, and everything it could reach is written.
#if defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer's stack frames are several times larger than the program's own: 2,048
  // nested directory writes do not fit its default stack, while the program's build does.
  GTEST_SKIP() << "stack frames under AddressSanitizer are too large for this depth";
#endif
  NodeList* list = &tree_;
  for (int i = 0; i < 100000; ++i) {
    LinkEntry* folder = Folder("d");
    list->addTail(folder);
    if (i == 2) folder->children.addTail(Link("shallow", "http://shallow.example/"));
    list = &folder->children;
  }
  list->addTail(Link("deepest", "http://deep.example/"));
  EXPECT_TRUE(WriteFavorites(tree_));
  EXPECT_NE(Read("d/d/d/shallow.url").find("URL=http://shallow.example/"), std::string::npos);
}

TEST_F(FavoritesWriterTest, AMissingFavoritesFolderWritesNothing) {
  tree_.addTail(Link("a", "http://a.example/"));
  record_.favoritesFolder.assign((root_ + "/missing").c_str());
  EXPECT_FALSE(WriteFavorites(tree_));
  record_.favoritesFolder.clearText();
  EXPECT_FALSE(WriteFavorites(tree_));
  EXPECT_TRUE(fs::is_empty(root_));
}

}  // namespace

namespace {

TEST_F(FavoritesWriterTest, ALaterVisitOfAnUnchangedLinkReadsBack) {
  Shortcut("Old.url", "[InternetShortcut]\r\nURL=http://old.example/\r\nIconIndex=0\r\n", kJanuary);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  int64_t visit = static_cast<int64_t>(std::time(nullptr));  // after the file was born
  ReadTree();
  Find(tree_, "Old")->lastVisit = visit;
  ASSERT_TRUE(WriteFavorites(tree_));
  EXPECT_EQ(CreationOf(root_ + "/Old.url"), visit);
  EXPECT_EQ(Read("Old.url"), "[InternetShortcut]\r\nURL=http://old.example/\r\nIconIndex=0\r\n");
  ReadTree();
  EXPECT_EQ(Find(tree_, "Old")->lastVisit, visit);
}

}  // namespace

namespace {

TEST_F(FavoritesWriterTest, AMergedFolderGoesBackToItsOwnDirectory) {
  Shortcut("Links/a.url", "[InternetShortcut]\r\nURL=http://a.example/\r\n", kJanuary);
  LinkEntry* bookmarkFolder = new LinkEntry("LINKS", nullptr, 0);
  tree_.addTail(bookmarkFolder);
  TextString path;
  TextString::constructAsPath(path);
  path.assign(root_.c_str());
  int32_t count = 0;
  bool inside = false;
  ReadFavoritesFolder(path, tree_, count, inside);
  ASSERT_EQ(bookmarkFolder->source, SOURCE_BOOKMARKS | SOURCE_FAVORITES);
  LinkEntry* synced = Link("b", "http://b.example/");
  bookmarkFolder->children.addTail(synced);
  auto before = Snapshot(root_);
  ASSERT_TRUE(WriteFavorites(tree_));
  EXPECT_FALSE(Exists("LINKS"));
  EXPECT_TRUE(Exists("Links/b.url"));
  auto after = Snapshot(root_);
  EXPECT_EQ(after["Links/a.url"], before["Links/a.url"]);
}

#ifndef _WIN32
TEST_F(FavoritesWriterTest, ShortcutsWithColonsAndBackslashesAreUpdatedAndDeleted) {
  Shortcut("Q: notes.url", "[InternetShortcut]\r\nURL=http://q.example/\r\nIconIndex=1\r\n", kJuly);
  Shortcut("a\\b/x.url", "[InternetShortcut]\r\nURL=http://x.example/\r\n", kJuly);
  ReadTree();
  Find(tree_, "Q: notes")->url.assign("http://q2.example/");
  Find(Find(tree_, "a\\b")->children, "x")->action = ACTION_DELETE;
  std::vector<FavoritesFailure> failures;
  ASSERT_TRUE(WriteFavorites(tree_, &failures));
  EXPECT_TRUE(failures.empty());
  EXPECT_EQ(Read("Q: notes.url"),
            "[InternetShortcut]\r\nURL=http://q2.example/\r\nIconIndex=1\r\n");
  EXPECT_FALSE(Exists("Q notes.url"));
  EXPECT_FALSE(Exists("a\\b/x.url"));
}
#endif

TEST_F(FavoritesWriterTest, NothingOutsideTheFolderIsWrittenRenamedOrRetimed) {
  const std::string body = "[InternetShortcut]\r\nURL=http://out.example/\r\nIconIndex=7\r\n";
  outer_.write("Outside/kept.url", body);
  outer_.write("Outside/changed.url", body);
  outer_.write("Outside/Dir/inner.url", body);
  outer_.write("Outside/Dir/doomed.url", body);
  for (const char* f : {"kept.url", "changed.url", "Dir/inner.url", "Dir/doomed.url"})
    SetFileTimes((outer_ / (std::string("Outside/") + f)).c_str(), kJanuary);
  fs::create_symlink(outer_ / "Outside/kept.url", root_ + "/kept.url");
  fs::create_symlink(outer_ / "Outside/changed.url", root_ + "/changed.url");
  fs::create_directory_symlink(outer_ / "Outside/Dir", root_ + "/Linked");
  ASSERT_EQ(::mkfifo((root_ + "/pipe.url").c_str(), 0600), 0);
  auto before = Snapshot(outer_ / "Outside");

  ReadTree();
  Find(tree_, "kept")->lastVisit = kJuly;  // only the time would change
  Find(tree_, "changed")->url.assign("http://new.example/");
  LinkEntry* linked = Find(tree_, "Linked");
  ASSERT_NE(linked, nullptr);
  Find(linked->children, "inner")->url.assign("http://new.example/");
  Find(linked->children, "doomed")->action = ACTION_DELETE;
  linked->children.addTail(Link("synced", "http://synced.example/"));
  tree_.addTail(Link("pipe", "http://pipe.example/"));  // a pipe stands where it would go
  std::vector<FavoritesFailure> failures;
  ASSERT_TRUE(WriteFavorites(tree_, &failures));

  EXPECT_EQ(Snapshot(outer_ / "Outside"), before);
  // A change to a linked shortcut replaces the link with a file of its own.
  EXPECT_FALSE(fs::is_symlink(root_ + "/changed.url"));
  EXPECT_EQ(Read("changed.url"),
            "[InternetShortcut]\r\nURL=http://new.example/\r\nIconIndex=7\r\n");
  EXPECT_TRUE(fs::is_symlink(root_ + "/kept.url"));
  std::set<std::string> refused;
  for (const FavoritesFailure& failure : failures)
    refused.insert(fs::path(failure.path).filename().string());
  EXPECT_EQ(refused, (std::set<std::string>{"inner.url", "doomed.url", "synced.url", "pipe.url"}));
}

TEST_F(FavoritesWriterTest, AShiftedLinksFileStaysUntilItsCopyIsWritten) {
  Shortcut("dead.url", "[InternetShortcut]\r\nURL=http://dead.example/\r\n", kJuly);
  Shortcut("gone.url", "[InternetShortcut]\r\nURL=http://gone.example/\r\n", kJuly);
  outer_.write("Favorites/Broken Links", "a file where the folder would go");
  ReadTree();
  LinkEntry* dead = Find(tree_, "dead");
  LinkEntry* broken = Folder("Broken Links");
  broken->children.addTail(new LinkEntry(*dead));
  tree_.addTail(broken);
  dead->action = ACTION_DELETE;
  Find(tree_, "gone")->action = ACTION_DELETE;  // deleted outright: nothing to wait for
  std::vector<FavoritesFailure> failures;
  ASSERT_TRUE(WriteFavorites(tree_, &failures));
  EXPECT_TRUE(Exists("dead.url"));
  EXPECT_FALSE(Exists("gone.url"));
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_EQ(failures[0].path, root_ + "/Broken Links");
  EXPECT_EQ(failures[1].path, root_ + "/dead.url");
}

}  // namespace
