#include "stores/chromium_store.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "results/apply_actions.h"
#include "results/report_results.h"
#include "stores/bookmark_store.h"
#include "stores/read_stores.h"
#include "support/chromium_files.h"
#include "support/headless_fixture.h"
#include "support/scratch_dir.h"
#include "support/tree_find.h"
#include "tree/settings.h"

namespace {

using chromium_files::Json;
using chromium_files::Style;

// A file small enough to work its checksum out by hand: MD5 over "1", "Bookmarks bar" in
// UTF-16LE, "folder", "5", the link's name in UTF-16LE (with a surrogate pair), "url", its
// address, "6", "Empty", "folder", then the other two roots. Python's hashlib gave the digests.
const char kSmallFile[] = R"({
   "checksum": "dcee1683917305cb1af95e4a41784e52",
   "roots": {
      "bookmark_bar": { "children": [ { "id": "5", "name": "Caf\u00e9 \ud83d\ude00", "type": "url",
            "url": "https://a.example/", "date_added": "13300000000000000" },
            { "children": [], "id": "6", "name": "Empty", "type": "folder" } ],
         "id": "1", "name": "Bookmarks bar", "type": "folder" },
      "other": { "children": [], "id": "2", "name": "Other bookmarks", "type": "folder" },
      "synced": { "children": [], "id": "3", "name": "Mobile bookmarks", "type": "folder" }
   },
   "version": 1
})";
const char kSmallMd5[] = "dcee1683917305cb1af95e4a41784e52";

std::string Describe(const NodeList& list) {
  std::string out;
  for (Node* n = list.head(); n->next; n = n->next) {
    LinkEntry* e = LinkEntry::of(n);
    if (!out.empty()) out += ' ';
    out += e->name ? e->name : "-";
    if (e->isFolder()) out += "(" + Describe(e->children) + ")";
  }
  return out;
}

const Json* FindById(const Json& node, const std::string& id) {
  if (node.is_object()) {
    auto it = node.find("id");
    if (it != node.end() && *it == id && node.contains("type")) return &node;
  }
  if (node.is_structured())
    for (const Json& child : node)
      if (const Json* found = FindById(child, id)) return found;
  return nullptr;
}

void CollectIds(const Json& node, std::set<std::string>& ids) {
  if (node.is_object() && node.contains("type") && node.contains("id"))
    ids.insert(node["id"].get<std::string>());
  if (node.is_structured())
    for (const Json& child : node) CollectIds(child, ids);
}

class ChromiumStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = settings;
    settings = &record_;
    record_.flags = FLAG_CLEAN_BOOKMARKS;
    path_ = dir_ / "Default/Bookmarks";
    record_.bookmarkFile.assign(path_.c_str());
  }
  void TearDown() override {
    FreeTree(tree_);
    ReleaseBookmarkStore();
    settings = saved_;
  }
  bool read(const std::string& text) {
    dir_.write("Default/Bookmarks", text);
    FreeTree(tree_);
    links_ = 0;
    return ReadBookmarkStore(window_.window, tree_, links_);
  }

  Settings record_;
  Settings* saved_ = nullptr;
  ScratchDir dir_;
  std::string path_;
  HeadlessMainWindow window_;
  NodeList tree_;
  int32_t links_ = 0;
};

TEST_F(ChromiumStoreTest, ChecksumIsTheOneWorkedOutByHand) {
  EXPECT_EQ(ChromiumChecksumOf(kSmallFile), kSmallMd5);
  ASSERT_TRUE(read(kSmallFile));
  EXPECT_EQ(window_.log().find("checksum"), std::string::npos);  // it matched
  // A change: the save computes the checksum over what it writes.
  LinkEntry::of(FindByName(tree_, "Caf\xC3\xA9 \xF0\x9F\x98\x80"))->action = ACTION_DELETE;
  ASSERT_EQ(WriteBookmarkStore(window_.window, tree_), StoreSave::Saved);
  std::string written = dir_.read("Default/Bookmarks");
  Json json = Json::parse(written);
  EXPECT_EQ(json["checksum"], ChromiumChecksumOf(written));
  EXPECT_NE(json["checksum"], kSmallMd5);
  EXPECT_EQ(dir_.read("Default/Bookmarks.bak"), kSmallFile);
}

