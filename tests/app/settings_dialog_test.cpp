#include "app/settings_dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/registry_key.h"
#include "tree/settings.h"
#include "app/settings_storage.h"
#include "platform/registry_sandbox.h"
#include "ui/dialog_template.h"
#include "ui/headless/headless_ui.h"

namespace {

struct Bit {
  int id;
  uint32_t flag;
};
const Bit kBits[] = {
    {IDC_CLEAN_FAVORITES, FLAG_CLEAN_FAVORITES},
    {IDC_CLEAN_BOOKMARKS, FLAG_CLEAN_BOOKMARKS},
    {IDC_SYNCHRONISE, FLAG_SYNCHRONISE},
    {IDC_SORT_BOOKMARKS, FLAG_SORT_BOOKMARKS},
    {IDC_FORBIDDEN_AS_NOT_FOUND, FLAG_FORBIDDEN_AS_NOT_FOUND},
    {IDC_BROKEN_ASK, FLAG_BROKEN_ASK},
    {IDC_BROKEN_DELETE, FLAG_BROKEN_DELETE},
    {IDC_BROKEN_SHIFT, FLAG_BROKEN_SHIFT},
    {IDC_MOVED_ASK, FLAG_MOVED_ASK},
    {IDC_MOVED_UPDATE, FLAG_MOVED_UPDATE},
    {IDC_USE_PROXY, FLAG_USE_PROXY},
    {IDC_ONLY_OLDER, FLAG_ONLY_OLDER},
};

// Governing check box and the controls enabled with it.
struct Rule {
  int box;
  std::vector<int> governed;
};
const std::vector<Rule> kRules = {
    {IDC_CLEAN_FAVORITES, {IDC_FAVORITES_FOLDER, IDC_BROWSE_FAVORITES}},
    {IDC_CLEAN_BOOKMARKS, {IDC_BOOKMARK_FILE, IDC_BROWSE_BOOKMARKS}},
    {IDC_USE_PROXY, {IDC_PROXY_HOST, IDC_PROXY_PORT}},
    {IDC_ONLY_OLDER, {IDC_OLDER_DAYS}},
};

class SettingsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { settings = &record_; }
  void TearDown() override { settings = nullptr; }
  HeadlessWindow* open() {
    procs_.emplace_back(std::make_unique<SettingsDialogProc>());
    return ui_.open(IDD_SETTINGS, *procs_.back());
  }
  // Sets a text as the program (or a paste) would, past the typing rules of the edit.
  static void Put(HeadlessWindow* d, int id, const std::string& text) {
    d->run([&](HeadlessWindow& w) { w.setText(id, text.c_str()); });
  }
  static bool OwnKeyExists() {
    RegistryKey own(RegistryRoot::CurrentUser);
    own.path.assignPath(SETTINGS_KEY_PATH, PathStyle::Windows);
    return own.openKey();
  }

  RegistrySandbox box_;
  Settings record_;
  std::vector<std::unique_ptr<SettingsDialogProc>> procs_;
  HeadlessUi ui_;
};

TEST_F(SettingsDialogTest, DefaultRecordShowsAskAndDisablesEveryGroup) {
  HeadlessWindow* d = open();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->text(0), "Quillfen Settings");
  for (const Bit& bit : kBits)
    EXPECT_EQ(d->checked(bit.id), bit.id == IDC_BROKEN_ASK || bit.id == IDC_MOVED_ASK) << bit.id;
  for (const Rule& rule : kRules)
    for (int id : rule.governed) EXPECT_FALSE(d->enabled(id)) << id;
  EXPECT_EQ(d->text(IDC_OLDER_DAYS), "30");
  EXPECT_EQ(d->text(IDC_PROXY_PORT), "8080");
  EXPECT_EQ(d->text(IDC_THREADS), "2");
  EXPECT_EQ(d->text(IDC_TIMEOUT), "30");
  EXPECT_EQ(d->text(IDC_RETRIES), "5");
  EXPECT_EQ(d->text(IDC_FAVORITES_FOLDER), "");
  EXPECT_EQ(d->textLimit(IDC_FAVORITES_FOLDER), 260);
  EXPECT_EQ(d->textLimit(IDC_BOOKMARK_FILE), 260);
  EXPECT_EQ(d->textLimit(IDC_PROXY_HOST), 80);
}

