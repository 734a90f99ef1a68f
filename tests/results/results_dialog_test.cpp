#include "results/results_dialog.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ui/dialog_template.h"
#include "ui/headless/headless_ui.h"

namespace {

// Records every address the program asks the desktop to open instead of opening it.
// Stands in for the program's browser launch while it lives.
class BrowserRecorder {
 public:
  BrowserRecorder() {
    current_ = this;
    SetLinkOpener(&Record);
  }
  ~BrowserRecorder() {
    SetLinkOpener(nullptr);
    current_ = nullptr;
  }
  std::vector<std::string> opened() {
    std::lock_guard<std::mutex> hold(mutex_);
    return opened_;
  }

 private:
  static void Record(const char* address) {
    std::lock_guard<std::mutex> hold(current_->mutex_);
    current_->opened_.push_back(address);
  }
  static inline BrowserRecorder* current_ = nullptr;
  std::mutex mutex_;
  std::vector<std::string> opened_;
};

LinkEntry* AddLink(NodeList& list, const char* name, const char* url, int32_t result,
                   int32_t source = SOURCE_BOOKMARKS, int32_t action = ACTION_LEAVE,
                   const char* newUrl = nullptr) {
  auto* entry = new LinkEntry(name, url, 0);
  entry->source = source;
  entry->checkResult.store(result);
  entry->action = action;
  if (newUrl) entry->newUrl.assign(newUrl);
  list.addTail(entry);
  return entry;
}

LinkEntry* AddFolder(NodeList& list, const char* name) {
  auto* folder = new LinkEntry(name, nullptr, 0);
  list.addTail(folder);
  return folder;
}

ListNotify Event(ListEvent event, int row, int column) {
  return ListNotify{IDC_RESULTS_LIST, event, row, column, 100, 200, nullptr};
}

class ResultsDialogTest : public ::testing::Test {
 protected:
  void TearDown() override {
    dialog_ = nullptr;
    ui_.reset();  // ends the dialog before the tree goes
    FreeTree(tree_);
  }

  // The dialog opened over the current tree; its rows are in place when this returns.
  HeadlessWindow* Open() {
    proc_ = std::make_unique<ResultsDialogProc>(tree_);
    dialog_ = ui_->open(IDD_RESULTS, *proc_);
    return dialog_;
  }
  std::vector<std::string> Column(int column) {
    std::vector<std::string> texts;
    for (const auto& row : dialog_->rows(IDC_RESULTS_LIST))
      texts.push_back(row[static_cast<size_t>(column)]);
    return texts;
  }
  int RowOf(const char* name) {
    std::vector<std::string> names = Column(RESULT_COLUMN_NAME);
    for (size_t i = 0; i < names.size(); ++i)
      if (names[i] == name) return static_cast<int>(i);
    return -1;
  }
  std::string Cell(const char* name, int column) {
    return dialog_->cell(IDC_RESULTS_LIST, RowOf(name), column);
  }
  void ClickAction(const char* name) {
    dialog_->notify(Event(ListEvent::Click, RowOf(name), RESULT_COLUMN_ACTION));
  }