TEST_F(ChromiumStoreTest, RootsBecomeFoldersAndDatesMapExactly) {
  for (Style style : {Style::Chrome, Style::Edge, Style::Brave}) {
    ASSERT_TRUE(read(chromium_files::Profile(style).dump(3)));
    std::string customRoot = style == Style::Brave ? " Custom(Custom link)" : "";
    EXPECT_EQ(
        Describe(tree_),
        "Bookmarks bar(Caf\xC3\xA9 \xF0\x9F\x98\x80 home Empty() News \xE6\x96\xB0\xE9\x97\xBB"
        "(Gone Moved)) Other bookmarks(Other link Broken Links(Old)) Mobile bookmarks()" +
            customRoot);
    EXPECT_EQ(links_, style == Style::Brave ? 5 : 4);  // "Broken Links" not counted
    LinkEntry* home = FindByName(tree_, "Caf\xC3\xA9 \xF0\x9F\x98\x80 home");
    ASSERT_TRUE(home);
    EXPECT_EQ(home->addDate, 13300000000LL - kSecondsFrom1601To1970);
    EXPECT_EQ(home->lastVisit, 13320000000LL - kSecondsFrom1601To1970);
    EXPECT_EQ(FindByName(tree_, "Empty")->lastModified, 13300000001LL - kSecondsFrom1601To1970);
    EXPECT_NE(window_.log().find("checksum does not match"), std::string::npos);
  }
}

TEST_F(ChromiumStoreTest, AgeTestTakesTheLaterOfLastUseAndCheckDate) {
  struct Case {
    const char* used;
    const char* checked;  // null: no meta_info entry
    TimeValue visit;
  } cases[] = {
      {"0", nullptr, 0},
      {"13320000000000000", nullptr, 13320000000LL - kSecondsFrom1601To1970},
      {"13320000000000000", "13330000000999999", 13330000000LL - kSecondsFrom1601To1970},
      {"13340000000000000", "13330000000000000", 13340000000LL - kSecondsFrom1601To1970},
      {"not a date", "-5", 0},
  };
  for (const Case& c : cases) {
    Json file = chromium_files::Profile(Style::Chrome);
    Json& link = file["roots"]["other"]["children"][0];
    link["date_last_used"] = c.used;
    if (c.checked) link["meta_info"][kCheckDateKey] = c.checked;
    ASSERT_TRUE(read(file.dump()));
    EXPECT_EQ(FindByName(tree_, "Other link")->lastVisit, c.visit) << c.used;
  }
  EXPECT_EQ(ChromiumDateToTime(TimeToChromiumDate(1700000000)), 1700000000);
}

// With nothing to change the file is not touched; with changes, every node the run did not
// change is written back key by key, in order, and the checksum is the browser's.
TEST_F(ChromiumStoreTest, RoundTripKeepsEverythingItDoesNotChange) {
  for (Style style : {Style::Chrome, Style::Edge, Style::Brave}) {
    Json original = chromium_files::Profile(style);
    std::string text = original.dump(3);
    std::filesystem::remove(dir_ / "Default/Bookmarks.bak");
    ASSERT_TRUE(read(text));
    ASSERT_EQ(WriteBookmarkStore(window_.window, tree_), StoreSave::Saved);
    EXPECT_FALSE(dir_.exists("Default/Bookmarks.bak"));
    EXPECT_EQ(dir_.read("Default/Bookmarks"), text);

    // A run: "Gone" deleted, "Moved" updated, "Other link" shifted into "Broken Links".
    ASSERT_TRUE(read(text));
    LinkEntry* gone = FindByName(tree_, "Gone");
    gone->checkResult = CHECK_NOT_FOUND;
    gone->action = ACTION_DELETE;
    LinkEntry* moved = FindByName(tree_, "Moved");
    moved->checkResult = CHECK_MOVED;
    moved->action = ACTION_UPDATE;
    moved->newUrl.assign("https://b.example/new");
    LinkEntry* shifted = FindByName(tree_, "Other link");
    shifted->checkResult = CHECK_NOT_FOUND;
    shifted->action = ACTION_SHIFT;
    ApplyActions(window_.window, tree_);
    EXPECT_EQ(window_.log().find("failed"), std::string::npos) << window_.log();

    std::string written = dir_.read("Default/Bookmarks");
    Json out = Json::parse(written);
    EXPECT_EQ(dir_.read("Default/Bookmarks.bak"), text);
    // The top level: same keys in the same order, the checksums recomputed.
    ASSERT_EQ(out.size(), original.size());
    for (auto a = original.begin(), b = out.begin(); a != original.end(); ++a, ++b) {
      ASSERT_EQ(a.key(), b.key());
      if (a.key() == "checksum") {
        EXPECT_EQ(*b, ChromiumChecksumOf(written));
      } else if (a.key() == "checksum_sha256") {
        EXPECT_EQ(b->get<std::string>().size(), 64u);
      } else if (a.key() != "roots") {
        EXPECT_EQ(*a, *b) << a.key();
      }
    }
    // Every node: unchanged ones equal key by key in order (children compared separately).
    std::set<std::string> ids;
    CollectIds(original, ids);
    for (const std::string& id : ids) {
      const Json* before = FindById(original, id);
      const Json* after = FindById(out, id);
      if (id == "8") {
        EXPECT_EQ(after, nullptr);
        continue;
      }
      ASSERT_TRUE(after) << id;
      Json expected = *before, actual = *after;
      if (id == "9") expected["url"] = "https://b.example/new";
      expected.erase("children");
      actual.erase("children");
      EXPECT_EQ(expected.dump(), actual.dump()) << id;
    }
    const Json& broken = *FindById(out, "11");
    ASSERT_EQ(broken["children"].size(), 2u);
    EXPECT_EQ(broken["children"][1]["id"], "10");
    EXPECT_EQ((*FindById(out, "2"))["children"].size(), 1u);
  }
}

