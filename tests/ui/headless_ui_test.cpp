#include "ui/headless/headless_ui.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/headless_fixture.h"

namespace {

constexpr int IDD_TEST = 9001;
constexpr int IDC_NAME = 100;
constexpr int IDC_FLAG = 101;
constexpr int IDC_RADIO_A = 102;
constexpr int IDC_RADIO_B = 103;
constexpr int IDC_RADIO_C = 104;
constexpr int IDC_LIST = 105;
constexpr int IDC_BAR = 106;
constexpr int IDC_NUMBER = 107;

const ControlTemplate TEST_CONTROLS[] = {
    {ID_OK, ControlKind::DefPushButton, "OK", 0, 0, 10, 10, STYLE_TABSTOP},
    {ID_CANCEL, ControlKind::PushButton, "Cancel", 0, 0, 10, 10, STYLE_TABSTOP},
    {IDC_NAME, ControlKind::Edit, "start", 0, 0, 10, 10, 0},
    {IDC_FLAG, ControlKind::CheckBox, "Flag", 0, 0, 10, 10, 0},
    {IDC_RADIO_A, ControlKind::RadioButton, "A", 0, 0, 10, 10, STYLE_GROUP | STYLE_AUTORADIO},
    {IDC_RADIO_B, ControlKind::RadioButton, "B", 0, 0, 10, 10, STYLE_AUTORADIO},
    {IDC_RADIO_C, ControlKind::RadioButton, "C", 0, 0, 10, 10, STYLE_GROUP | STYLE_AUTORADIO},
    {IDC_LIST, ControlKind::ListView, "", 0, 0, 10, 10, STYLE_EDITLABELS},
    {IDC_BAR, ControlKind::ProgressBar, "", 0, 0, 10, 10, 0},
    {IDC_NUMBER, ControlKind::Edit, "", 0, 0, 10, 10, STYLE_NUMBER | STYLE_DISABLED},
};
constexpr int IDD_SECOND = 9002;
const DialogTemplate SECOND_TEMPLATE = {
    IDD_SECOND, "Second", 100, 100, TEST_CONTROLS, sizeof TEST_CONTROLS / sizeof TEST_CONTROLS[0]};
const DialogTemplate TEST_TEMPLATE = {
    IDD_TEST, "Test", 100, 100, TEST_CONTROLS, sizeof TEST_CONTROLS / sizeof TEST_CONTROLS[0]};

// Records what reaches it; ends with the id of OK or Cancel.
class RecordingProc : public DialogProc {
 public:
  bool onInit(Window& window) override {
    ++inits;
    window.controls().insertListColumn(IDC_LIST, 0, "Name", 50);
    window.controls().insertListColumn(IDC_LIST, 1, "Address", 50);
    return true;
  }
  void onCommand(Window& window, int id, int code) override {
    commands.push_back({id, code});
    if (code == 0 && (id == ID_OK || id == ID_CANCEL)) window.endDialog(id);
  }
  void onMessage(Window&, int message, intptr_t wParam, intptr_t) override {
    messages.push_back(message * 1000 + static_cast<int>(wParam));
  }
  int onListNotify(Window&, const ListNotify& notify) override {
    events.push_back(notify.event);
    return acceptLabel ? 1 : 0;
  }
  std::string listCellText(Window&, int, ItemData data, int column) override {
    return "item" + std::to_string(data) + "/" + std::to_string(column);
  }
  int inits = 0;
  bool acceptLabel = true;
  std::vector<std::pair<int, int>> commands;
  std::vector<int> messages;
  std::vector<ListEvent> events;
};

HeadlessWindow* ui_open(HeadlessUi& ui, DialogProc& proc) { return ui.open(IDD_TEST, proc); }

class HeadlessUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterDialogTemplate(&TEST_TEMPLATE);
    RegisterDialogTemplate(&SECOND_TEMPLATE);
  }
};

TEST_F(HeadlessUiTest, MainWindowTemplateIsKnownWithItsControls) {
  const DialogTemplate* main = FindDialogTemplate(IDD_MAIN_WINDOW);
  ASSERT_NE(main, nullptr);
  EXPECT_STREQ(main->caption, "Quillfen 1.1");
  EXPECT_EQ(main->width, 311);
  EXPECT_EQ(main->height, 198);
  std::vector<int> ids;
  for (int i = 0; i < main->controlCount; ++i) ids.push_back(main->controls[i].id);
  EXPECT_EQ(ids, (std::vector<int>{1013, 1014, 1015, 1019, 1018, 1041, 1017, 1020, 1039}));
  EXPECT_EQ(main->controls[0].kind, ControlKind::DefPushButton);
  EXPECT_EQ(FindDialogTemplate(4242), nullptr);
}