TEST_F(SettingsDialogTest, EachBitLoadsIntoItsOwnControl) {
  for (const Bit& bit : kBits) {
    record_.flags = bit.flag;
    HeadlessWindow* d = open();
    for (const Bit& other : kBits) EXPECT_EQ(d->checked(other.id), other.id == bit.id) << bit.id;
    for (const Rule& rule : kRules)
      for (int id : rule.governed) EXPECT_EQ(d->enabled(id), rule.box == bit.id) << id;
    d->close();
  }
}

TEST_F(SettingsDialogTest, TextsAndNumbersLoadFromTheRecord) {
  std::string longPath = "/data/" + std::string(400, 'p');
  record_.favoritesFolder.assign("/home/jo/Favorites");
  record_.bookmarkFile.assign(longPath.c_str());
  CopySettingsText(record_.proxyHost, "proxy.example");
  record_.proxyPort = 4294967295u;
  record_.olderThanDays = 0;
  HeadlessWindow* d = open();
  EXPECT_EQ(d->text(IDC_FAVORITES_FOLDER), "/home/jo/Favorites");
  EXPECT_EQ(d->text(IDC_BOOKMARK_FILE), longPath) << "a longer stored path is shown whole";
  EXPECT_EQ(d->text(IDC_PROXY_HOST), "proxy.example");
  EXPECT_EQ(d->text(IDC_PROXY_PORT), "4294967295") << "shown unsigned";
  EXPECT_EQ(d->text(IDC_OLDER_DAYS), "0");
}

TEST_F(SettingsDialogTest, CheckBoxesEnableTheirControlsAtOnce) {
  CopySettingsText(record_.proxyHost, "proxy.example");
  HeadlessWindow* d = open();
  for (const Rule& rule : kRules) {
    ASSERT_TRUE(d->click(rule.box));
    for (int id : rule.governed) EXPECT_TRUE(d->enabled(id)) << id;
    ASSERT_TRUE(d->click(rule.box));
    for (int id : rule.governed) EXPECT_FALSE(d->enabled(id)) << id;
  }
  EXPECT_EQ(d->text(IDC_PROXY_HOST), "proxy.example") << "disabling clears nothing";
  d->click(IDC_SYNCHRONISE);
  for (const Rule& rule : kRules)
    for (int id : rule.governed) EXPECT_FALSE(d->enabled(id));
  EXPECT_TRUE(d->enabled(IDC_THREADS));
  EXPECT_TRUE(d->enabled(IDC_BROKEN_SHIFT));
}