  NodeList tree_;
  std::unique_ptr<HeadlessUi> ui_ = std::make_unique<HeadlessUi>();
  std::unique_ptr<ResultsDialogProc> proc_;
  HeadlessWindow* dialog_ = nullptr;
};

TEST_F(ResultsDialogTest, ListsEveryProblemLinkOnceSortedByNameIgnoringCase) {
  AddLink(tree_, "zeta", "http://z.test/", CHECK_NOT_FOUND);
  AddLink(tree_, "fine", "http://ok.test/", 200);
  AddLink(tree_, "unchecked", "http://none.test/", CHECK_NONE);
  LinkEntry* folder = AddFolder(tree_, "Folder");
  AddLink(folder->children, "Beta", "http://b.test/", CHECK_MOVED, SOURCE_FAVORITES, ACTION_UPDATE,
          "http://b.test/new");
  LinkEntry* inner = AddFolder(folder->children, "Inner");
  AddLink(inner->children, "alpha", "http://a.test/", CHECK_INVALID_HOST, 3);
  AddLink(inner->children, "Gamma", "http://z.test/", CHECK_FORBIDDEN);  // same address
  AddFolder(tree_, "Empty folder");
  tree_.addTail(new LinkEntry());  // separator
  AddLink(tree_, "server error", "http://e.test/", 500);

  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(dialog_->text(0), "Quillfen Results");
  EXPECT_EQ(Column(RESULT_COLUMN_NAME),
            (std::vector<std::string>{"alpha", "Beta", "Gamma", "zeta"}));

  std::vector<std::pair<std::string, int>> columns = dialog_->columns(IDC_RESULTS_LIST);
  ASSERT_EQ(columns.size(), 6u);
  const char* headings[] = {"Name", "Type", "Problem", "Action", "URL", "New URL"};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(columns[i].first, headings[i]);
  // Fitted to the contents, with extra room for the Action column's click target.
  // (The headless list measures 6 pixels per byte: "Update" is two bytes wider than "Book".)
  EXPECT_GT(columns[RESULT_COLUMN_URL].second, columns[RESULT_COLUMN_TYPE].second);
  EXPECT_EQ(columns[RESULT_COLUMN_ACTION].second - columns[RESULT_COLUMN_TYPE].second, 2 * 6 + 10);
}

TEST_F(ResultsDialogTest, CellTextsFollowTheEntry) {
  LinkEntry* book =
      AddLink(tree_, "a book", "http://1.test/", CHECK_NOT_FOUND, SOURCE_BOOKMARKS, ACTION_DELETE);
  AddLink(tree_, "b fav", "http://2.test/", CHECK_FORBIDDEN, SOURCE_FAVORITES, ACTION_SHIFT);
  AddLink(tree_, "c both", "http://3.test/", CHECK_INVALID_HOST, 3, ACTION_LEAVE);
  AddLink(tree_, "d moved", "http://4.test/", CHECK_MOVED, 3, ACTION_UPDATE, "http://4.test/new");
  AddLink(tree_, "e moved", "http://5.test/", CHECK_MOVED, SOURCE_FAVORITES, ACTION_LEAVE);
  AddLink(tree_, "f cert", "https://6.test/", CHECK_CERTIFICATE, SOURCE_BOOKMARKS, ACTION_LEAVE);
  AddLink(tree_, "g gone", "http://7.test/", CHECK_GONE, SOURCE_BOOKMARKS, ACTION_DELETE);
  // A link whose server refused the check is no problem: it has no row.
  AddLink(tree_, "h walled", "http://8.test/", CHECK_BLOCKED_BASE + 403, SOURCE_BOOKMARKS,
          ACTION_LEAVE);
  Open();

  std::vector<std::vector<std::string>> rows = dialog_->rows(IDC_RESULTS_LIST);
  std::vector<std::vector<std::string>> expected = {
      {"a book", "Book", "Not found", "Delete", "http://1.test/", ""},
      {"b fav", "Fav", "Forbidden", "Shift", "http://2.test/", ""},
      {"c both", "Both", "Invalid host", "Leave", "http://3.test/", ""},
      {"d moved", "Both", "Moved", "Update", "http://4.test/", "http://4.test/new"},
      {"e moved", "Fav", "Moved", "Leave", "http://5.test/", ""},
      {"f cert", "Book", "Certificate", "Leave", "https://6.test/", ""},
      {"g gone", "Book", "Gone", "Delete", "http://7.test/", ""},
  };
  EXPECT_EQ(rows, expected);

  // Texts are fetched from the entry on demand, so a change shows without re-inserting.
  ui_->run([&] { book->action = ACTION_SHIFT; });
  EXPECT_EQ(Cell("a book", RESULT_COLUMN_ACTION), "Shift");
}

TEST_F(ResultsDialogTest, ColumnClickSortsByThatColumnWithNameOrderInside) {
  AddLink(tree_, "delta", "http://d.test/", CHECK_NOT_FOUND, 2, ACTION_SHIFT);
  AddLink(tree_, "Charlie", "http://c.test/", CHECK_NOT_FOUND, 2, ACTION_LEAVE);
  AddLink(tree_, "bravo", "http://b.test/", CHECK_MOVED, 2, ACTION_UPDATE);
  AddLink(tree_, "Alpha", "http://a.test/", CHECK_NOT_FOUND, 2, ACTION_SHIFT);
  AddLink(tree_, "echo", "http://e.test/", CHECK_NOT_FOUND, 2, ACTION_DELETE);
  AddLink(tree_, "foxtrot", "http://f.test/", CHECK_MOVED, 2, ACTION_LEAVE);
  Open();

  dialog_->notify(Event(ListEvent::ColumnClick, -1, RESULT_COLUMN_ACTION));
  EXPECT_EQ(Column(RESULT_COLUMN_NAME),
            (std::vector<std::string>{"echo", "Charlie", "foxtrot", "Alpha", "delta", "bravo"}));
  EXPECT_EQ(Column(RESULT_COLUMN_ACTION),
            (std::vector<std::string>{"Delete", "Leave", "Leave", "Shift", "Shift", "Update"}));
  // Sorting is always ascending: a second click gives the same order.
  dialog_->notify(Event(ListEvent::ColumnClick, -1, RESULT_COLUMN_ACTION));
  EXPECT_EQ(Column(RESULT_COLUMN_NAME)[0], "echo");

  dialog_->notify(Event(ListEvent::ColumnClick, -1, RESULT_COLUMN_PROBLEM));
  EXPECT_EQ(Column(RESULT_COLUMN_NAME),
            (std::vector<std::string>{"bravo", "foxtrot", "Alpha", "Charlie", "delta", "echo"}));
  dialog_->notify(Event(ListEvent::ColumnClick, -1, RESULT_COLUMN_NAME));
  EXPECT_EQ(Column(RESULT_COLUMN_NAME),
            (std::vector<std::string>{"Alpha", "bravo", "Charlie", "delta", "echo", "foxtrot"}));
}

TEST(CompareResultsTest, ComparesAtMostTheBufferAndFallsBackToNames) {
  std::string prefix = "http://long.test/" + std::string(300, 'x');
  LinkEntry a("b", (prefix + "1").c_str(), 0);
  LinkEntry b("a", (prefix + "2").c_str(), 0);
  auto data = [](LinkEntry& e) { return reinterpret_cast<ItemData>(&e); };
  // The addresses differ only beyond the first 259 bytes, so the names decide.
  EXPECT_GT(CompareResults(data(a), data(b), RESULT_COLUMN_URL), 0);
  EXPECT_LT(CompareResults(data(b), data(a), RESULT_COLUMN_URL), 0);
  EXPECT_EQ(CompareResults(data(a), data(a), RESULT_COLUMN_NAME), 0);
  LinkEntry upper("ABC", "http://x.test/", 0);
  LinkEntry lower("abc", "http://y.test/", 0);
  EXPECT_EQ(CompareResults(data(upper), data(lower), RESULT_COLUMN_NAME), 0);

  char small[8];
  GetResultText(a, RESULT_COLUMN_URL, small, sizeof small);
  EXPECT_STREQ(small, "http://");
  LinkEntry unnamed;
  EXPECT_STREQ(GetResultText(unnamed, RESULT_COLUMN_NAME), "");
  EXPECT_STREQ(GetResultText(unnamed, 99), "");
}

TEST_F(ResultsDialogTest, ClickOnActionStepsThroughTheGroupsCycle) {
  LinkEntry* broken = AddLink(tree_, "broken", "http://b.test/", CHECK_NOT_FOUND);
  LinkEntry* moved = AddLink(tree_, "moved", "http://m.test/", CHECK_MOVED, 2, ACTION_LEAVE);
  LinkEntry* odd = AddLink(tree_, "odd", "http://o.test/", CHECK_FORBIDDEN, 2, ACTION_UPDATE);
  Open();

  std::vector<std::string> seen;
  for (int i = 0; i < 4; ++i) {
    ClickAction("broken");
    seen.push_back(Cell("broken", RESULT_COLUMN_ACTION));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"Delete", "Shift", "Leave", "Delete"}));
  EXPECT_EQ(broken->action, ACTION_DELETE);

  ClickAction("moved");
  EXPECT_EQ(moved->action, ACTION_UPDATE);
  ClickAction("moved");
  EXPECT_EQ(moved->action, ACTION_LEAVE);
  ClickAction("moved");
  EXPECT_EQ(Cell("moved", RESULT_COLUMN_ACTION), "Update");

  ClickAction("odd");  // a not-found link can never step past Shift
  EXPECT_EQ(odd->action, ACTION_LEAVE);
}

