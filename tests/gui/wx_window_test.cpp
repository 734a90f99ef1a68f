// The dialog system's contract on real widgets under the virtual X server.
#include "ui/wx/wx_window.h"

#include <gtest/gtest.h>
#include <wx/clipbrd.h>
#include <wx/eventfilter.h>
#include <wx/filedlg.h>
#include <wx/listctrl.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "gui/wx_test_support.h"
#include "ui/progress.h"
#include "ui/wx/wx_text.h"

namespace {

constexpr uint32_t kLog = STYLE_MULTILINE | STYLE_AUTOVSCROLL | STYLE_AUTOHSCROLL | STYLE_VSCROLL |
                          STYLE_BORDER | STYLE_LOG;

const ControlTemplate kControls[] = {
    {10, ControlKind::Static, "A &label", 4, 4, 80, 8, 0},
    {ID_STATIC, ControlKind::GroupBox, "Group", 4, 14, 120, 50, 0},
    {13, ControlKind::CheckBox, "&Check", 8, 24, 60, 10, STYLE_TABSTOP},
    {14, ControlKind::RadioButton, "One", 8, 36, 40, 10, STYLE_GROUP | STYLE_AUTORADIO},
    {15, ControlKind::RadioButton, "Two", 50, 36, 40, 10, STYLE_AUTORADIO},
    {16, ControlKind::RadioButton, "Other", 8, 48, 50, 10, STYLE_GROUP | STYLE_AUTORADIO},
    {17, ControlKind::RadioButton, "Else", 60, 48, 50, 10, STYLE_AUTORADIO},
    {20, ControlKind::Edit, "", 130, 4, 100, 12, STYLE_BORDER | STYLE_TABSTOP},
    {21, ControlKind::Edit, "", 130, 20, 150, 50, kLog},
    {30, ControlKind::ListView, "", 4, 74, 276, 70,
     STYLE_SINGLESEL | STYLE_EDITLABELS | STYLE_BORDER | STYLE_TABSTOP},
    {40, ControlKind::ProgressBar, "", 4, 150, 200, 10, 0},
    {ID_OK, ControlKind::DefPushButton, "OK", 176, 166, 50, 14, STYLE_TABSTOP},
    {ID_CANCEL, ControlKind::PushButton, "Cancel", 230, 166, 50, 14, STYLE_TABSTOP},
};
const DialogTemplate kTemplate = {
    9001, "Contract", 284,
    184,  kControls,  static_cast<int>(sizeof kControls / sizeof kControls[0])};

// Records what reaches the procedure; the list texts come from the row data.
class RecordingProc : public DialogProc {
 public:
  bool onInit(Window&) override { return true; }
  void onCommand(Window& window, int id, int code) override {
    commands.push_back({id, code});
    if (code == 0 && (id == ID_OK || id == ID_CANCEL)) window.endDialog(id);
  }
  void onMessage(Window&, int message, intptr_t wParam, intptr_t) override {
    messages.push_back({message, static_cast<int>(wParam)});
  }
  int onListNotify(Window&, const ListNotify& notify) override {
    notifies.push_back(notify);
    if (notify.event == ListEvent::EndLabelEdit) edited = notify.text ? notify.text : "<none>";
    return 1;
  }
  std::string listCellText(Window&, int, ItemData data, int column) override {
    return "r" + std::to_string(data) + "c" + std::to_string(column);
  }
  std::vector<std::pair<int, int>> commands;
  std::vector<std::pair<int, int>> messages;
  std::vector<ListNotify> notifies;
  std::string edited;
};

int RunContract(RecordingProc& proc, std::function<void(Window&)> body) {
  ScriptedProc scripted(proc, std::move(body));
  return RunDialogTemplate(nullptr, kTemplate, scripted);
}

int ByDataDescending(ItemData a, ItemData b, intptr_t) { return static_cast<int>(b - a); }
int ByParity(ItemData a, ItemData b, intptr_t param) {
  return static_cast<int>((a % param) - (b % param));
}

TEST(WxWindow, EditTextSelectionAndLimit) {
  RecordingProc proc;
  int result = RunContract(proc, [](Window& window) {
    Controls& c = window.controls();
    // Appending the way the logs are written: at the end, keeping what was there.
    c.replaceSelection(21, "Welcome\r\n");
    c.setSelection(21, c.getTextLength(21), c.getTextLength(21));
    c.replaceSelection(21, "caf\xc3\xa9 line\r\n");
    EXPECT_EQ(c.getText(21), "Welcome\r\ncaf\xc3\xa9 line\r\n");
    EXPECT_EQ(c.getTextLength(21), 21);
    // Byte offsets around a two-byte character.
    c.setSelection(21, 9, 14);
    int start = -1, end = -1;
    c.getSelection(21, &start, &end);
    EXPECT_EQ(start, 9);
    EXPECT_EQ(end, 14);
    c.replaceSelection(21, "tea");
    EXPECT_EQ(c.getText(21), "Welcome\r\ntea line\r\n");
    // Trimming the head, as a full log does.
    c.setSelection(21, 0, 9);
    c.clearSelection(21);
    EXPECT_EQ(c.getText(21), "tea line\r\n");
    // Bytes that are not UTF-8 are shown as Windows-1252 and read back as UTF-8.
    c.setText(20, "Gr\xfc\xdf \x80");
    EXPECT_EQ(c.getText(20), "Gr\xc3\xbc\xc3\x9f \xe2\x82\xac");
    // The limit cuts what would not fit.
    c.setText(20, "");
    c.setTextLimit(20, 5);
    c.replaceSelection(20, "abcdefgh");
    EXPECT_EQ(c.getText(20), "abcde");
    c.setTextLimit(21, 12);
    c.setSelection(21, -1 + 100, 100);
    c.replaceSelection(21, "0123456789");
    EXPECT_EQ(c.getText(21), "tea line\r\n01");
    window.endDialog(5);
  });
  EXPECT_EQ(result, 5);
}

TEST(WxWindow, ButtonsChecksRadiosAndCaption) {
  RecordingProc proc;
  RunContract(proc, [&proc](Window& window) {
    Controls& c = window.controls();
    EXPECT_EQ(c.getText(0), "Contract");
    c.setText(0, "Renamed");
    EXPECT_EQ(c.getText(0), "Renamed");
    EXPECT_EQ(c.getText(10), "A &label");
    c.setText(ID_OK, "&Abort");
    EXPECT_EQ(c.getText(ID_OK), "&Abort");
    EXPECT_TRUE(c.isEnabled(ID_CANCEL));
    c.setEnabled(ID_CANCEL, false);
    EXPECT_FALSE(c.isEnabled(ID_CANCEL));
    EXPECT_FALSE(c.isChecked(13));
    c.setChecked(13, true);
    EXPECT_TRUE(c.isChecked(13));
    c.setChecked(15, true);
    c.setChecked(17, true);
    EXPECT_FALSE(c.isChecked(14));
    EXPECT_TRUE(c.isChecked(15));
    EXPECT_TRUE(c.isChecked(17));
    c.setChecked(14, true);
    EXPECT_FALSE(c.isChecked(15));
    EXPECT_TRUE(c.isChecked(17));  // the other group is untouched
    // A real click on a radio button checks it and reaches the procedure.
    ClickAt(ScreenCentre(WxControlOf(window, 16)));
    EXPECT_TRUE(WaitFor([&] { return c.isChecked(16); }));
    EXPECT_FALSE(c.isChecked(17));
    bool clicked = false;
    for (auto [id, code] : proc.commands) clicked |= id == 16 && code == 0;
    EXPECT_TRUE(clicked);
    // Unknown ids do nothing.
    EXPECT_EQ(c.getText(4242), "");
    EXPECT_FALSE(c.isChecked(4242));
    c.setText(4242, "x");
    // Escape is the cancel command; the procedure decides.
    wxUIActionSimulator sim;
    WxControlOf(window, 20)->SetFocus();
    Settle();
    sim.Char(WXK_ESCAPE);
  });
  ASSERT_FALSE(proc.commands.empty());
  EXPECT_EQ(proc.commands.back(), std::make_pair(ID_CANCEL, 0));
}

TEST(WxWindow, EnterClicksTheDefaultButtonUnlessAPushButtonHasTheFocus) {
  RecordingProc proc;
  int result = RunContract(proc, [](Window& window) {
    WxControlOf(window, 13)->SetFocus();  // a check box: Enter is not its own
    Settle();
    wxUIActionSimulator sim;
    sim.Char(WXK_RETURN);
  });
  EXPECT_EQ(result, ID_OK);
  EXPECT_EQ(proc.commands.back(), std::make_pair(ID_OK, 0));

  RecordingProc other;
  result = RunContract(other, [](Window& window) {
    WxControlOf(window, ID_CANCEL)->SetFocus();
    Settle();
    wxUIActionSimulator sim;
    sim.Char(WXK_RETURN);
  });
  EXPECT_EQ(result, ID_CANCEL);
}

TEST(WxWindow, PopupMenuReturnsTheChosenCommandAndClipboardTakesText) {
  RecordingProc proc;
  RunContract(proc, [](Window& window) {
    EXPECT_TRUE(window.setClipboardText("http://tarnwell.example/caf\xc3\xa9"));
    {
      wxClipboardLocker locker;
      wxTextDataObject data;
      ASSERT_TRUE(wxTheClipboard->GetData(data));
      EXPECT_EQ(FromWxText(data.GetText()), "http://tarnwell.example/caf\xc3\xa9");
    }
    // The menu is chosen from with the keyboard once it shows: the second item.
    wxTimer keys;
    keys.Bind(wxEVT_TIMER, [](wxTimerEvent&) {
      wxUIActionSimulator sim;
      sim.Char(WXK_DOWN);
      sim.Char(WXK_DOWN);
      sim.Char(WXK_RETURN);
    });
    keys.StartOnce(500);
    wxPoint at = ScreenCentre(WxControlOf(window, 30));
    const std::vector<MenuItem> items = {
        {2, "&Delete"}, {3, "&Shift"}, {0, nullptr}, {11, "&Browser"}};
    const int chosen = window.trackPopupMenu(items, at.x, at.y);
    EXPECT_EQ(chosen, 3);
    window.endDialog(0);
  });
}

TEST(WxWindow, ProgressBar) {
  RecordingProc proc;
  RunContract(proc, [](Window& window) {
    Controls& c = window.controls();
    c.setProgressRange(40, 0, 30);
    c.setProgressStep(40, 10);
    c.stepProgress(40);
    c.stepProgress(40);
    EXPECT_EQ(c.getProgressPos(40), 20);
    c.stepProgress(40);
    EXPECT_EQ(c.getProgressPos(40), 30);
    c.stepProgress(40);  // past the end: back to the start
    EXPECT_EQ(c.getProgressPos(40), 0);
    c.setProgressPos(40, 99);
    EXPECT_EQ(c.getProgressPos(40), 30);
    window.endDialog(0);
  });
}

TEST(WxWindow, ListRowsCellsSortAndHitTest) {
  RecordingProc proc;
  RunContract(proc, [&proc](Window& window) {
    Controls& c = window.controls();
    c.insertListColumn(30, 0, "Name", 80);
    c.insertListColumn(30, 1, "Type", 60);
    c.insertListColumn(30, 2, "Problem", 90);
    EXPECT_EQ(c.getListColumnWidth(30, 1), 60);
    for (int i = 0; i < 6; ++i) c.insertListRow(30, i, 10 + i, nullptr);
    EXPECT_EQ(c.insertListRow(30, 99, 99, "stored"), 6);
    EXPECT_EQ(c.getListRowCount(30), 7);
    EXPECT_EQ(c.getListCell(30, 2, 1), "r12c1");
    EXPECT_EQ(c.getListCell(30, 6, 0), "stored");
    c.setListCell(30, 2, 1, "set");
    EXPECT_EQ(c.getListCell(30, 2, 1), "set");
    c.setListCell(30, 2, 1, nullptr);
    EXPECT_EQ(c.getListCell(30, 2, 1), "r12c1");
    EXPECT_EQ(c.findListRow(30, 13), 3);
    EXPECT_EQ(c.findListRow(30, 77), -1);
    c.deleteListRow(30, 6);
    EXPECT_EQ(c.getListRowCount(30), 6);
    // Stable: rows of equal parity keep their order.
    c.sortList(30, ByParity, 2);
    std::vector<ItemData> order;
    for (int r = 0; r < 6; ++r) order.push_back(c.getListRowData(30, r));
    EXPECT_EQ(order, (std::vector<ItemData>{10, 12, 14, 11, 13, 15}));
    c.sortList(30, ByDataDescending, 0);
    EXPECT_EQ(c.getListRowData(30, 0), 15);
    // Fit to contents: wider than the text itself.
    c.setListColumnWidth(30, 2, -1);
    EXPECT_GE(c.getListColumnWidth(30, 2), c.measureText(30, "r15c2"));
    EXPECT_GT(c.measureText(30, "wide text"), c.measureText(30, "w"));
    c.redrawListRows(30, -1, -1);

    // A real click lands on the cell under the pointer, header row not counted.
    auto* list = WxControlOf(window, 30);
    wxListCtrl* listCtrl = dynamic_cast<wxListCtrl*>(list);
    ASSERT_NE(listCtrl, nullptr);
    wxRect cell;
    ASSERT_TRUE(listCtrl->GetSubItemRect(1, 2, cell));
    wxPoint at = listCtrl->ClientToScreen(cell.GetPosition() + wxPoint(5, cell.height / 2));
    proc.notifies.clear();
    ClickAt(at);
    ASSERT_TRUE(WaitFor([&] {
      for (const ListNotify& n : proc.notifies) {
        if (n.event == ListEvent::Click) return true;
      }
      return false;
    }));
    for (const ListNotify& n : proc.notifies) {
      if (n.event == ListEvent::Click) {
        EXPECT_EQ(n.row, 1);
        EXPECT_EQ(n.column, 2);
      }
    }
    EXPECT_EQ(c.getSelectedListRow(30), 1);
    proc.notifies.clear();
    ClickAt(at, true);
    ASSERT_TRUE(WaitFor([&] {
      for (const ListNotify& n : proc.notifies) {
        if (n.event == ListEvent::DoubleClick) return n.row == 1 && n.column == 2;
      }
      return false;
    }));

    // Label editing ends through the procedure with the edited text.
    c.editListLabel(30, 0);
    Settle();
    wxUIActionSimulator sim;
    sim.Text("renamed");
    sim.Char(WXK_RETURN);
    EXPECT_TRUE(WaitFor([&] { return !proc.edited.empty(); }));
    EXPECT_EQ(proc.edited, "renamed");
    // Escape cancels the editing: the procedure hears of it without a text.
    proc.edited.clear();
    c.editListLabel(30, 1);
    Settle();
    sim.Text("dropped");
    sim.Char(WXK_ESCAPE);
    EXPECT_TRUE(WaitFor([&] { return !proc.edited.empty(); }));
    EXPECT_EQ(proc.edited, "<none>");

    // A right click names the row and the column under the pointer and where it was.
    ASSERT_TRUE(listCtrl->GetSubItemRect(2, 1, cell));
    at = listCtrl->ClientToScreen(cell.GetPosition() + wxPoint(5, cell.height / 2));
    proc.notifies.clear();
    sim.MouseMove(at);
    Settle();
    sim.MouseClick(wxMOUSE_BTN_RIGHT);
    ASSERT_TRUE(WaitFor([&] {
      for (const ListNotify& n : proc.notifies) {
        if (n.event == ListEvent::ContextMenu) return true;
      }
      return false;
    }));
    for (const ListNotify& n : proc.notifies) {
      if (n.event != ListEvent::ContextMenu) continue;
      EXPECT_EQ(n.row, 2);
      EXPECT_EQ(n.column, 1);
      EXPECT_LE(std::abs(n.screenX - at.x), 2);
      EXPECT_LE(std::abs(n.screenY - at.y), 2);
    }
    c.deleteAllListRows(30);
    EXPECT_EQ(c.getListRowCount(30), 0);
    window.endDialog(0);
  });
}

TEST(WxWindow, PostedWorkFromManyThreadsLandsInOrder) {
  RecordingProc proc;
  constexpr int kThreads = 64;
  const int each = std::getenv("QF_POST_COUNT") ? std::atoi(std::getenv("QF_POST_COUNT")) : 300;
  std::vector<std::vector<int>> seen(kThreads);
  RunContract(proc, [&](Window& window) {
    // How long one turn of the event loop takes while the workers write (reported, not
    // asserted: a test asserts no time).
    std::chrono::steady_clock::duration longest{};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&window, &seen, t, each] {
        for (int i = 0; i < each; ++i) {
          AppendLogF(&window, 21, "%d: a line of the log written by worker %d\r\n", i, t);
          window.post([&seen, t, i](Controls&) { seen[t].push_back(i); });
        }
        window.postMessage(WM_APP + 1, t, 0);
      });
    }
    EXPECT_TRUE(WaitFor(
        [&] {
          const auto before = std::chrono::steady_clock::now();
          wxTheApp->Yield(true);
          longest = std::max(longest, std::chrono::steady_clock::now() - before);
          return proc.messages.size() == kThreads;
        },
        120));
    for (std::thread& thread : threads) thread.join();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(longest).count();
    std::printf("longest turn of the event loop while %d threads wrote %d lines each: %lld ms\n",
                kThreads, each, static_cast<long long>(ms));
    ::testing::Test::RecordProperty("longest_stall_ms", static_cast<int>(ms));
    const int length = window.controls().getTextLength(21);
    EXPECT_LE(length, LOG_TEXT_LIMIT);
    EXPECT_GT(length, LOG_TRIM_THRESHOLD - LOG_TRIM_COUNT);
    window.endDialog(0);
  });
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<size_t>(each));
    for (int i = 0; i < each; ++i) ASSERT_EQ(seen[t][i], i);
  }
}

