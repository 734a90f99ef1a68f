#include "results/report_results.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/headless_fixture.h"
#include "tree/settings.h"

namespace {

constexpr int32_t BOTH = SOURCE_BOOKMARKS | SOURCE_FAVORITES;

LinkEntry* Link(NodeList& list, const char* name, const char* url, int32_t source,
                int32_t result = CHECK_NONE) {
  auto* e = new LinkEntry(name, url, 0);
  e->source = source;
  e->checkResult.store(result);
  list.addTail(e);
  return e;
}

LinkEntry* Folder(NodeList& list, const char* name, int32_t source) {
  auto* e = new LinkEntry(name, nullptr, 0);
  e->source = source;
  list.addTail(e);
  return e;
}

LinkEntry* Separator(NodeList& list, int32_t source) {
  auto* e = new LinkEntry();
  e->source = source;
  list.addTail(e);
  return e;
}

// "name:source" for every entry, depth first, folders as "name:source[...]".
std::string Shape(const NodeList& list) {
  std::string out;
  for (Node* n = list.head(); n->next; n = n->next) {
    LinkEntry* e = LinkEntry::of(n);
    if (!out.empty()) out += ' ';
    out += e->name ? e->name : "-";
    out += ':' + std::to_string(e->source);
    if (!e->children.isEmpty()) out += '[' + Shape(e->children) + ']';
  }
  return out;
}

class ReportResultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = settings;
    settings = &record_;
  }
  void TearDown() override {
    SetResultsPresenter({});
    FreeTree(tree_);
    settings = saved_;
  }

  // The presenter stands in for the dialog: it counts its calls and answers `answer_`.
  void UsePresenter() {
    SetResultsPresenter([this](Window*, NodeList& tree) {
      ++shown_;
      EXPECT_EQ(&tree, &tree_);
      return answer_;
    });
  }

  Settings record_;
  Settings* saved_ = nullptr;
  NodeList tree_;
  int shown_ = 0;
  int answer_ = 1;
};

TEST_F(ReportResultsTest, SummaryCountsEachKindWithSingularsAndPercentage) {
  HeadlessMainWindow main;
  record_.flags = 0;
  Link(tree_, "a", "http://a/", SOURCE_BOOKMARKS, CHECK_NOT_FOUND);
  LinkEntry* f = Folder(tree_, "f", SOURCE_BOOKMARKS);
  Link(f->children, "b", "http://b/", SOURCE_BOOKMARKS, CHECK_MOVED);
  Link(f->children, "c", "http://c/", SOURCE_BOOKMARKS, CHECK_INVALID_HOST);
  Link(tree_, "d", "http://d/", SOURCE_BOOKMARKS, 200);
  EXPECT_EQ(ReportResults(main.window, tree_, 4), 1);
  EXPECT_EQ(main.log(),
            "Found 1 broken link (Status 404), 1 moved link (Status 301),\r\nand 1 invalid host "
            "(3 in total). 75% of your links don't work.\r\n\r\n");
}

TEST_F(ReportResultsTest, SummaryPluralsForbiddenStatusAndTruncatedPercentage) {
  HeadlessMainWindow main;
  record_.flags = FLAG_FORBIDDEN_AS_NOT_FOUND;
  Link(tree_, "a", "http://a/", SOURCE_BOOKMARKS, CHECK_NOT_FOUND);
  Link(tree_, "b", "http://b/", SOURCE_FAVORITES, CHECK_FORBIDDEN);
  Link(tree_, "c", "http://c/", SOURCE_FAVORITES, CHECK_MOVED);
  ReportResults(main.window, tree_, 40);
  EXPECT_EQ(main.log(),
            "Found 2 broken links (Status 403/404), 1 moved link (Status 301),\r\nand 0 invalid "
            "hosts (3 in total). 7% of your links don't work.\r\n\r\n");
}