TEST_F(ResultsDialogTest, OneClickStepsOnceEvenWhenItMovesTheFocus) {
  LinkEntry* entry = AddLink(tree_, "link", "http://l.test/", CHECK_NOT_FOUND);
  Open();

  // A click that also gives the list the focus: the focus change, then the click.
  dialog_->notify(Event(ListEvent::SetFocus, 0, RESULT_COLUMN_ACTION));
  dialog_->notify(Event(ListEvent::Click, 0, RESULT_COLUMN_ACTION));
  EXPECT_EQ(entry->action, ACTION_DELETE);

  // Keyboard focus alone changes nothing either.
  dialog_->notify(Event(ListEvent::SetFocus, -1, -1));
  EXPECT_EQ(entry->action, ACTION_DELETE);

  // A double click is two clicks.
  dialog_->notify(Event(ListEvent::Click, 0, RESULT_COLUMN_ACTION));
  dialog_->notify(Event(ListEvent::DoubleClick, 0, RESULT_COLUMN_ACTION));
  EXPECT_EQ(entry->action, ACTION_LEAVE);  // Delete, Shift, Leave
}

TEST_F(ResultsDialogTest, ClicksOutsideTheActionColumnOrRowsChangeNothing) {
  BrowserRecorder browser;
  LinkEntry* entry = AddLink(tree_, "link", "http://l.test/", CHECK_NOT_FOUND);
  Open();
  for (int column : {RESULT_COLUMN_NAME, RESULT_COLUMN_TYPE, RESULT_COLUMN_PROBLEM,
                     RESULT_COLUMN_URL, RESULT_COLUMN_NEW_URL, -1}) {
    dialog_->notify(Event(ListEvent::Click, 0, column));
    if (column != RESULT_COLUMN_NAME) dialog_->notify(Event(ListEvent::DoubleClick, 0, column));
  }
  dialog_->notify(Event(ListEvent::Click, -1, RESULT_COLUMN_ACTION));
  dialog_->notify(Event(ListEvent::Click, 5, RESULT_COLUMN_ACTION));
  EXPECT_EQ(entry->action, ACTION_LEAVE);
  EXPECT_TRUE(browser.opened().empty());
}

