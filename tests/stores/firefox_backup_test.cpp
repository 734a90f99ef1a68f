#include "stores/firefox_backup.h"

#include <gtest/gtest.h>
#include <lz4.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "results/apply_actions.h"
#include "stores/firefox_places.h"
#include "support/places_fixture.h"
#include "support/scratch_dir.h"
#include "support/tree_find.h"
#include "tree/settings.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// The pattern Firefox matches backup file names against before it lists them.
const std::regex kFirefoxBackupName(
    R"(^bookmarks-([0-9-]+)(?:_([0-9]+)){0,1}(?:_([a-z0-9=_+-]{24,})){0,1}\.(json(lz4)?)$)",
    std::regex::icase);

std::string Escaped(const std::string& text) {
  std::string out;
  AppendJsonString(out, text.data(), text.size());
  return out;
}

TEST(FirefoxBackupFormat, TextIsEscapedAsFirefoxDoesAndAlwaysUtf8) {
  struct Case {
    std::string in, out;
  };
  const std::vector<Case> cases = {
      {"plain", "\"plain\""},
      {"a\"b\\c/d", "\"a\\\"b\\\\c/d\""},
      {"\t\n\r\b\f", "\"\\t\\n\\r\\b\\f\""},
      {std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\x7f\""},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
       "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""},
      {"caf\xE9 \x80", "\"caf\xC3\xA9 \xE2\x82\xAC\""},  // Windows-1252 bytes
      {"\xC0\xAF\xED\xA0\x80",
       "\"\xC3\x80\xC2\xAF\xC3\xAD\xC2\xA0\xE2\x82\xAC\""},  // overlong, surrogate
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Escaped(c.in), c.out) << c.in;
    EXPECT_TRUE(json::accept(Escaped(c.in)));
  }
}

TEST(FirefoxBackupFormat, MozLz4FramesRoundTripAndDamageIsRefused) {
  std::string text = R"({"guid":"root________","children":[)";
  for (int i = 0; i < 2000; ++i) text += R"({"title":"x","uri":"https://example.com/"},)";
  text += "{}]}";
  std::string packed;
  ASSERT_TRUE(CompressMozLz4(text, packed));
  EXPECT_EQ(packed.compare(0, 8, std::string("mozLz40\0", 8)), 0);
  uint32_t size = 0;
  std::memcpy(&size, packed.data() + 8, 4);  // little endian on the machines we build for
  EXPECT_EQ(size, text.size());
  EXPECT_LT(packed.size(), text.size() / 10);
  // An independent decoder of the block agrees.
  std::string plain(text.size(), '\0');
  EXPECT_EQ(LZ4_decompress_safe(packed.data() + 12, plain.data(),
                                static_cast<int>(packed.size() - 12), static_cast<int>(size)),
            static_cast<int>(text.size()));
  EXPECT_EQ(plain, text);

  std::string back;
  ASSERT_TRUE(DecompressMozLz4(packed, back));
  EXPECT_EQ(back, text);
  std::string badMagic = packed, badSize = packed, huge = packed;
  badMagic[3] = 'l';
  badSize[8] = static_cast<char>(badSize[8] + 1);
  huge[11] = '\x7f';
  for (const std::string& bad :
       {badMagic, badSize, huge, packed.substr(0, packed.size() - 5), packed.substr(0, 10)}) {
    EXPECT_FALSE(DecompressMozLz4(bad, back));
    EXPECT_TRUE(back.empty());
  }
}