TEST(WxWindow, TypingIntoALogChangesNothing) {
  RecordingProc proc;
  RunContract(proc, [](Window& window) {
    Controls& c = window.controls();
    c.replaceSelection(21, "Welcome to Quillfen!\r\n\r\n");
    wxWindow* log = WxControlOf(window, 21);
    ClickAt(ScreenCentre(log));
    log->SetFocus();  // without a window manager the click alone may leave the focus out
    Settle();
    ASSERT_EQ(wxWindow::FindFocus(), log);
    wxUIActionSimulator sim;
    sim.Text("typed");
    sim.Char(WXK_BACK);
    sim.Char(WXK_DELETE);
    sim.Char('v', wxMOD_CONTROL);
    sim.Char('x', wxMOD_CONTROL);
    Settle();
    EXPECT_EQ(c.getText(21), "Welcome to Quillfen!\r\n\r\n");
    EXPECT_EQ(static_cast<wxTextCtrl*>(log)->GetValue(), "Welcome to Quillfen!\r\n\r\n");
    // Selecting and copying still work.
    c.setSelection(21, 0, 7);
    ASSERT_EQ(wxWindow::FindFocus(), log);
    sim.Char('c', wxMOD_CONTROL);
    Settle();
    {
      wxClipboardLocker locker;
      wxTextDataObject data;
      ASSERT_TRUE(wxTheClipboard->GetData(data));
      EXPECT_EQ(data.GetText(), "Welcome");
    }
    // The program still appends.
    int length = c.getTextLength(21);
    c.setSelection(21, length, length);
    c.replaceSelection(21, "more\r\n");
    EXPECT_EQ(c.getText(21), "Welcome to Quillfen!\r\n\r\nmore\r\n");
    window.endDialog(0);
  });
}