TEST_F(ResultsDialogTest, DoubleClickOnNameOpensTheLink) {
  BrowserRecorder browser;
  LinkEntry* entry = AddLink(tree_, "link", "http://l.test/page", CHECK_MOVED, 2, ACTION_UPDATE);
  Open();
  dialog_->notify(Event(ListEvent::Click, 0, RESULT_COLUMN_NAME));
  EXPECT_TRUE(browser.opened().empty());
  dialog_->notify(Event(ListEvent::DoubleClick, 0, RESULT_COLUMN_NAME));
  EXPECT_EQ(browser.opened(), (std::vector<std::string>{"http://l.test/page"}));
  EXPECT_EQ(entry->action, ACTION_UPDATE);
}

TEST_F(ResultsDialogTest, GroupButtonsChangeOnlyTheirGroup) {
  LinkEntry* notFound = AddLink(tree_, "a", "http://a.test/", CHECK_NOT_FOUND);
  LinkEntry* forbidden = AddLink(tree_, "b", "http://b.test/", CHECK_FORBIDDEN);
  LinkEntry* folder = AddFolder(tree_, "f");
  LinkEntry* invalid = AddLink(folder->children, "c", "http://c.test/", CHECK_INVALID_HOST);
  LinkEntry* moved = AddLink(tree_, "d", "http://d.test/", CHECK_MOVED, 2, ACTION_LEAVE);
  Open();

  auto notFoundActions = [&] {
    return std::vector<int32_t>{notFound->action, forbidden->action, invalid->action};
  };
  dialog_->click(IDC_DELETE_ALL);
  EXPECT_EQ(notFoundActions(), std::vector<int32_t>(3, ACTION_DELETE));
  EXPECT_EQ(moved->action, ACTION_LEAVE);
  EXPECT_EQ(Cell("c", RESULT_COLUMN_ACTION), "Delete");
  dialog_->click(IDC_SHIFT_ALL);
  EXPECT_EQ(notFoundActions(), std::vector<int32_t>(3, ACTION_SHIFT));
  dialog_->click(IDC_UPDATE_ALL);
  EXPECT_EQ(moved->action, ACTION_UPDATE);
  EXPECT_EQ(notFoundActions(), std::vector<int32_t>(3, ACTION_SHIFT));
  dialog_->click(IDC_LEAVE_ALL_BROKEN);
  EXPECT_EQ(notFoundActions(), std::vector<int32_t>(3, ACTION_LEAVE));
  EXPECT_EQ(moved->action, ACTION_UPDATE);
  dialog_->click(IDC_LEAVE_ALL_MOVED);
  EXPECT_EQ(moved->action, ACTION_LEAVE);

  dialog_->command(IDC_DELETE_ALL, 1);  // not a click
  EXPECT_EQ(notFound->action, ACTION_LEAVE);
  EXPECT_FALSE(dialog_->ended());
}

