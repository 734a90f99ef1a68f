#include "results/apply_actions.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/directories.h"
#include "platform/files.h"
#include "stores/favorites_reader.h"
#include "support/headless_fixture.h"
#include "tree/settings.h"
#include "support/child_process.h"

namespace fs = std::filesystem;

namespace {

LinkEntry* Link(NodeList& list, const char* name, const char* url, int32_t source,
                int32_t result = CHECK_NONE, int32_t action = ACTION_LEAVE) {
  auto* e = new LinkEntry(name, url, 0);
  e->source = source;
  e->checkResult.store(result);
  e->action = action;
  list.addTail(e);
  return e;
}

LinkEntry* Folder(NodeList& list, const char* name, int32_t source) {
  auto* e = new LinkEntry(name, nullptr, 0);
  e->source = source;
  list.addTail(e);
  return e;
}

std::string Names(const NodeList& list) {
  std::string out;
  for (Node* n = list.head(); n->next; n = n->next) {
    if (!out.empty()) out += ' ';
    out += n->name ? n->name : "-";
  }
  return out;
}

class ApplyActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = settings;
    settings = &record_;
    record_.flags = 0;  // nothing is saved unless a test asks for it
  }
  void TearDown() override {
    FreeTree(tree_);
    settings = saved_;
  }
  Settings record_;
  Settings* saved_ = nullptr;
  NodeList tree_;
};

TEST_F(ApplyActionsTest, ShiftedBookmarksGoIntoANewFolderAtTheEnd) {
  HeadlessMainWindow main;
  TimeValue before = static_cast<TimeValue>(std::time(nullptr));
  LinkEntry* a = Link(tree_, "A", "http://a/", SOURCE_BOOKMARKS, CHECK_NOT_FOUND, ACTION_SHIFT);
  LinkEntry* f = Folder(tree_, "Folder", SOURCE_BOOKMARKS);
  LinkEntry* b =
      Link(f->children, "B", "http://b/", SOURCE_BOOKMARKS, CHECK_INVALID_HOST, ACTION_SHIFT);
  b->addDate = 77;
  b->newUrl.assign("http://kept/");
  Link(tree_, "C", "http://c/", SOURCE_BOOKMARKS, 200, ACTION_SHIFT);  // no problem: ignored
  ApplyActions(main.window, tree_);

  EXPECT_EQ(Names(tree_), "A Folder C Broken Links");
  LinkEntry* folder = LinkEntry::of(tree_.tailPred());
  EXPECT_EQ(folder->source, SOURCE_BOOKMARKS);
  EXPECT_GE(folder->lastVisit, before);
  EXPECT_TRUE(folder->isFolder());
  EXPECT_EQ(Names(folder->children), "A B");
  LinkEntry* copyB = LinkEntry::of(folder->children.tailPred());
  EXPECT_EQ(copyB->action, ACTION_LEAVE);
  EXPECT_EQ(copyB->checkResult.load(), CHECK_INVALID_HOST);
  EXPECT_EQ(copyB->addDate, 77);
  EXPECT_STREQ(copyB->url.c_str(), "http://b/");
  EXPECT_STREQ(copyB->newUrl.c_str(), "http://kept/");
  EXPECT_EQ(a->action, ACTION_DELETE);
  EXPECT_EQ(b->action, ACTION_DELETE);
  EXPECT_EQ(main.log(), "Cleaning up URL list...\r\n");
}

TEST_F(ApplyActionsTest, NewFolderTakesItsSortedPlaceWhenSorting) {
  record_.flags = FLAG_SORT_BOOKMARKS;
  Link(tree_, "Alpha", "http://a/", SOURCE_FAVORITES, CHECK_NOT_FOUND, ACTION_SHIFT);
  Link(tree_, "Charlie", "http://c/", SOURCE_BOOKMARKS | SOURCE_FAVORITES);
  ApplyActions(nullptr, tree_);
  EXPECT_EQ(Names(tree_), "Alpha Broken Links Charlie");
  EXPECT_EQ(tree_.head()->next->source, SOURCE_FAVORITES);
}