TEST(FirefoxBackupFormat, NameIsListedByFirefoxAndDatedByTheLocalCalendar) {
  std::string hash = BackupContentHash("{}");
  EXPECT_EQ(hash.size(), 44u);
  EXPECT_EQ(hash, "RBNvo1WzZ4oRRq0W9-hknpT7T8If536DEMBg9hyq_4o=");  // SHA-256 of "{}"
  // 2026-12-08 23:30 UTC is already the 9th east of Greenwich and still the 8th west of it.
  std::time_t instant = 1796772600;
  struct Zone {
    const char* tz;
    const char* date;
  };
  const char* saved = std::getenv("TZ");
  std::string old = saved ? saved : "";
  for (Zone z :
       {Zone{"UTC0", "2026-12-08"}, Zone{"CET-1", "2026-12-09"}, Zone{"EST5", "2026-12-08"}}) {
    setenv("TZ", z.tz, 1);
    tzset();
    std::string name = BackupFileName(instant, 1234, hash);
    EXPECT_EQ(name, std::string("bookmarks-") + z.date + "_1234_" + hash + ".jsonlz4");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(name, m, kFirefoxBackupName)) << name;
    EXPECT_EQ(m[1], z.date);
    EXPECT_EQ(m[2], "1234");
    EXPECT_EQ(m[3], hash);
  }
  if (saved)
    setenv("TZ", old.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

// The items of a backup by GUID, each without its children and index (which the cleaning
// changes for the items around a removed one).
std::map<std::string, json> ItemsByGuid(const json& node) {
  std::map<std::string, json> items;
  std::vector<const json*> stack{&node};
  while (!stack.empty()) {
    const json* n = stack.back();
    stack.pop_back();
    json item = *n;
    item.erase("children");
    item.erase("index");
    if (n->contains("guid")) items[(*n)["guid"]] = item;
    if (n->contains("children"))
      for (const json& c : (*n)["children"]) stack.push_back(&c);
  }
  return items;
}

class FirefoxBackupWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    settings = &record_;
    record_.flags = FLAG_CLEAN_BOOKMARKS;
    PlacesFixture db(dir_ / "places.sqlite");
    int64_t dev = db.folder(PlacesFixture::kMenu, "Dev");
    db.bookmark(dev, "Gone", "https://gone.example/");
    db.separator(dev);
    db.bookmark(dev, "Moved", "https://moved.example/");
    db.bookmark(dev, "Broken", "https://broken.example/");
    db.bookmark(PlacesFixture::kToolbar, "Kept", "https://kept.example/");
    db.tag("https://broken.example/", "work");
    db.keyword("https://moved.example/", "mv", nullptr);
  }
  void TearDown() override {
    FreeTree(tree_);
    settings = nullptr;
  }

  void read() {
    int32_t links = 0;
    PlacesReadResult r = ReadPlacesDatabase(dir_ / "places.sqlite", false, tree_, links);
    ASSERT_EQ(r.error, PlacesError::None) << r.message;
  }
  std::vector<std::string> backups() const {
    std::vector<std::string> names;
    std::error_code e;
    for (const auto& f : fs::directory_iterator(dir_ / "bookmarkbackups", e))
      names.push_back(f.path().filename().string());
    return names;
  }
  json written(const BackupResult& r) const {
    std::string packed, text;
    packed = ScratchRead(r.path);
    EXPECT_TRUE(DecompressMozLz4(packed, text));
    return json::parse(text);
  }
  static std::string ScratchRead(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  Settings record_;
  ScratchDir dir_;
  NodeList tree_;
};

TEST_F(FirefoxBackupWrite, NothingChangedWritesNothing) {
  read();
  BackupResult r = WriteFirefoxBackup(tree_, std::time(nullptr));
  EXPECT_EQ(r.outcome, BackupOutcome::Unchanged);
  EXPECT_TRUE(backups().empty());
  EXPECT_NE(FirefoxBackupAdvice(r).find("no backup was written"), std::string::npos);
}