TEST_F(ResultsDialogTest, OkCancelAndCloseBoxEndTheDialog) {
  AddLink(tree_, "a", "http://a.test/", CHECK_NOT_FOUND);
  Open();
  dialog_->click(ID_OK);
  EXPECT_TRUE(dialog_->ended());
  EXPECT_EQ(dialog_->result(), 1);

  ResultsDialogProc second(tree_);
  HeadlessWindow* cancelled = ui_->open(IDD_RESULTS, second);
  cancelled->click(ID_CANCEL);
  EXPECT_EQ(cancelled->result(), 0);

  ResultsDialogProc third(tree_);
  HeadlessWindow* closed = ui_->open(IDD_RESULTS, third);
  closed->close();
  EXPECT_TRUE(closed->ended());
  EXPECT_EQ(closed->result(), 0);
}

TEST_F(ResultsDialogTest, ShownModallyFromAnotherThreadChangesTheTree) {
  LinkEntry* entry = AddLink(tree_, "a", "http://a.test/", CHECK_NOT_FOUND);
  class OwnerProc : public DialogProc {
    bool onInit(Window&) override { return true; }
  } ownerProc;
  HeadlessWindow* owner = ui_->open(IDD_MAIN_WINDOW, ownerProc);
  ui_->setDialogHandler(IDD_RESULTS, [](HeadlessWindow& d) {
    d.click(IDC_SHIFT_ALL);
    d.click(ID_OK);
  });
  int result = -1;
  std::thread run([&] {
    ResultsDialogProc proc(tree_);
    result = owner->showModal(IDD_RESULTS, proc);
  });
  run.join();
  EXPECT_EQ(result, 1);
  EXPECT_EQ(entry->action, ACTION_SHIFT);
}