// Tab moves only between the template's tab stops: never into the log, which the user
// reaches by clicking it.
TEST(WxWindow, TabReachesOnlyTheTemplatesTabStops) {
  RecordingProc proc;
  RunContract(proc, [](Window& window) {
    WxControlOf(window, 13)->SetFocus();
    Settle();
    std::vector<int> reached;
    wxUIActionSimulator sim;
    for (int i = 0; i < 12; ++i) {
      sim.Char(WXK_TAB);
      Settle();
      wxWindow* focus = wxWindow::FindFocus();
      for (int id : {13, 14, 15, 16, 17, 20, 21, 30, ID_OK, ID_CANCEL}) {
        wxWindow* control = WxControlOf(window, id);
        if (focus && (focus == control || focus->GetParent() == control)) reached.push_back(id);
      }
    }
    auto seen = [&](int id) { return std::count(reached.begin(), reached.end(), id) > 0; };
    for (int id : {13, 20, 30, ID_OK, ID_CANCEL}) EXPECT_TRUE(seen(id)) << id;
    EXPECT_FALSE(seen(21));
    window.endDialog(0);
  });
}

// Where file dialogs match names by case, each pattern comes in both cases, and "*.*" is
// every file; the box opens with the first filter chosen.
TEST(WxWindow, FileDialogFiltersMatchBothCasesAndTheFirstIsChosen) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> filters;
    const char* wildcard;
  };
  const Case cases[] = {
      {{{"HTML files", "*.HTM;*.HTML"}, {"All files", "*.*"}},
       "HTML files|*.htm;*.html;*.HTM;*.HTML|All files|*"},
      {{{"Shortcuts", "*.url; *.Url;*.URL"}}, "Shortcuts|*.url;*.URL"},
      {{{"Any", "bookmarks"}}, "Any|bookmarks;BOOKMARKS"},
  };
  for (const Case& c : cases) EXPECT_EQ(FileDialogWildcard(c.filters), c.wildcard);

  RecordingProc proc;
  RunContract(proc, [&cases](Window& window) {
    int filterIndex = -2;
    wxString wildcard;
    // The toolkit's file dialog is in no list of windows; it is found by the events it
    // receives.
    struct Spy : wxEventFilter {
      wxFileDialog* seen = nullptr;
      int FilterEvent(wxEvent& event) override {
        if (auto* chooser = dynamic_cast<wxFileDialog*>(event.GetEventObject())) seen = chooser;
        return Event_Skip;
      }
    } spy;
    wxEvtHandler::AddFilter(&spy);
    wxTimer closer;
    closer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
      if (!spy.seen || !spy.seen->IsShown()) return;
      filterIndex = spy.seen->GetFilterIndex();
      wildcard = spy.seen->GetWildcard();
      spy.seen->EndModal(wxID_CANCEL);
      closer.Stop();
    });
    closer.Start(50);
    std::string value = "/tmp/bookmarks.html";
    EXPECT_FALSE(window.chooseOpenFile("Select bookmark file", cases[0].filters, value));
    closer.Stop();
    wxEvtHandler::RemoveFilter(&spy);
    EXPECT_EQ(filterIndex, 0);
    EXPECT_EQ(wildcard, cases[0].wildcard);
    EXPECT_EQ(value, "/tmp/bookmarks.html");
    window.endDialog(0);
  });
}

// A dialog that ends itself at once with the number it was given.
class EndAtOnce : public DialogProc {
 public:
  explicit EndAtOnce(int result) : result_(result) {}
  bool onInit(Window& window) override {
    window.endDialog(result_);
    return true;
  }

 private:
  int result_;
};

TEST(WxWindow, ModalFromAnotherThreadRunsOnTheUiThread) {
  RegisterDialogTemplate(&kTemplate);
  RecordingProc proc;
  RunContract(proc, [](Window& window) {
    std::atomic<int> result{-100};
    EndAtOnce inner(42);
    std::thread runner([&] { result = window.showModal(9001, inner); });
    EXPECT_TRUE(WaitFor([&] { return result != -100; }));
    runner.join();
    EXPECT_EQ(result, 42);
    EXPECT_EQ(window.showModal(424242, inner), -1);  // no such template
    window.endDialog(0);
  });
}

}  // namespace

QF_GUI_TEST_MAIN()