TEST_F(SettingsDialogTest, OkStoresEveryControlAndClearsUnknownBits) {
  record_.flags = 0x88 | 0x80000000u;
  HeadlessWindow* d = open();
  for (int id : {IDC_CLEAN_FAVORITES, IDC_CLEAN_BOOKMARKS, IDC_SYNCHRONISE, IDC_SORT_BOOKMARKS,
                 IDC_FORBIDDEN_AS_NOT_FOUND, IDC_USE_PROXY, IDC_ONLY_OLDER, IDC_BROKEN_SHIFT,
                 IDC_MOVED_UPDATE})
    ASSERT_TRUE(d->click(id)) << id;
  EXPECT_FALSE(d->checked(IDC_BROKEN_ASK)) << "radio buttons of a group exclude each other";
  d->type(IDC_FAVORITES_FOLDER, "/home/jo/Favorites/");
  d->type(IDC_BOOKMARK_FILE, "/home/jo/bookmark.htm");
  d->type(IDC_PROXY_HOST, "proxy.example");
  d->type(IDC_PROXY_PORT, "3128");
  d->type(IDC_OLDER_DAYS, "7");
  d->type(IDC_THREADS, "16");
  d->type(IDC_TIMEOUT, "12");
  d->type(IDC_RETRIES, "0");
  ASSERT_TRUE(d->click(ID_OK));
  EXPECT_TRUE(d->ended());
  EXPECT_EQ(d->result(), 1);
  EXPECT_EQ(record_.flags, FLAG_CLEAN_FAVORITES | FLAG_CLEAN_BOOKMARKS | FLAG_SYNCHRONISE |
                               FLAG_SORT_BOOKMARKS | FLAG_FORBIDDEN_AS_NOT_FOUND | FLAG_USE_PROXY |
                               FLAG_ONLY_OLDER | FLAG_BROKEN_SHIFT | FLAG_MOVED_UPDATE);
  EXPECT_STREQ(record_.favoritesFolder.c_str(), "/home/jo/Favorites/") << "taken as typed";
  EXPECT_STREQ(record_.bookmarkFile.c_str(), "/home/jo/bookmark.htm");
  EXPECT_STREQ(record_.proxyHost, "proxy.example");
  EXPECT_EQ(record_.proxyPort, 3128u);
  EXPECT_EQ(record_.olderThanDays, 7u);
  EXPECT_EQ(record_.threadCount, 16u);
  EXPECT_EQ(record_.timeout, 12u);
  EXPECT_EQ(record_.retries, 0u);

  // Saved: a new load gives all nine values back.
  Settings fresh;
  settings = &fresh;
  EXPECT_TRUE(LoadSettings());
  EXPECT_EQ(fresh.flags, record_.flags);
  EXPECT_STREQ(fresh.favoritesFolder.c_str(), "/home/jo/Favorites");
  EXPECT_STREQ(fresh.bookmarkFile.c_str(), "/home/jo/bookmark.htm");
  EXPECT_STREQ(fresh.proxyHost, "proxy.example");
  EXPECT_EQ(fresh.proxyPort, 3128u);
  EXPECT_EQ(fresh.olderThanDays, 7u);
  EXPECT_EQ(fresh.threadCount, 16u);
  EXPECT_EQ(fresh.timeout, 12u);
  EXPECT_EQ(fresh.retries, 0u);
  settings = &record_;
}

TEST_F(SettingsDialogTest, NumbersAreReadUnsignedAndThreadsClamped) {
  struct Case {
    const char* threads;
    uint32_t expectThreads;
    const char* timeout;
    uint32_t expectTimeout;
  } cases[] = {
      {"", 1, "", 0},       {"0", 1, "0", 0},  {"65", 64, " 45 ", 45},
      {"64", 64, "12x", 0}, {"1", 1, "-5", 0}, {"4294967296", 1, "4294967295", 4294967295u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.threads);
    HeadlessWindow* d = open();
    Put(d, IDC_THREADS, c.threads);
    Put(d, IDC_TIMEOUT, c.timeout);
    Put(d, IDC_PROXY_PORT, "");
    d->click(ID_OK);
    EXPECT_EQ(record_.threadCount, c.expectThreads);
    EXPECT_EQ(record_.timeout, c.expectTimeout);
    EXPECT_EQ(record_.proxyPort, 0u);
  }
}

TEST_F(SettingsDialogTest, EmptyFieldsAndALongProxyName) {
  record_.favoritesFolder.assign("/home/jo/Favorites");
  HeadlessWindow* d = open();
  d->click(IDC_CLEAN_FAVORITES);
  d->click(IDC_USE_PROXY);
  d->type(IDC_FAVORITES_FOLDER, "");
  d->type(IDC_PROXY_HOST, std::string(90, 'h').c_str());
  d->click(ID_OK);
  EXPECT_STREQ(record_.favoritesFolder.c_str(), "");
  EXPECT_EQ(std::string(record_.proxyHost), std::string(79, 'h')) << "the 80th is dropped";
}