// Gone counts as broken and is deleted like it; a blocked link is counted on a line of its
// own and never gets the broken links' action.
TEST_F(ReportResultsTest, GoneIsBrokenAndBlockedLinksAreCountedApart) {
  HeadlessMainWindow main;
  record_.flags = FLAG_BROKEN_DELETE;
  LinkEntry* gone = Link(tree_, "a", "http://a/", SOURCE_BOOKMARKS, CHECK_GONE);
  LinkEntry* walled = Link(tree_, "b", "http://b/", SOURCE_BOOKMARKS, CHECK_BLOCKED_BASE + 403);
  Link(tree_, "c", "http://c/", SOURCE_BOOKMARKS, CHECK_BLOCKED_BASE + 429);
  Link(tree_, "d", "http://d/", SOURCE_BOOKMARKS, CHECK_REDIRECT_UNFOLLOWED);
  EXPECT_EQ(ReportResults(main.window, tree_, 4), 1);
  EXPECT_EQ(main.log(),
            "Found 1 broken link (Status 404/410), 0 moved links (Status 301),\r\nand 0 invalid "
            "hosts (1 in total). 25% of your links don't work.\r\n\r\n"
            "2 links could not be verified: the server refused an automated check (they are "
            "left as they were).\r\n\r\n");
  EXPECT_EQ(gone->action, ACTION_DELETE);
  EXPECT_EQ(walled->action, ACTION_LEAVE);
}

TEST_F(ReportResultsTest, PercentageIsAtLeastOneAndZeroCountIsSafe) {
  HeadlessMainWindow main;
  record_.flags = 0;
  Link(tree_, "a", "http://a/", SOURCE_BOOKMARKS, CHECK_INVALID_HOST);
  ReportResults(main.window, tree_, 1000);
  ReportResults(main.window, tree_, 0);
  std::string line =
      "Found 0 broken links (Status 404), 0 moved links (Status 301),\r\nand 1 invalid host "
      "(1 in total). 1% of your links don't work.\r\n\r\n";
  EXPECT_EQ(main.log(), line + line);
}

TEST_F(ReportResultsTest, NoProblemsLeavesActionsAndShowsNoDialog) {
  HeadlessMainWindow main;
  UsePresenter();
  record_.flags = FLAG_SYNCHRONISE | FLAG_BROKEN_ASK | FLAG_MOVED_ASK;
  LinkEntry* ok = Link(tree_, "a", "http://a/", SOURCE_BOOKMARKS, 200);
  ok->action = ACTION_SHIFT;
  EXPECT_EQ(ReportResults(main.window, tree_, 1), 0);
  EXPECT_EQ(shown_, 0);
  EXPECT_EQ(ok->action, ACTION_SHIFT);
  EXPECT_EQ(main.log(),
            "Synchronising bookmarks and favorites...\r\n\r\nAll your links appear to be "
            "working!\r\n\r\n");
  record_.flags = FLAG_BROKEN_ASK | FLAG_MOVED_ASK | FLAG_ONLY_OLDER;
  EXPECT_EQ(ReportResults(main.window, tree_, 1), 1);
}