TEST_F(HeadlessUiTest, PostedWorkRunsInOrderOnTheUiThread) {
  HeadlessMainWindow main;
  ASSERT_NE(main.window, nullptr);
  std::vector<int> order;
  std::atomic<bool> onUi{true};
  for (int i = 0; i < 100; ++i)
    main.window->post([&, i](Controls&) {
      if (!main.ui.isUiThread()) onUi = false;
      order.push_back(i);
    });
  main.ui.flush();
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
  EXPECT_TRUE(onUi);
  EXPECT_FALSE(main.ui.isUiThread());
}

TEST_F(HeadlessUiTest, WorkPostedToAnEndedWindowIsDropped) {
  HeadlessUi ui;
  RecordingProc proc;
  HeadlessWindow* w = ui.open(IDD_TEST, proc);
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->click(ID_OK));
  EXPECT_TRUE(w->ended());
  EXPECT_EQ(w->result(), ID_OK);
  bool ran = false;
  w->post([&](Controls&) { ran = true; });
  w->postMessage(WM_APP + 1, 0, 0);
  ui.flush();
  EXPECT_FALSE(ran);
  EXPECT_TRUE(proc.messages.empty());
  EXPECT_FALSE(w->click(ID_CANCEL));
}

TEST_F(HeadlessUiTest, ClicksFollowWhatAUserCanDo) {
  HeadlessUi ui;
  RecordingProc proc;
  HeadlessWindow* w = ui.open(IDD_TEST, proc);
  EXPECT_EQ(proc.inits, 1);
  EXPECT_EQ(w->text(0), "Test");
  EXPECT_EQ(w->text(IDC_NAME), "start");

  EXPECT_TRUE(w->click(IDC_FLAG));
  EXPECT_TRUE(w->checked(IDC_FLAG));
  EXPECT_TRUE(w->click(IDC_RADIO_C));
  EXPECT_TRUE(w->click(IDC_RADIO_A));
  EXPECT_TRUE(w->click(IDC_RADIO_B));
  EXPECT_FALSE(w->checked(IDC_RADIO_A));  // same group
  EXPECT_TRUE(w->checked(IDC_RADIO_B));
  EXPECT_TRUE(w->checked(IDC_RADIO_C));  // a group of its own

  EXPECT_FALSE(w->enabled(IDC_NUMBER));
  EXPECT_FALSE(w->click(IDC_NUMBER));
  w->run([](HeadlessWindow& d) { d.setEnabled(IDC_NUMBER, true); });
  w->type(IDC_NUMBER, "1a2b3");
  EXPECT_EQ(w->text(IDC_NUMBER), "123");
  EXPECT_EQ(proc.commands.back(), std::make_pair(IDC_NUMBER, EDIT_CHANGE));

  w->message(WM_APP + 1, 7, 0);
  w->postMessage(WM_APP + 2, 8, 0);
  ui.flush();
  EXPECT_EQ(proc.messages, (std::vector<int>{(WM_APP + 1) * 1000 + 7, (WM_APP + 2) * 1000 + 8}));
  w->close();
  EXPECT_TRUE(w->ended());
  EXPECT_EQ(w->result(), 0);
}

TEST_F(HeadlessUiTest, EnterAndEscapeActAsInADialog) {
  HeadlessMainWindow main;  // 102 has a default push button and no Cancel
  RecordingProc proc;
  HeadlessWindow* w = ui_open(main.ui, proc);
  w->click(IDC_FLAG);
  w->pressEnter();  // the focus is on a check box: the default button
  EXPECT_EQ(proc.commands.back(), std::make_pair(ID_OK, 0));
  EXPECT_TRUE(w->ended());

  RecordingProc other;
  HeadlessWindow* v = ui_open(main.ui, other);
  v->click(ID_CANCEL);
  RecordingProc third;
  HeadlessWindow* x = ui_open(main.ui, third);
  x->run([](HeadlessWindow& d) { d.setFocus(ID_CANCEL); });
  x->pressEnter();  // a focused push button takes Enter
  EXPECT_EQ(third.commands.back(), std::make_pair(ID_CANCEL, 0));
  RecordingProc fourth;
  HeadlessWindow* y = ui_open(main.ui, fourth);
  y->pressEscape();
  EXPECT_EQ(fourth.commands.back(), std::make_pair(ID_CANCEL, 0));
  (void)v;
}