TEST_F(SettingsDialogTest, OkWithoutChangesCreatesTheKey) {
  EXPECT_FALSE(OwnKeyExists());
  HeadlessWindow* d = open();
  d->click(ID_OK);
  EXPECT_TRUE(OwnKeyExists());
  EXPECT_TRUE(LoadSettings());
  EXPECT_EQ(record_.flags, 0x88u);
  EXPECT_EQ(record_.retries, 5u);
}

TEST_F(SettingsDialogTest, CancelEscapeAndCloseChangeNothing) {
  for (int way = 0; way < 3; ++way) {
    HeadlessWindow* d = open();
    d->click(IDC_CLEAN_FAVORITES);
    d->type(IDC_THREADS, "9");
    if (way == 0) d->click(ID_CANCEL);
    if (way == 1) d->command(ID_CANCEL, 0);
    if (way == 2) d->close();
    EXPECT_TRUE(d->ended());
    EXPECT_EQ(d->result(), 0);
    EXPECT_EQ(record_.flags, 0x88u);
    EXPECT_EQ(record_.threadCount, 2u);
  }
  EXPECT_FALSE(OwnKeyExists()) << "the first start's Cancel leaves no key";
}

TEST_F(SettingsDialogTest, OnlyClicksAreActedOn) {
  HeadlessWindow* d = open();
  d->command(ID_OK, 1);
  EXPECT_FALSE(d->ended());
  d->run([](HeadlessWindow& w) { w.setChecked(IDC_USE_PROXY, true); });
  d->command(IDC_USE_PROXY, 1);
  EXPECT_FALSE(d->enabled(IDC_PROXY_HOST));
  d->command(IDC_USE_PROXY, 0);
  EXPECT_TRUE(d->enabled(IDC_PROXY_HOST));
}

TEST_F(SettingsDialogTest, BrowseForTheFavoritesFolder) {
  record_.flags |= FLAG_CLEAN_FAVORITES;
  record_.favoritesFolder.assign("/old/Favorites");
  std::vector<std::pair<std::string, std::string>> asked;
  std::string answer;
  bool choose = false;
  ui_.setBrowseForFolderHandler([&](const char* title, std::string& value) {
    asked.emplace_back(title, value);
    value = answer;
    return choose;
  });
  HeadlessWindow* d = open();
  d->click(IDC_BROWSE_FAVORITES);
  EXPECT_EQ(d->text(IDC_FAVORITES_FOLDER), "/old/Favorites") << "cancelled";
  choose = true;
  answer = "/";
  d->click(IDC_BROWSE_FAVORITES);
  EXPECT_EQ(d->text(IDC_FAVORITES_FOLDER), "/") << "a root keeps its separator";
  answer = "";
  d->click(IDC_BROWSE_FAVORITES);
  EXPECT_EQ(d->text(IDC_FAVORITES_FOLDER), "/") << "no file-system path";
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_EQ(asked[0].first, "Select favorites folder.");
  EXPECT_EQ(asked[0].second, "") << "the edit's text is not handed over";
  EXPECT_EQ(record_.favoritesFolder.c_str(), std::string("/old/Favorites")) << "until OK";
}

TEST_F(SettingsDialogTest, BrowseForTheBookmarkFile) {
  record_.flags |= FLAG_CLEAN_BOOKMARKS;
  record_.bookmarkFile.assign("/home/jo/.netscape/bookmark.htm");
  std::vector<std::pair<std::string, std::string>> asked;
  std::string answer;
  bool choose = false;
  ui_.setChooseOpenFileHandler([&](const char* title, std::string& value) {
    asked.emplace_back(title, value);
    value = answer;
    return choose;
  });
  HeadlessWindow* d = open();
  d->click(IDC_BROWSE_BOOKMARKS);
  EXPECT_EQ(d->text(IDC_BOOKMARK_FILE), "/home/jo/.netscape/bookmark.htm") << "cancelled";
  choose = true;
  answer = "/data/bookmarks/";
  d->type(IDC_BOOKMARK_FILE, "");
  d->click(IDC_BROWSE_BOOKMARKS);
  EXPECT_EQ(d->text(IDC_BOOKMARK_FILE), "/data/bookmarks") << "stored as a path";
  Put(d, IDC_BOOKMARK_FILE, "/dir/" + std::string(300, 'n'));
  d->click(IDC_BROWSE_BOOKMARKS);
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_EQ(asked[0].first, "Select bookmark file");
  EXPECT_EQ(asked[0].second, "/home/jo/.netscape/bookmark.htm");
  EXPECT_EQ(asked[1].second, "") << "an empty location gives an empty file name";
  EXPECT_EQ(asked[2].second, "/dir/" + std::string(259, 'n')) << "the name fits its buffer";
}