// Every combination of the bits that decide, against every mix of problems: the dialog is
// shown exactly when an asking group has links, its answer is returned, and otherwise the
// run saves unless both groups ask and the age limit is off.
TEST_F(ReportResultsTest, DecisionForEveryCombinationOfBits) {
  const uint32_t bits[] = {FLAG_BROKEN_ASK, FLAG_BROKEN_DELETE, FLAG_BROKEN_SHIFT,
                           FLAG_MOVED_ASK,  FLAG_MOVED_UPDATE,  FLAG_ONLY_OLDER};
  const int32_t mixes[][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}};
  UsePresenter();
  for (const auto& mix : mixes) {
    for (uint32_t combo = 0; combo < 64; ++combo) {
      for (int answer : {0, 1}) {
        FreeTree(tree_);
        LinkEntry* broken = mix[0] ? Link(tree_, "b", "http://b/", 2, CHECK_NOT_FOUND) : nullptr;
        LinkEntry* moved = mix[1] ? Link(tree_, "m", "http://m/", 2, CHECK_MOVED) : nullptr;
        LinkEntry* invalid =
            mix[2] ? Link(tree_, "i", "http://i/", 1, CHECK_INVALID_HOST) : nullptr;
        record_.flags = 0;
        for (int i = 0; i < 6; ++i)
          if (combo & (1u << i)) record_.flags |= bits[i];
        uint32_t f = record_.flags;
        answer_ = answer;
        shown_ = 0;
        int result = ReportResults(nullptr, tree_, 3);

        bool askBroken = f & FLAG_BROKEN_ASK, askMoved = f & FLAG_MOVED_ASK;
        bool dialog = (askBroken && (mix[0] || mix[2])) || (askMoved && mix[1]);
        int expected = dialog ? answer : (askBroken && askMoved && !(f & FLAG_ONLY_OLDER)) ? 0 : 1;
        SCOPED_TRACE("flags " + std::to_string(f) + " mix " + std::to_string(mix[0]) +
                     std::to_string(mix[1]) + std::to_string(mix[2]));
        EXPECT_EQ(shown_, dialog ? 1 : 0);
        EXPECT_EQ(result, expected);
        int32_t brokenAction = (f & FLAG_BROKEN_SHIFT)    ? ACTION_SHIFT
                               : (f & FLAG_BROKEN_DELETE) ? ACTION_DELETE
                                                          : ACTION_LEAVE;
        if (broken) {
          EXPECT_EQ(broken->action, brokenAction);
        }
        if (invalid) {
          EXPECT_EQ(invalid->action, brokenAction);
        }
        if (moved) {
          EXPECT_EQ(moved->action, (f & FLAG_MOVED_UPDATE) ? ACTION_UPDATE : ACTION_LEAVE);
        }
      }
    }
  }
}

TEST_F(ReportResultsTest, AnythingButOkFromThePresenterSavesNothing) {
  record_.flags = FLAG_BROKEN_ASK;
  Link(tree_, "b", "http://b/", 2, CHECK_NOT_FOUND);
  UsePresenter();
  answer_ = -1;  // a dialog that could not be shown
  EXPECT_EQ(ReportResults(nullptr, tree_, 1), 0);
}

TEST_F(ReportResultsTest, SetActionsByGroup) {
  LinkEntry* nf = Link(tree_, "nf", "http://1/", 2, CHECK_NOT_FOUND);
  LinkEntry* fb = Link(tree_, "fb", "http://2/", 2, CHECK_FORBIDDEN);
  LinkEntry* folder = Folder(tree_, "f", 2);
  LinkEntry* ih = Link(folder->children, "ih", "http://3/", 1, CHECK_INVALID_HOST);
  LinkEntry* mv = Link(folder->children, "mv", "http://4/", 1, CHECK_MOVED);
  LinkEntry* ok = Link(tree_, "ok", "http://5/", 1, 500);
  ok->action = ACTION_UPDATE;

  SetActions(GROUP_NOT_FOUND, ACTION_SHIFT, tree_);
  for (LinkEntry* e : {nf, fb, ih}) EXPECT_EQ(e->action, ACTION_SHIFT);
  EXPECT_EQ(mv->action, ACTION_LEAVE);
  SetActions(GROUP_MOVED, ACTION_UPDATE, tree_);
  EXPECT_EQ(mv->action, ACTION_UPDATE);
  EXPECT_EQ(nf->action, ACTION_SHIFT);

  record_.flags = FLAG_BROKEN_DELETE;
  SetActions(GROUP_DEFAULTS, 0, tree_);
  for (LinkEntry* e : {nf, fb, ih}) EXPECT_EQ(e->action, ACTION_DELETE);
  EXPECT_EQ(mv->action, ACTION_LEAVE);
  EXPECT_EQ(ok->action, ACTION_UPDATE);
  EXPECT_EQ(folder->action, ACTION_LEAVE);
}