TEST_F(ResultsDialogTest, MenuOffersTheRowsGroupAndCopyNewUrlOnlyWithOne) {
  AddLink(tree_, "a broken", "http://a.test/", CHECK_NOT_FOUND);
  AddLink(tree_, "b moved", "http://b.test/", CHECK_MOVED, 2, ACTION_UPDATE, "http://b.test/n");
  AddLink(tree_, "c moved", "http://c.test/", CHECK_MOVED, 2, ACTION_UPDATE);
  AddLink(tree_, "d invalid", "http://d.test/", CHECK_INVALID_HOST);
  Open();
  auto menuOf = [&](const char* name) {
    dialog_->notify(Event(ListEvent::ContextMenu, RowOf(name), -1));
    std::vector<std::pair<int, std::string>> items;
    for (const MenuItem& item : ui_->lastMenu())
      items.emplace_back(item.command, item.text ? item.text : "-");
    return items;
  };
  using Items = std::vector<std::pair<int, std::string>>;
  Items brokenMenu = {{2, "&Delete"},   {3, "&Shift"}, {1, "&Leave"},   {0, "-"},
                      {11, "&Browser"}, {0, "-"},      {10, "&Rename"}, {12, "&Copy URL"}};
  EXPECT_EQ(menuOf("a broken"), brokenMenu);
  EXPECT_EQ(menuOf("d invalid"), brokenMenu);
  Items movedMenu = {{4, "&Update"}, {1, "&Leave"},   {0, "-"},         {11, "&Browser"},
                     {0, "-"},       {10, "&Rename"}, {12, "&Copy URL"}};
  EXPECT_EQ(menuOf("c moved"), movedMenu);
  movedMenu.emplace_back(13, "Copy &New URL");
  EXPECT_EQ(menuOf("b moved"), movedMenu);

  int before = ui_->menuCount();
  dialog_->notify(Event(ListEvent::ContextMenu, -1, -1));  // not on a row
  EXPECT_EQ(ui_->menuCount(), before);
}

TEST_F(ResultsDialogTest, MenuCommandsActOnTheRow) {
  BrowserRecorder browser;
  LinkEntry* broken = AddLink(tree_, "a broken", "http://a.test/", CHECK_NOT_FOUND);
  LinkEntry* moved = AddLink(tree_, "b moved", "http://b.test/", CHECK_MOVED, 2, ACTION_LEAVE,
                             "http://b.test/new");
  Open();
  int chosen = 0;
  ui_->setMenuHandler([&](const std::vector<MenuItem>&, int, int) { return chosen; });
  auto choose = [&](const char* name, int command) {
    chosen = command;
    dialog_->notify(Event(ListEvent::ContextMenu, RowOf(name), -1));
  };

  choose("a broken", ACTION_SHIFT);
  EXPECT_EQ(broken->action, ACTION_SHIFT);
  EXPECT_EQ(Cell("a broken", RESULT_COLUMN_ACTION), "Shift");
  choose("b moved", ACTION_UPDATE);
  EXPECT_EQ(moved->action, ACTION_UPDATE);
  choose("b moved", ACTION_DELETE);  // not on a moved link's menu
  EXPECT_EQ(moved->action, ACTION_UPDATE);
  choose("a broken", 0);  // dismissed
  EXPECT_EQ(broken->action, ACTION_SHIFT);

  choose("b moved", RESULTS_MENU_COPY_URL);
  EXPECT_EQ(ui_->clipboardText(), "http://b.test/");
  choose("b moved", RESULTS_MENU_COPY_NEW_URL);
  EXPECT_EQ(ui_->clipboardText(), "http://b.test/new");
  ui_->setClipboardAvailable(false);
  choose("a broken", RESULTS_MENU_COPY_URL);
  EXPECT_EQ(ui_->clipboardText(), "http://b.test/new");
  ui_->setClipboardAvailable(true);

  choose("a broken", RESULTS_MENU_BROWSER);
  EXPECT_EQ(browser.opened(), (std::vector<std::string>{"http://a.test/"}));

  choose("a broken", RESULTS_MENU_RENAME);
  EXPECT_EQ(dialog_->labelEditRow(IDC_RESULTS_LIST), RowOf("a broken"));
}