TEST_F(HeadlessUiTest, EditSelectionReplaceAndLimit) {
  HeadlessUi ui;
  RecordingProc proc;
  HeadlessWindow* w = ui.open(IDD_TEST, proc);
  w->run([](HeadlessWindow& d) {
    d.setText(IDC_NAME, "abcdef");
    d.setSelection(IDC_NAME, 4, 1);  // reversed: normalised
    int s = 0, e = 0;
    d.getSelection(IDC_NAME, &s, &e);
    EXPECT_EQ(s, 1);
    EXPECT_EQ(e, 4);
    d.clearSelection(IDC_NAME);
    EXPECT_EQ(d.getText(IDC_NAME), "aef");
    d.setSelection(IDC_NAME, 0, -1);
    d.getSelection(IDC_NAME, &s, &e);
    EXPECT_EQ(e, 3);
    d.setTextLimit(IDC_NAME, 5);
    d.setSelection(IDC_NAME, 3, 3);
    d.replaceSelection(IDC_NAME, "XYZ");  // only two fit
    EXPECT_EQ(d.getText(IDC_NAME), "aefXY");
    d.setSelection(IDC_NAME, 99, 99);  // clamped
    d.getSelection(IDC_NAME, &s, &e);
    EXPECT_EQ(s, 5);
    // Unknown ids and wrong kinds do nothing.
    d.setText(4242, "x");
    EXPECT_EQ(d.getText(4242), "");
    d.replaceSelection(IDC_FLAG, "x");
    EXPECT_EQ(d.getText(IDC_FLAG), "Flag");
    EXPECT_EQ(d.getListRowCount(IDC_NAME), 0);
    EXPECT_EQ(d.findListRow(IDC_NAME, 1), -1);
  });
}

TEST_F(HeadlessUiTest, ProgressBarClampsAndWraps) {
  HeadlessUi ui;
  RecordingProc proc;
  HeadlessWindow* w = ui.open(IDD_TEST, proc);
  w->run([](HeadlessWindow& d) {
    d.setProgressRange(IDC_BAR, 0, 10);
    d.setProgressStep(IDC_BAR, 4);
    d.setProgressPos(IDC_BAR, 50);
    EXPECT_EQ(d.getProgressPos(IDC_BAR), 10);
    d.setProgressPos(IDC_BAR, 8);
    d.stepProgress(IDC_BAR);
    EXPECT_EQ(d.getProgressPos(IDC_BAR), 2);
    d.setProgressPos(IDC_BAR, 1);
    d.stepProgress(IDC_BAR);
    EXPECT_EQ(d.getProgressPos(IDC_BAR), 5);
  });
  EXPECT_EQ(w->progressRange(IDC_BAR), std::make_pair(0, 10));
  EXPECT_EQ(w->progressStep(IDC_BAR), 4);
}

int CompareDescending(ItemData a, ItemData b, intptr_t param) {
  return param * static_cast<int>((b / 10) - (a / 10));
}