TEST_F(ApplyActionsTest, ExistingNestedFolderInAnyCaseReceivesCopiesAfterItsChildren) {
  Link(tree_, "Broken Links", "http://not-a-folder/", SOURCE_BOOKMARKS);
  LinkEntry* outer = Folder(tree_, "Outer", SOURCE_BOOKMARKS);
  LinkEntry* target = Folder(outer->children, "bROKEN lINKS", SOURCE_BOOKMARKS);
  Link(target->children, "Old", "http://old/", SOURCE_BOOKMARKS);
  LinkEntry* later = Folder(tree_, "Broken Links", SOURCE_BOOKMARKS);
  Link(tree_, "A", "http://a/", SOURCE_FAVORITES, CHECK_NOT_FOUND, ACTION_SHIFT);
  Link(tree_, "B", "http://b/", SOURCE_BOOKMARKS | SOURCE_FAVORITES, CHECK_FORBIDDEN, ACTION_SHIFT);
  EXPECT_EQ(FindBrokenLinksFolder(tree_), target);
  ApplyActions(nullptr, tree_);
  EXPECT_EQ(Names(target->children), "Old A B");
  EXPECT_EQ(target->source, SOURCE_BOOKMARKS | SOURCE_FAVORITES);
  EXPECT_TRUE(later->children.isEmpty());
  EXPECT_EQ(LinkEntry::of(target->children.tailPred())->source,
            SOURCE_BOOKMARKS | SOURCE_FAVORITES);
}