// A name the writer has to add moves the node's other members: the nested records below it
// must be written before that, or they point into freed memory (AddressSanitizer sees it).
TEST_F(ChromiumStoreTest, AFolderWithoutANameGetsOneAfterItsChildrenAreWritten) {
  const char text[] = R"({"roots": {
      "bookmark_bar": { "children": [ { "children": [ { "id": "7", "name": "Inner",
            "type": "folder", "children": [ { "id": "8", "name": "x", "type": "url",
            "url": "http://x.example/" } ] } ], "id": "6", "type": "folder" } ],
         "id": "1", "name": "Bookmarks bar", "type": "folder" },
      "other": { "children": [], "id": "2", "name": "Other bookmarks", "type": "folder" },
      "synced": { "children": [], "id": "3", "name": "Mobile bookmarks", "type": "folder" } },
   "version": 1})";
  ASSERT_TRUE(read(text));
  ASSERT_EQ(WriteBookmarkStore(window_.window, tree_), StoreSave::Saved);
  Json out = Json::parse(dir_.read("Default/Bookmarks"));
  const Json& folder = *FindById(out, "6");
  EXPECT_EQ(folder["name"], "");
  ASSERT_EQ(folder["children"].size(), 1u);
  EXPECT_EQ(folder["children"][0]["children"][0]["url"], "http://x.example/");
}