TEST_F(HeadlessUiTest, ListRowsCellsSortingAndOnDemandTexts) {
  HeadlessUi ui;
  RecordingProc proc;
  HeadlessWindow* w = ui.open(IDD_TEST, proc);
  w->run([](HeadlessWindow& d) {
    d.insertListRow(IDC_LIST, 0, 10, "ten");
    d.insertListRow(IDC_LIST, 99, 21, nullptr);  // past the end: appended, on demand
    d.insertListRow(IDC_LIST, 1, 20, "twenty");
    d.setListCell(IDC_LIST, 0, 1, "http://ten/");
  });
  EXPECT_EQ(w->rows(IDC_LIST),
            (std::vector<std::vector<std::string>>{
                {"ten", "http://ten/"}, {"twenty", ""}, {"item21/0", "item21/1"}}));
  w->selectRow(IDC_LIST, 2);
  // Stable: 20 and 21 compare equal and keep their order.
  w->run([](HeadlessWindow& d) { d.sortList(IDC_LIST, CompareDescending, 1); });
  EXPECT_EQ(w->rowData(IDC_LIST, 0), 20);
  EXPECT_EQ(w->rowData(IDC_LIST, 1), 21);
  EXPECT_EQ(w->rowData(IDC_LIST, 2), 10);
  w->run([](HeadlessWindow& d) {
    EXPECT_EQ(d.getSelectedListRow(IDC_LIST), 1);  // the selection followed its row
    EXPECT_EQ(d.findListRow(IDC_LIST, 10), 2);
    d.deleteListRow(IDC_LIST, 0);
    EXPECT_EQ(d.getSelectedListRow(IDC_LIST), 0);
    d.deleteListRow(IDC_LIST, 5);  // no such row
    EXPECT_EQ(d.getListRowCount(IDC_LIST), 2);
    d.setListColumnWidth(IDC_LIST, 0, -1);
    EXPECT_EQ(d.getListColumnWidth(IDC_LIST, 0), 8 * 6 + 12);  // "item21/0"
  });
  EXPECT_EQ(w->columns(IDC_LIST)[1], std::make_pair(std::string("Address"), 50));

  // Label editing: accepted texts replace the label, cancelled ones do not.
  w->run([](HeadlessWindow& d) { d.editListLabel(IDC_LIST, 1); });
  EXPECT_EQ(w->labelEditRow(IDC_LIST), 1);
  EXPECT_EQ(w->endLabelEdit(IDC_LIST, "renamed"), 1);
  EXPECT_EQ(w->cell(IDC_LIST, 1, 0), "renamed");
  EXPECT_EQ(w->labelEditRow(IDC_LIST), -1);
  proc.acceptLabel = false;
  w->run([](HeadlessWindow& d) { d.editListLabel(IDC_LIST, 1); });
  EXPECT_EQ(w->endLabelEdit(IDC_LIST, "again"), 0);
  EXPECT_EQ(w->cell(IDC_LIST, 1, 0), "renamed");

  EXPECT_EQ(w->notify(ListNotify{IDC_LIST, ListEvent::Click, 0, 0, 0, 0, nullptr}), 0);
  w->run([](HeadlessWindow& d) { EXPECT_EQ(d.getSelectedListRow(IDC_LIST), 0); });
  w->run([](HeadlessWindow& d) { d.deleteAllListRows(IDC_LIST); });
  EXPECT_EQ(w->rowCount(IDC_LIST), 0);
}

TEST_F(HeadlessUiTest, ModalDialogFromAnotherThreadIsDrivenByItsHandler) {
  HeadlessMainWindow main;
  main.ui.setDialogHandler(IDD_TEST, [](HeadlessWindow& d) {
    d.type(IDC_NAME, "typed");
    d.click(ID_OK);
  });
  RecordingProc proc;
  int result = 0;
  std::thread runThread([&] { result = main.window->showModal(IDD_TEST, proc); });
  runThread.join();
  EXPECT_EQ(result, ID_OK);
  EXPECT_EQ(proc.inits, 1);
  EXPECT_EQ(main.window->showModal(4242, proc), -1);  // no such template
}

TEST_F(HeadlessUiTest, OpenModalDialogCanBeDrivenFromTheTestAndPostsGoOn) {
  HeadlessMainWindow main;
  RecordingProc proc;
  int result = 0;
  std::thread runThread([&] { result = main.window->showModal(IDD_TEST, proc); });
  HeadlessWindow* dialog = main.ui.waitForDialog(IDD_TEST);
  ASSERT_NE(dialog, nullptr);
  // The main window is still served while the modal dialog is open.
  AppendLog(main.window, IDC_LOG, "while modal\r\n");
  EXPECT_EQ(main.log(), "while modal\r\n");
  dialog->click(ID_CANCEL);
  runThread.join();
  EXPECT_EQ(result, ID_CANCEL);
  EXPECT_EQ(main.ui.waitForDialog(IDD_TEST, 10), nullptr);
}

class OpenerProc : public RecordingProc {
 public:
  void onCommand(Window& window, int id, int code) override {
    if (id == IDC_FLAG) {
      RecordingProc inner;
      modalResult = window.showModal(IDD_SECOND, inner);
    }
    RecordingProc::onCommand(window, id, code);
  }
  int modalResult = 0;
};

TEST_F(HeadlessUiTest, AClickThatOpensAModalDialogCanBePostedAndTheDialogDriven) {
  HeadlessUi ui;
  OpenerProc proc;
  HeadlessWindow* w = ui.open(IDD_TEST, proc);
  w->clickLater(IDC_FLAG);
  HeadlessWindow* dialog = ui.waitForDialog(IDD_SECOND);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->text(0), "Second");
  dialog->click(ID_OK);
  ui.settle();
  EXPECT_EQ(proc.modalResult, ID_OK);
  EXPECT_TRUE(w->checked(IDC_FLAG));
}