// A folder of the bookmark file only, inside another, receiving a Favorites link: both
// folders join the Favorites, so that the writer puts the shortcut into them instead of
// deleting it and writing nothing.
TEST_F(ApplyActionsTest, FoldersAroundAnExistingFolderJoinTheShiftedLinksStores) {
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("qf-apply-nested-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  { std::ofstream(dir / "Lost.url") << "[InternetShortcut]\r\nURL=http://lost/\r\n"; }
  record_.favoritesFolder.assign(dir.c_str());
  record_.flags = FLAG_CLEAN_FAVORITES;

  LinkEntry* outer = Folder(tree_, "Outer", SOURCE_BOOKMARKS);
  LinkEntry* folder = Folder(outer->children, "Broken Links", SOURCE_BOOKMARKS);
  Link(folder->children, "Old", "http://old/", SOURCE_BOOKMARKS);
  LinkEntry* lost =
      Link(tree_, "Lost", "http://lost/", SOURCE_FAVORITES, CHECK_NOT_FOUND, ACTION_SHIFT);
  lost->shortcutFile.assign("Lost.url");
  lost->shortcutTitle.assign("Lost");
  ApplyActions(nullptr, tree_);
  EXPECT_EQ(outer->source, SOURCE_BOOKMARKS | SOURCE_FAVORITES);
  EXPECT_EQ(folder->source, SOURCE_BOOKMARKS | SOURCE_FAVORITES);
  EXPECT_FALSE(std::filesystem::exists(dir / "Lost.url"));
  EXPECT_TRUE(std::filesystem::exists(dir / "Outer" / "Broken Links" / "Lost.url"));
  EXPECT_FALSE(std::filesystem::exists(dir / "Outer" / "Broken Links" / "Old.url"));
  std::filesystem::remove_all(dir);
}

TEST_F(ApplyActionsTest, LinkInsideTheFolderMovesToItsEnd) {
  LinkEntry* folder = Folder(tree_, "broken links", SOURCE_BOOKMARKS);
  LinkEntry* x =
      Link(folder->children, "X", "http://x/", SOURCE_BOOKMARKS, CHECK_NOT_FOUND, ACTION_SHIFT);
  Link(folder->children, "Y", "http://y/", SOURCE_BOOKMARKS);
  ApplyActions(nullptr, tree_);
  EXPECT_EQ(Names(folder->children), "X Y X");
  EXPECT_EQ(x->action, ACTION_DELETE);
  EXPECT_EQ(LinkEntry::of(folder->children.tailPred())->action, ACTION_LEAVE);
}

TEST_F(ApplyActionsTest, WithoutShiftNothingIsSearchedOrMade) {
  LinkEntry* folder = Folder(tree_, "Broken Links", SOURCE_BOOKMARKS);
  LinkEntry* moved = Link(tree_, "M", "http://m/", SOURCE_BOOKMARKS, CHECK_MOVED, ACTION_UPDATE);
  moved->newUrl.assign("http://new/");
  LinkEntry* stay = Link(tree_, "S", "http://s/", SOURCE_BOOKMARKS, CHECK_MOVED, ACTION_LEAVE);
  stay->newUrl.assign("http://elsewhere/");
  LinkEntry* noLocation =
      Link(tree_, "N", "http://n/", SOURCE_BOOKMARKS, CHECK_MOVED, ACTION_UPDATE);
  LinkEntry* gone = Link(tree_, "D", "http://d/", SOURCE_BOOKMARKS, CHECK_NOT_FOUND, ACTION_DELETE);
  LinkEntry* fine = Link(tree_, "F", "http://f/", SOURCE_BOOKMARKS, 200, ACTION_UPDATE);
  fine->newUrl.assign("http://ignored/");
  ApplyActions(nullptr, tree_);
  EXPECT_EQ(Names(tree_), "Broken Links M S N D F");
  EXPECT_EQ(folder->source, SOURCE_BOOKMARKS);
  EXPECT_STREQ(moved->url.c_str(), "http://new/");
  EXPECT_STREQ(stay->url.c_str(), "http://s/");
  EXPECT_STREQ(noLocation->url.c_str(), "http://n/");  // still a link, not an empty folder
  EXPECT_TRUE(noLocation->isLink());
  EXPECT_EQ(gone->action, ACTION_DELETE);
  EXPECT_STREQ(fine->url.c_str(), "http://f/");
}

TEST_F(ApplyActionsTest, ProgressAdvancesOncePerLink) {
  HeadlessMainWindow main;
  main.window->run([](HeadlessWindow& w) {
    w.setProgressRange(IDC_PROGRESS, 0, 10);
    w.setProgressStep(IDC_PROGRESS, 1);
    w.setProgressPos(IDC_PROGRESS, 7);
  });
  LinkEntry* folder = Folder(tree_, "F", SOURCE_BOOKMARKS);
  Link(folder->children, "a", "http://a/", SOURCE_BOOKMARKS, CHECK_NOT_FOUND, ACTION_SHIFT);
  Link(folder->children, "b", "http://b/", SOURCE_BOOKMARKS, 200);
  Folder(tree_, "empty", SOURCE_BOOKMARKS);
  tree_.addTail(new LinkEntry());
  Link(tree_, "c", "http://c/", SOURCE_BOOKMARKS);
  ApplyActions(main.window, tree_);
  main.ui.flush();
  EXPECT_EQ(main.window->progressPos(IDC_PROGRESS), 3);
}

TEST_F(ApplyActionsTest, SavesAsTheFlagsSayAndReportsFailures) {
  HeadlessMainWindow main;
  std::filesystem::path missing =
      std::filesystem::temp_directory_path() / "qf-apply-missing-dir" / "sub";
  record_.bookmarkFile.assign((missing / "bookmark.htm").c_str());
  record_.favoritesFolder.assign(missing.c_str());

  const std::string favorites =
      "Saving Favorites...\r\nSave failed!\r\nThe Favorites were not saved: " + missing.string() +
      " (no such folder)\r\n";
  record_.flags = FLAG_CLEAN_FAVORITES;
  SaveReport report;
  ApplyActions(main.window, tree_, &report);
  EXPECT_EQ(main.log(), "Cleaning up URL list...\r\n" + favorites);
  ASSERT_EQ(report.failures.size(), 1u);
  EXPECT_EQ(report.failures[0].store, "Favorites");

  main.window->run([](HeadlessWindow& w) { w.setText(IDC_LOG, ""); });
  record_.flags = FLAG_SYNCHRONISE;
  report = SaveReport();
  ApplyActions(main.window, tree_, &report);
  EXPECT_EQ(main.log(),
            "Cleaning up URL list...\r\nSaving Bookmark file...\r\nSave "
            "failed!\r\nThe bookmark file was not saved: " +
                (missing / "bookmark.htm").string() + " (No such file or directory)\r\n" +
                favorites);
  ASSERT_EQ(report.failures.size(), 2u);
  EXPECT_EQ(report.failures[0].store, "bookmark file");
  EXPECT_EQ(report.failures[0].path, (missing / "bookmark.htm").string());
}

TEST_F(ApplyActionsTest, DeepTreeIsWalkedWithoutRecursion) {
  NodeList* list = &tree_;
  for (int i = 0; i < 200000; ++i) list = &Folder(*list, "d", SOURCE_BOOKMARKS)->children;
  LinkEntry* deep =
      Link(*list, "deep", "http://deep/", SOURCE_BOOKMARKS, CHECK_NOT_FOUND, ACTION_SHIFT);
  Folder(*list, "Broken Links", SOURCE_BOOKMARKS);
  ApplyActions(nullptr, tree_);
  EXPECT_EQ(deep->action, ACTION_DELETE);
  EXPECT_EQ(Names(LinkEntry::of(list->tailPred())->children), "deep");
}

// A Favorites folder of 2,000 shortcuts, 200 of them to be shifted, saved by a child process
// that is killed at seeded random moments of the save. After every kill each link is whole
// in its old place, in "Broken Links", or in both.
class ShiftCrashTest : public ::testing::Test {
 protected:
  static constexpr int kFolders = 20;
  static constexpr int kPerFolder = 100;
  static constexpr int64_t kTime = 1673000000;

  void SetUp() override {
    // Memory-backed when there is such a place, so that the disk's flushes do not set the pace.
    std::string base =
        fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path().string();
    std::string pattern = base + "/qf-crash-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    ASSERT_NE(::mkdtemp(buffer.data()), nullptr);
    root_ = buffer.data();
    for (int f = 0; f < kFolders; ++f) {
      for (int i = 0; i < kPerFolder; ++i) {
        std::string rel = "Folder " + std::to_string(f) + "/Link " + std::to_string(i) + ".url";
        std::string url = "http://crash.example/" + std::to_string(f) + "/" + std::to_string(i);
        content_[url] = "[InternetShortcut]\r\nURL=" + url + "\r\nIconIndex=1\r\n";
        place_[url] = rel;
        Restore(rel, content_[url]);
      }
    }
    saved_ = settings;
    settings = &record_;
    record_.flags = FLAG_CLEAN_FAVORITES;
    record_.favoritesFolder.assign(root_.c_str());
    TextString path;
    TextString::constructAsPath(path);
    path.assign(root_.c_str());
    int32_t count = 0;
    bool inside = false;
    ReadFavoritesFolder(path, tree_, count, inside);
    ASSERT_EQ(count, kFolders * kPerFolder);
    int n = 0;
    ForEachLeaf(tree_, [&](LinkEntry& e) {
      if (n++ % 10 != 3) return;
      e.checkResult.store(CHECK_NOT_FOUND);
      e.action = ACTION_SHIFT;
      shifted_.push_back(e.url.c_str());
      shifting_.insert(e.url.c_str());
    });
  }
  void TearDown() override {
    FreeTree(tree_);
    settings = saved_;
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  void Restore(const std::string& rel, const std::string& bytes) {
    fs::create_directories(fs::path(root_ + "/" + rel).parent_path());
    std::ofstream(root_ + "/" + rel, std::ios::binary) << bytes;
    SetFileTimes((root_ + "/" + rel).c_str(), kTime);
  }

  // Saves in a child, killed after delay (none: left to finish); the child's run time.
  std::chrono::microseconds SaveInChild(std::chrono::microseconds delay, bool kill) {
    auto took = RunInChild([this] { ApplyActions(nullptr, tree_); }, delay, kill);
    EXPECT_GE(took.count(), 0) << "fork failed";
    return took;
  }

  struct Census {
    int lost = 0;       // links in neither place
    int damaged = 0;    // shortcut files empty, cut or not ours
    int moved = 0;      // shifted links found in "Broken Links"
    int originals = 0;  // shifted links still in their old place
  };

  // Looks at one file of the folder.
  void Examine(const std::string& path, Census& census, std::map<std::string, int>& seen,
               std::vector<std::string>& leftovers) {
    std::string rel = path.substr(root_.size() + 1);
    if (fs::path(path).extension() != ".url") {
      leftovers.push_back(path);
      return;
    }
    std::string bytes;
    size_t start = std::string::npos, end = std::string::npos;
    if (ReadWholeFile(path.c_str(), bytes)) {
      start = bytes.find("URL=");
      end = bytes.find("\r\n", start == std::string::npos ? 0 : start);
    }
    std::string url = start == std::string::npos || end == std::string::npos
                          ? std::string()
                          : bytes.substr(start + 4, end - start - 4);
    auto known = content_.find(url);
    bool inBroken = rel.rfind("Broken Links/", 0) == 0;
    if (known == content_.end() || known->second != bytes || (!inBroken && rel != place_[url])) {
      ++census.damaged;
      return;
    }
    seen[url] |= inBroken ? 2 : 1;
  }

  // Counts what the folder holds, then puts it back as it was before the save. Only the
  // places a save changes are looked at, or, with everything, every file.
  Census CountAndRestore(bool everything) {
    Census census;
    std::map<std::string, int> seen;  // url -> 1 old place, 2 Broken Links
    std::vector<std::string> leftovers;
    std::string from = everything ? root_ : root_ + "/Broken Links";
    if (fs::is_directory(from))
      for (const auto& item : fs::recursive_directory_iterator(from))
        if (item.is_regular_file()) Examine(item.path().string(), census, seen, leftovers);
    if (!everything) {
      for (const std::string& url : shifted_)
        if (fs::exists(root_ + "/" + place_[url]))
          Examine(root_ + "/" + place_[url], census, seen, leftovers);
    }
    for (const auto& [url, rel] : place_)
      if (!seen.count(url) && (everything || shifting_.count(url))) ++census.lost;
    for (const std::string& url : shifted_) {
      if (seen[url] & 1) ++census.originals;
      if (seen[url] & 2) ++census.moved;
      if (!(seen[url] & 1)) Restore(place_[url], content_[url]);
    }
    for (const std::string& leftover : leftovers) fs::remove(leftover);
    fs::remove_all(root_ + "/Broken Links");
    return census;
  }

  std::string root_;
  std::map<std::string, std::string> content_, place_;
  std::vector<std::string> shifted_;
  std::set<std::string> shifting_;  // the same, to look up
  Settings record_;
  Settings* saved_ = nullptr;
  NodeList tree_;
};

TEST_F(ShiftCrashTest, AKillAtAnyMomentLeavesEveryLinkWholeInOnePlaceOrBoth) {
  ASSERT_EQ(shifted_.size(), 200u);
  // A save left to finish moves every shifted link.
  std::chrono::microseconds whole = SaveInChild({}, false);
  Census done = CountAndRestore(true);
  EXPECT_EQ(done.lost, 0);
  EXPECT_EQ(done.damaged, 0);
  EXPECT_EQ(done.moved, 200);
  EXPECT_EQ(done.originals, 0);

  // A third of the moments anywhere in the save, the rest in its later part, where the
  // files are written and removed (reading and comparing come first).
  std::mt19937 random(20261208);
  std::uniform_int_distribution<int64_t> anywhere(0, whole.count());
  std::uniform_int_distribution<int64_t> later(whole.count() * 6 / 10, whole.count());
  auto moment = [&](std::mt19937& r) { return r() % 3 == 0 ? anywhere(r) : later(r); };
  int kills = 0, before = 0, midway = 0;
  for (; kills < 50; ++kills) {
    SaveInChild(std::chrono::microseconds(moment(random)), true);
    Census census = CountAndRestore(kills == 49);
    ASSERT_EQ(census.lost, 0) << "kill " << kills;
    ASSERT_EQ(census.damaged, 0) << "kill " << kills;
    if (census.moved == 0)
      ++before;
    else if (census.originals > 0)
      ++midway;
  }
  std::printf("%d kills in a save of %lld us: %d before any move, %d while moving, %d after\n",
              kills, static_cast<long long>(whole.count()), before, midway,
              kills - before - midway);
}

}  // namespace