TEST_F(ChromiumStoreTest, NewEntriesGetFreshIdsAndGuids) {
  Json original = chromium_files::Profile(Style::Brave);  // ids up to 13
  ASSERT_TRUE(read(original.dump()));
  LinkEntry* folder = new LinkEntry("Synchronised", nullptr, 0);
  folder->source = SOURCE_BOOKMARKS | SOURCE_FAVORITES;
  folder->children.addTail(new LinkEntry("From favorites", "http://c.example/", 1600000000));
  tree_.addTail(folder);
  LinkEntry* copy = new LinkEntry(*FindByName(tree_, "Gone"));  // a second use of a record
  FindByName(tree_, "Empty")->children.addTail(copy);
  ASSERT_EQ(WriteBookmarkStore(window_.window, tree_), StoreSave::Saved);
  Json out = Json::parse(dir_.read("Default/Bookmarks"));
  const Json& other = out["roots"]["other"]["children"];
  ASSERT_EQ(other.size(), 3u);
  const Json& added = other[2];
  EXPECT_EQ(added["name"], "Synchronised");
  EXPECT_EQ(added["children"][0]["url"], "http://c.example/");
  EXPECT_EQ(added["children"][0]["date_added"], TimeToChromiumDate(1600000000));
  // The record's second use is written as a new entry; the first keeps the id.
  const Json& inEmpty = (*FindById(out, "6"))["children"][0];
  const Json& inNews = (*FindById(out, "7"))["children"][0];
  EXPECT_EQ(inEmpty["name"], "Gone");
  EXPECT_EQ(inNews["name"], "Gone");
  const Json& again = inEmpty["id"] == "8" ? inNews : inEmpty;
  std::set<std::string> ids, guids;
  std::regex v4("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
  for (const Json* node : {&added, &added["children"][0], &again}) {
    EXPECT_GT(std::stoi((*node)["id"].get<std::string>()), 13);
    ids.insert((*node)["id"]);
    guids.insert((*node)["guid"]);
    EXPECT_TRUE(std::regex_match((*node)["guid"].get<std::string>(), v4)) << (*node)["guid"];
  }
  EXPECT_EQ(ids.size(), 3u);
  EXPECT_EQ(guids.size(), 3u);
  EXPECT_TRUE(FindById(out, "8"));
}

TEST_F(ChromiumStoreTest, CheckDatesAreOursAndWrittenOnlyWithTheAgeLimit) {
  const TimeValue checked = 1750000000;
  for (bool ageLimit : {false, true}) {
    record_.flags = FLAG_CLEAN_BOOKMARKS | (ageLimit ? FLAG_ONLY_OLDER : 0);
    std::string text = chromium_files::Profile(Style::Chrome).dump(3);
    ASSERT_TRUE(read(text));
    FindByName(tree_, "Caf\xC3\xA9 \xF0\x9F\x98\x80 home")->lastVisit = checked;  // has meta_info
    FindByName(tree_, "Old")->lastVisit = checked;
    ASSERT_EQ(WriteBookmarkStore(window_.window, tree_), StoreSave::Saved);
    std::string written = dir_.read("Default/Bookmarks");
    if (!ageLimit) {
      EXPECT_EQ(written, text);
      continue;
    }
    Json out = Json::parse(written);
    const Json& home = *FindById(out, "5");
    EXPECT_EQ(home["date_last_used"], "13320000000000000");
    EXPECT_EQ(home["meta_info"].begin().key(), "last_visited_desktop");
    EXPECT_EQ(home["meta_info"][kCheckDateKey], TimeToChromiumDate(checked));
    // Reading it back gives the check date as the age test's date.
    ASSERT_TRUE(read(written));
    EXPECT_EQ(FindByName(tree_, "Old")->lastVisit, checked);
  }
}

TEST_F(ChromiumStoreTest, FilesItCannotUnderstandAreRefusedAndNeverOverwritten) {
  std::string good = chromium_files::Profile(Style::Chrome).dump(3);
  auto with = [](auto change) {
    Json file = chromium_files::Profile(Style::Chrome);
    change(file);
    return file.dump(3);
  };
  std::string deep =
      "{\"roots\":{\"bookmark_bar\":" + std::string(100000, '[') + std::string(100000, ']') + "}}";
  // About 50 MB (5 MB under the sanitizers, whose memory use would grow past what a CI
  // machine has): a readable file, however large, is read.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  constexpr int kBigLinks = 10000;
#else
  constexpr int kBigLinks = 100000;
#endif
  std::string big = good;
  std::string links;
  for (int i = 0; i < kBigLinks; ++i)
    links += "{\"id\":\"" + std::to_string(100 + i) + "\",\"name\":\"" + std::string(400, 'x') +
             "\",\"type\":\"url\",\"url\":\"http://x/\"},";
  big.insert(big.find("[", big.find("\"other\"")) + 1, links);
  struct Case {
    const char* what;
    std::string text;
    bool readable;
  } cases[] = {
      {"cut short", good.substr(0, good.size() / 2), false},
      {"trailing comma", "{\"roots\": {},}", false},
      {"not UTF-8", std::string(good).replace(good.find("Other link"), 1, "\xFF"), false},
      {"no roots", "{\"version\": 1}", false},
      {"a root missing", with([](Json& f) { f["roots"].erase("synced"); }), false},
      {"duplicate ids", with([](Json& f) { f["roots"]["other"]["children"][0]["id"] = "5"; }),
       false},
      {"node without type", with([](Json& f) { f["roots"]["other"]["children"][0].erase("type"); }),
       false},
      {"url node with children",
       with([](Json& f) { f["roots"]["other"]["children"][0]["children"] = Json::array(); }),
       false},
      {"number for a name", with([](Json& f) { f["roots"]["other"]["children"][0]["name"] = 5; }),
       false},
      {"number for a date",
       with([](Json& f) { f["roots"]["other"]["children"][0]["date_added"] = 13300000000000000; }),
       false},
      {"100,000 levels deep", deep, false},
      {"wrong checksum", good, true},
      {"a large file", big, true},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(read(c.text), c.readable) << c.what;
    if (c.readable) continue;
    EXPECT_NE(window_.log().find("cannot be read: "), std::string::npos) << c.what;
    // The reader gave no tree, and even a save asked for leaves the file alone.
    EXPECT_TRUE(tree_.isEmpty()) << c.what;
    EXPECT_EQ(WriteBookmarkStore(window_.window, tree_), StoreSave::Failed) << c.what;
    EXPECT_EQ(dir_.read("Default/Bookmarks"), c.text) << c.what;
  }
}

}  // namespace