TEST_F(ReportResultsTest, CertificateProblemsAreLeftAloneUnlessTheUserChooses) {
  LinkEntry* cert = Link(tree_, "c", "https://c/", SOURCE_BOOKMARKS, CHECK_CERTIFICATE);
  LinkEntry* broken = Link(tree_, "b", "http://b/", SOURCE_BOOKMARKS, CHECK_NOT_FOUND);
  struct Case {
    uint32_t flags;
    int shown;        // the dialog was asked for
    int32_t action;   // the certificate link's action afterwards
    const char* log;  // the summary
  } cases[] = {
      {FLAG_BROKEN_DELETE, 0, ACTION_LEAVE,
       "Found 1 broken link (Status 404), 0 moved links (Status 301),\r\nand 0 invalid hosts (1 "
       "in total). 50% of your links don't work.\r\n\r\nFound 1 link with a certificate "
       "problem (the page may still be there): it is left as it is unless you choose "
       "otherwise.\r\n\r\n"},
      {FLAG_BROKEN_SHIFT, 0, ACTION_LEAVE, nullptr},
      {FLAG_BROKEN_ASK, 1, ACTION_LEAVE, nullptr},
  };
  UsePresenter();
  for (auto& c : cases) {
    HeadlessMainWindow main;
    record_.flags = c.flags;
    cert->action = ACTION_DELETE;
    shown_ = 0;
    EXPECT_EQ(ReportResults(main.window, tree_, 2), 1);
    EXPECT_EQ(shown_, c.shown);
    EXPECT_EQ(cert->action, c.action);
    if (c.log) {
      EXPECT_EQ(main.log(), c.log);
    }
  }
  SetActions(GROUP_NOT_FOUND, ACTION_DELETE, tree_);  // "all broken links" in the dialog
  EXPECT_EQ(cert->action, ACTION_LEAVE);
  EXPECT_EQ(broken->action, ACTION_DELETE);

  // Certificate problems alone: no claim that everything works, and the dialog still asks.
  broken->unlink();
  delete broken;
  HeadlessMainWindow main;
  record_.flags = FLAG_BROKEN_ASK;
  shown_ = 0;
  ReportResults(main.window, tree_, 1);
  EXPECT_EQ(shown_, 1);
  EXPECT_EQ(main.log().find("All your links"), std::string::npos);
  EXPECT_NE(main.log().find("Found 1 link with a certificate problem"), std::string::npos);
}

TEST_F(ReportResultsTest, TwinsInOtherLetterCaseMergeIntoTheBookmark) {
  HeadlessMainWindow main;
  record_.flags = FLAG_SYNCHRONISE;
  LinkEntry* book = Link(tree_, "News", "http://Example.com/", SOURCE_BOOKMARKS, CHECK_NOT_FOUND);
  LinkEntry* fav = Folder(tree_, "Links", SOURCE_FAVORITES);
  Link(fav->children, "NEWS", "HTTP://EXAMPLE.COM/", SOURCE_FAVORITES, CHECK_NOT_FOUND);
  Link(fav->children, "News", "http://other/", SOURCE_FAVORITES);
  ReportResults(main.window, tree_, 3);
  EXPECT_EQ(Shape(tree_), "News:3 Links:3[News:3]");
  EXPECT_EQ(LinkEntry::of(tree_.head()), book);
  EXPECT_EQ(main.log().rfind("Synchronising bookmarks and favorites...\r\n\r\nFound 1 broken", 0),
            0u);
}