TEST_F(HeadlessUiTest, RunDialogEndsWithMinusOneWhenTheUiGoesAway) {
  RecordingProc proc;
  int result = 0;
  std::thread runThread;
  {
    HeadlessUi ui;
    runThread = std::thread([&] { result = ui.runDialog(IDD_TEST, proc); });
    ASSERT_NE(ui.waitForDialog(IDD_TEST), nullptr);
  }
  runThread.join();
  EXPECT_EQ(result, -1);
}

class MenuProc : public RecordingProc {
 public:
  void onCommand(Window& window, int id, int code) override {
    if (id == IDC_FLAG) {
      chosen = window.trackPopupMenu({{5001, "&Open"}, {0, nullptr}, {5002, "&Copy"}}, 10, 20);
      copied = window.setClipboardText("http://example.invalid/");
      std::string folder = "/start";
      browsed = window.browseForFolder("Pick", folder);
      folderChosen = folder;
    }
    RecordingProc::onCommand(window, id, code);
  }
  int chosen = -1;
  bool copied = false;
  bool browsed = false;
  std::string folderChosen;
};

TEST_F(HeadlessUiTest, MenusClipboardAndCommonDialogsAreScripted) {
  HeadlessUi ui;
  MenuProc proc;
  HeadlessWindow* w = ui.open(IDD_TEST, proc);
  w->click(IDC_FLAG);
  EXPECT_EQ(proc.chosen, 0);  // no handler: dismissed
  EXPECT_FALSE(proc.browsed);
  EXPECT_EQ(ui.clipboardText(), "http://example.invalid/");
  EXPECT_EQ(ui.lastMenuTexts(), (std::vector<std::string>{"&Open", "", "&Copy"}));

  ui.setMenuHandler(
      [](const std::vector<MenuItem>&, int x, int y) { return x == 10 && y == 20 ? 5002 : 0; });
  ui.setBrowseForFolderHandler([](const char* title, std::string& value) {
    value = std::string(title) + value;
    return true;
  });
  ui.setClipboardAvailable(false);
  w->click(IDC_FLAG);
  EXPECT_EQ(proc.chosen, 5002);
  EXPECT_FALSE(proc.copied);
  EXPECT_TRUE(proc.browsed);
  EXPECT_EQ(proc.folderChosen, "Pick/start");
  EXPECT_EQ(ui.menuCount(), 2);

  ui.setMenuHandler([](const std::vector<MenuItem>&, int, int) { return 7777; });
  w->click(IDC_FLAG);
  EXPECT_EQ(proc.chosen, 0);  // not a command of the menu
}

TEST_F(HeadlessUiTest, FixtureWindowLooksLikeTheMainWindow) {
  HeadlessMainWindow main;
  EXPECT_EQ(main.window->textLimit(IDC_LOG), LOG_TEXT_LIMIT);
  EXPECT_EQ(main.window->text(IDC_THREAD_COUNT), "0");
  auto columns = main.window->columns(IDC_THREAD_LIST);
  ASSERT_EQ(columns.size(), 4u);
  EXPECT_EQ(columns[0].first, "#");
  EXPECT_EQ(columns[3], std::make_pair(std::string("URL"), 500));
}

}  // namespace

namespace {

TEST(DialogTemplateRegistryTest, ALaterRegistrationOfTheSameNumberReplacesTheEarlier) {
  static const ControlTemplate controls[] = {{ID_OK, ControlKind::PushButton, "OK", 0, 0, 1, 1, 0}};
  static const DialogTemplate first = {9100, "First", 10, 10, controls, 1};
  static const DialogTemplate second = {9100, "Second", 10, 10, controls, 1};
  RegisterDialogTemplate(&first);
  RegisterDialogTemplate(&first);
  EXPECT_EQ(FindDialogTemplate(9100), &first);
  RegisterDialogTemplate(&second);
  EXPECT_EQ(FindDialogTemplate(9100), &second);
  RegisterDialogTemplate(nullptr);
  EXPECT_EQ(FindDialogTemplate(IDD_MAIN_WINDOW), &MAIN_WINDOW_TEMPLATE);
}

}  // namespace