TEST_F(ResultsDialogTest, RenameChangesTheEntrysNameAlsoToEmpty) {
  LinkEntry* first = AddLink(tree_, "a first", "http://a.test/", CHECK_NOT_FOUND);
  LinkEntry* second = AddLink(tree_, "b second", "http://b.test/", CHECK_MOVED);
  Open();
  ui_->setMenuHandler([](const std::vector<MenuItem>&, int, int) { return RESULTS_MENU_RENAME; });

  dialog_->notify(Event(ListEvent::ContextMenu, 0, -1));
  EXPECT_EQ(dialog_->endLabelEdit(IDC_RESULTS_LIST, "Renamed"), 1);
  EXPECT_STREQ(first->name, "Renamed");
  EXPECT_EQ(dialog_->cell(IDC_RESULTS_LIST, 0, RESULT_COLUMN_NAME), "Renamed");

  dialog_->notify(Event(ListEvent::ContextMenu, 1, -1));
  EXPECT_EQ(dialog_->endLabelEdit(IDC_RESULTS_LIST, nullptr), 0);  // cancelled
  EXPECT_STREQ(second->name, "b second");

  dialog_->notify(Event(ListEvent::ContextMenu, 1, -1));
  EXPECT_EQ(dialog_->endLabelEdit(IDC_RESULTS_LIST, ""), 1);
  ASSERT_NE(second->name, nullptr);  // still a link, not a separator
  EXPECT_STREQ(second->name, "");
  EXPECT_TRUE(second->isLink());
  EXPECT_EQ(dialog_->cell(IDC_RESULTS_LIST, 1, RESULT_COLUMN_NAME), "");
}

// A name the editor showed decoded comes back as UTF-8: unchanged, its bytes stay; changed,
// it is written in the encoding it was shown in (Windows-1252 for a name that is not UTF-8,
// as far as that code page holds the characters).
TEST_F(ResultsDialogTest, RenameKeepsTheBytesOrTheEncodingOfTheName) {
  struct Case {
    const char* name;
    const char* edited;
    const char* stored;
  };
  const Case cases[] = {
      {"caf\xe9 \x93quoted\x94", "caf\xc3\xa9 \xe2\x80\x9cquoted\xe2\x80\x9d",
       "caf\xe9 \x93quoted\x94"},
      {"caf\xe9", "caf\xc3\xa9s \xe2\x82\xac", "caf\xe9s \x80"},
      {"caf\xe9", "caf\xc3\xa9 \xe2\x9c\x93", "caf\xc3\xa9 \xe2\x9c\x93"},  // no such byte
      {"caf\xc3\xa9", "caf\xc3\xa9s", "caf\xc3\xa9s"},
      {"plain", "pl\xc3\xa4in", "pl\xc3\xa4in"},
  };
  std::vector<LinkEntry*> entries;
  for (const Case& c : cases)
    entries.push_back(AddLink(tree_, c.name, "http://a.test/", CHECK_NOT_FOUND));
  Open();
  ui_->setMenuHandler([](const std::vector<MenuItem>&, int, int) { return RESULTS_MENU_RENAME; });
  for (size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(cases[i].edited);
    int row = dialog_->findListRow(IDC_RESULTS_LIST, reinterpret_cast<ItemData>(entries[i]));
    dialog_->notify(Event(ListEvent::ContextMenu, row, -1));
    EXPECT_EQ(dialog_->endLabelEdit(IDC_RESULTS_LIST, cases[i].edited), 1);
    EXPECT_STREQ(entries[i]->name, cases[i].stored);
  }
}

}  // namespace