TEST_F(ReportResultsTest, TwinRightAfterThePartnersFolderIsRemovedWithoutLosingThePlace) {
  LinkEntry* outer = Folder(tree_, "Outer", SOURCE_BOOKMARKS);
  LinkEntry* inner = Folder(outer->children, "Inner", SOURCE_BOOKMARKS);
  Link(inner->children, "Page", "http://p/", SOURCE_BOOKMARKS);
  Link(outer->children, "Page", "http://p/", SOURCE_FAVORITES);  // right after Inner
  Link(tree_, "Page", "http://p/", SOURCE_FAVORITES);            // right after Outer
  Link(tree_, "Last", "http://l/", SOURCE_BOOKMARKS);
  Synchronise(tree_, tree_, SOURCE_BOOKMARKS);
  EXPECT_EQ(Shape(tree_), "Outer:3[Inner:3[Page:3]] Page:1 Last:3");
  Synchronise(tree_, tree_, SOURCE_FAVORITES);
  EXPECT_EQ(Shape(tree_), "Outer:3[Inner:3[Page:3]] Page:3 Last:3");
}

TEST_F(ReportResultsTest, SynchronisationKeepsDifferentAddressesAndNamelessEntries) {
  Link(tree_, "Same", "http://one/", SOURCE_BOOKMARKS);
  Link(tree_, "Same", "http://two/", SOURCE_FAVORITES);
  Separator(tree_, SOURCE_BOOKMARKS);
  Separator(tree_, SOURCE_FAVORITES);
  Folder(tree_, "Empty", SOURCE_BOOKMARKS);
  Folder(tree_, "Empty", SOURCE_FAVORITES);
  Link(tree_, "Twice", "http://t/", SOURCE_BOOKMARKS);
  Link(tree_, "Twice", "http://t/", SOURCE_BOOKMARKS);
  Link(tree_, "Twice", "http://t/", SOURCE_FAVORITES);
  Link(tree_, "Both", "http://b/", BOTH);
  Link(tree_, "Both", "http://b/", SOURCE_FAVORITES);
  Synchronise(tree_, tree_, SOURCE_BOOKMARKS);
  Synchronise(tree_, tree_, SOURCE_FAVORITES);
  // One Favorites twin goes with the first bookmark; an entry of both stores is no partner.
  EXPECT_EQ(Shape(tree_), "Same:3 Same:3 -:3 -:3 Empty:3 Empty:3 Twice:3 Twice:3 Both:3 Both:3");
}

TEST_F(ReportResultsTest, ATwinsShortcutFileGoesToTheBookmarkThatSurvives) {
  struct Case {
    const char* bookmark;   // the bookmark's name, at the top level
    const char* directory;  // where the Favorites twin's file lies ("" for the top level)
    const char* file;       // its file name (its title is the name without ".url")
    const char* survivors;  // the tree after synchronising
    const char* takenFile;  // the bookmark's shortcut file afterwards
    bool elsewhere;
  };
  const Case cases[] = {
      // Names that give the same file name are twins, in either direction.
      {"Bm: Top | Site.com", "", "Bm Top  Sitecom.url", "Bm: Top | Site.com:3",
       "Bm Top  Sitecom.url", false},
      {"x:y", "", "x.y.url", "x:y:3", "x.y.url", false},
      {"NEWS", "", "news.url", "NEWS:3", "news.url", false},
      // The twin's file stays where it is, in its own directory.
      {"x.y", "Sub/Deeper", "x.y.url", "x.y:3 Sub:3[Deeper:3]", "x.y.url", true},
      // Names that give other files are no twins.
      {"x-y", "", "x.y.url", "x-y:3 x.y:3", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bookmark);
    FreeTree(tree_);
    LinkEntry* book = Link(tree_, c.bookmark, "http://same/", SOURCE_BOOKMARKS);
    NodeList* list = &tree_;
    std::string directory = c.directory;
    for (size_t at = 0; !directory.empty() && at != std::string::npos;) {
      size_t slash = directory.find('/', at);
      std::string name = directory.substr(at, slash == std::string::npos ? slash : slash - at);
      LinkEntry* folder = Folder(*list, name.c_str(), SOURCE_FAVORITES);
      folder->shortcutFile.assign(name.c_str());
      list = &folder->children;
      at = slash == std::string::npos ? slash : slash + 1;
    }
    std::string title(c.file, std::strlen(c.file) - 4);
    LinkEntry* twin = Link(*list, title.c_str(), "HTTP://SAME/", SOURCE_FAVORITES);
    twin->shortcutFile.assign(c.file);
    twin->shortcutTitle.assign(title.c_str());
    Synchronise(tree_, tree_, SOURCE_BOOKMARKS);
    Synchronise(tree_, tree_, SOURCE_FAVORITES);
    EXPECT_EQ(Shape(tree_), c.survivors);
    EXPECT_STREQ(book->shortcutFile.c_str(), c.takenFile);
    EXPECT_EQ(book->shortcutElsewhere, c.elsewhere);
    EXPECT_STREQ(book->shortcutDirectory.c_str(), c.elsewhere ? c.directory : "");
    // The file now stands for the bookmark's own name: it is not taken for renamed.
    if (*c.takenFile) {
      EXPECT_STREQ(book->shortcutTitle.c_str(), c.bookmark);
    }
  }
}