TEST_F(FirefoxBackupWrite, CleanedTreeKeepsEveryOtherItemExactlyAsRead) {
  read();
  int64_t count = 0;
  std::string before;
  FormatFirefoxBackup(tree_, FirefoxState().rootMembers, before, count);
  std::map<std::string, json> asRead = ItemsByGuid(json::parse(before));

  LinkEntry* gone = FindByName(tree_, "Gone");
  LinkEntry* moved = FindByName(tree_, "Moved");
  LinkEntry* broken = FindByName(tree_, "Broken");
  gone->checkResult = CHECK_NOT_FOUND;
  gone->action = ACTION_DELETE;
  moved->checkResult = CHECK_MOVED;
  moved->action = ACTION_UPDATE;
  moved->newUrl.assign("https://new.example/");
  broken->checkResult = CHECK_NOT_FOUND;
  broken->action = ACTION_SHIFT;
  record_.flags = 0;  // the actions only: no store of the settings is saved here
  ApplyActions(nullptr, tree_);

  BackupResult r = WriteFirefoxBackup(tree_, std::time(nullptr));
  ASSERT_EQ(r.outcome, BackupOutcome::Written) << r.message;
  EXPECT_EQ(backups(), std::vector<std::string>{fs::path(r.path).filename().string()});
  EXPECT_TRUE(std::regex_match(fs::path(r.path).filename().string(), kFirefoxBackupName));
  std::string advice = FirefoxBackupAdvice(r);
  EXPECT_NE(advice.find("Import and Backup > Restore"), std::string::npos);
  EXPECT_NE(advice.find(r.date), std::string::npos);
  EXPECT_NE(advice.find(r.path), std::string::npos);

  json backup = written(r);
  std::map<std::string, json> now = ItemsByGuid(backup);
  std::string goneGuid = PlacesFixture::guidFor(8), movedGuid = PlacesFixture::guidFor(10),
              brokenGuid = PlacesFixture::guidFor(11);
  EXPECT_EQ(now.count(goneGuid), 0u);
  EXPECT_EQ(now[movedGuid]["uri"], "https://new.example/");
  EXPECT_EQ(now[movedGuid]["keyword"], "mv");
  // The shifted link is the same item, now in "Broken Links" at the end of "Other Bookmarks".
  json unfiled = backup["children"][2];
  ASSERT_EQ(unfiled["guid"], "unfiled_____");
  json folder = unfiled["children"].back();
  EXPECT_EQ(folder["title"], "Broken Links");
  EXPECT_FALSE(folder.contains("guid"));
  ASSERT_EQ(folder["children"].size(), 1u);
  EXPECT_EQ(folder["children"][0]["guid"], brokenGuid);
  EXPECT_EQ(folder["children"][0]["tags"], "work");
  for (auto& [guid, item] : asRead) {
    if (guid == goneGuid || guid == movedGuid) continue;
    EXPECT_EQ(now[guid], item) << guid;
  }
  // Positions are whole again after the removal: the separator moved up.
  EXPECT_EQ(backup["children"][0]["children"][0]["children"][0]["type"],
            "text/x-moz-place-separator");
  EXPECT_EQ(backup["children"][0]["children"][0]["children"][0]["index"], 0);
  // The root, four roots, Dev with the separator and Moved, Kept, the new folder and its link.
  EXPECT_EQ(r.items, 1 + 4 + 1 + 2 + 1 + 1 + 1);

  // The same result on the same day is the same file: nothing new.
  BackupResult again = WriteFirefoxBackup(tree_, std::time(nullptr));
  EXPECT_EQ(again.outcome, BackupOutcome::AlreadyThere);
  EXPECT_EQ(again.path, r.path);
  EXPECT_EQ(backups().size(), 1u);
}

TEST_F(FirefoxBackupWrite, BackupFolderThatIsALinkOrAFileIsNotWrittenThrough) {
  read();
  FindByName(tree_, "Gone")->action = ACTION_DELETE;
  ScratchDir elsewhere;
  fs::create_directory_symlink(elsewhere.path(), dir_ / "bookmarkbackups");
  BackupResult r = WriteFirefoxBackup(tree_, std::time(nullptr));
  EXPECT_EQ(r.outcome, BackupOutcome::Failed);
  EXPECT_NE(FirefoxBackupAdvice(r).find("symbolic link"), std::string::npos);
  EXPECT_TRUE(fs::is_empty(elsewhere.path()));

  fs::remove(dir_ / "bookmarkbackups");
  dir_.write("bookmarkbackups", "");
  EXPECT_EQ(WriteFirefoxBackup(tree_, std::time(nullptr)).outcome, BackupOutcome::Failed);
}

}  // namespace