// A window that passes everything on but records the file dialog's filters.
class FilterRecorder : public Window {
 public:
  explicit FilterRecorder(Window& inner) : inner_(inner) {}
  void post(std::function<void(Controls&)> work) override { inner_.post(std::move(work)); }
  void postMessage(int m, intptr_t w, intptr_t l) override { inner_.postMessage(m, w, l); }
  Controls& controls() override { return inner_.controls(); }
  void endDialog(int result) override { inner_.endDialog(result); }
  void sendCommand(int id, int code) override { inner_.sendCommand(id, code); }
  int trackPopupMenu(const std::vector<MenuItem>& items, int x, int y) override {
    return inner_.trackPopupMenu(items, x, y);
  }
  bool setClipboardText(const char* text) override { return inner_.setClipboardText(text); }
  bool browseForFolder(const char* title, std::string& value) override {
    return inner_.browseForFolder(title, value);
  }
  bool chooseOpenFile(const char* title,
                      const std::vector<std::pair<std::string, std::string>>& filters,
                      std::string& value) override {
    filters_ = filters;
    return inner_.chooseOpenFile(title, filters, value);
  }
  int showModal(int templateId, DialogProc& proc) override {
    return inner_.showModal(templateId, proc);
  }
  std::vector<std::pair<std::string, std::string>> filters_;

 private:
  Window& inner_;
};

TEST_F(SettingsDialogTest, BookmarkFileDialogOffersEveryKindFirst) {
  HeadlessWindow* d = open();
  std::vector<std::pair<std::string, std::string>> filters;
  d->run([&](HeadlessWindow& w) {
    FilterRecorder recorder(w);
    BrowseBookmarkFile(recorder, IDC_BOOKMARK_FILE);
    filters = recorder.filters_;
  });
  ASSERT_EQ(filters.size(), 5u);
  EXPECT_EQ(filters[0], (std::pair<std::string, std::string>{
                            "Bookmark files", "*.HTM;*.HTML;Bookmarks;places.sqlite"}));
  EXPECT_EQ(filters[4], (std::pair<std::string, std::string>{"All files", "*.*"}));
}

TEST_F(SettingsDialogTest, TemplateFollowsTheTabOrder) {
  const DialogTemplate* t = FindDialogTemplate(IDD_SETTINGS);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->width, 280);
  EXPECT_EQ(t->height, 222);
  std::vector<int> ids;
  for (int i = 0; i < t->controlCount; ++i)
    if (t->controls[i].id != ID_STATIC) ids.push_back(t->controls[i].id);
  EXPECT_EQ(
      ids, (std::vector<int>{1003, 1004, 1005, 1000, 1001, 1002, 1006, 1015, 1022, 1021, 1040, 1007,
                             1008, 1009, 1013, 1014, 1010, 1011, 1012, 1041, 1016, 1017, 1,    2}));
}

TEST(ReadUnsignedField, AcceptsOnlyAPlainNumber) {
  EXPECT_EQ(ReadUnsignedField("42"), 42u);
  EXPECT_EQ(ReadUnsignedField("  42  "), 42u);
  EXPECT_EQ(ReadUnsignedField(""), 0u);
  EXPECT_EQ(ReadUnsignedField(nullptr), 0u);
  EXPECT_EQ(ReadUnsignedField("4 2"), 0u);
  EXPECT_EQ(ReadUnsignedField("+1"), 0u);
  EXPECT_EQ(ReadUnsignedField("99999999999999999999"), 0u);
}

}  // namespace