TEST_F(ReportResultsTest, FindCounterpartTakesTheFirstInDepthFirstOrder) {
  LinkEntry* book = Link(tree_, "X", "http://x/", SOURCE_BOOKMARKS);
  LinkEntry* folder = Folder(tree_, "F", SOURCE_FAVORITES);
  LinkEntry* first = Link(folder->children, "x", "http://X/", SOURCE_FAVORITES);
  Link(tree_, "X", "http://x/", SOURCE_FAVORITES);
  EXPECT_EQ(FindCounterpart(tree_, *book, SOURCE_BOOKMARKS), first);
  EXPECT_EQ(FindCounterpart(tree_, *first, SOURCE_FAVORITES), book);
  LinkEntry nameless;
  nameless.url.assign("http://x/");
  EXPECT_EQ(FindCounterpart(tree_, nameless, SOURCE_BOOKMARKS), nullptr);
}

TEST_F(ReportResultsTest, DeepTreesAreWalkedWithoutRecursion) {
  constexpr int kDepth = 200000;
  NodeList* list = &tree_;
  for (int i = 0; i < kDepth; ++i) list = &Folder(*list, "d", SOURCE_BOOKMARKS)->children;
  Link(*list, "deep", "http://deep/", SOURCE_BOOKMARKS, CHECK_NOT_FOUND);
  Link(tree_, "deep", "http://deep/", SOURCE_FAVORITES, CHECK_NOT_FOUND);
  record_.flags = FLAG_SYNCHRONISE | FLAG_BROKEN_SHIFT;
  EXPECT_EQ(ReportResults(nullptr, tree_, 2), 1);
  int32_t broken = 0, moved = 0, invalid = 0;
  CountProblems(tree_, broken, moved, invalid);
  EXPECT_EQ(broken, 1);  // the Favorites twin was removed
  EXPECT_EQ(LinkEntry::of(list->head())->action, ACTION_SHIFT);
}

}  // namespace

namespace {

TEST_F(ReportResultsTest, TheResultsDialogDecidesWhenTheSettingsAsk) {
  HeadlessMainWindow main;
  record_.flags = FLAG_BROKEN_ASK | FLAG_MOVED_ASK;
  Link(tree_, "b", "http://b/", SOURCE_BOOKMARKS, CHECK_NOT_FOUND);
  main.ui.setDialogHandler(103, [](HeadlessWindow& dialog) { dialog.click(ID_OK); });
  EXPECT_EQ(ReportResults(main.window, tree_, 1), 1);
  main.ui.setDialogHandler(103, [](HeadlessWindow& dialog) { dialog.click(ID_CANCEL); });
  EXPECT_EQ(ReportResults(main.window, tree_, 1), 0);
  main.ui.setDialogHandler(103, [](HeadlessWindow& dialog) { dialog.close(); });
  EXPECT_EQ(ReportResults(main.window, tree_, 1), 0);
}

}  // namespace
