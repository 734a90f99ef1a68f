// The results dialog on real widgets: renaming a row through its context menu, as a user
// does it, many times over.
#include "results/results_dialog.h"

#include <gtest/gtest.h>
#include <wx/listctrl.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include <chrono>
#include <string>

#include "gui/wx_test_support.h"
#include "tree/link_tree.h"
#include "support/cat.h"

namespace {

// The label editor of the list, when it shows.
wxTextCtrl* ShownEditor(wxWindow* list) {
  for (wxWindow* child : list->GetChildren()) {
    auto* editor = dynamic_cast<wxTextCtrl*>(child);
    if (editor && editor->IsShown()) return editor;
  }
  return nullptr;
}

// Right click on the row, Rename from the menu, type, Enter: again and again. Each step is
// taken from a timer as soon as the one before has shown its effect, so that the keys
// follow the menu as quickly as a user's do. Enter must end the editing with the typed name
// every time and never reach the dialog's OK; Enter on an untouched name that is not UTF-8
// must leave its bytes alone.
TEST(ResultsDialogWindow, RenameTypeEnterNeverConfirmsTheDialog) {
  NodeList tree;
  auto* entry = new LinkEntry("Caf\xe9 menu", "http://food.example.org/old/", 0);
  entry->checkResult = CHECK_NOT_FOUND;
  entry->source = SOURCE_BOOKMARKS;
  tree.addTail(entry);
  ResultsDialogProc proc(tree);

  constexpr int kRounds = 12;
  enum class Step { Click, Menu, Editor, Name } step = Step::Click;
  int round = 0;
  bool ended = false;
  std::string expected;
  auto stepStarted = std::chrono::steady_clock::now();
  wxTimer timer;
  ScriptedProc scripted(proc, [&](Window& window) {
    auto* list = dynamic_cast<wxListCtrl*>(WxControlOf(window, IDC_RESULTS_LIST));
    ASSERT_NE(list, nullptr);
    wxRect cell;
    ASSERT_TRUE(list->GetSubItemRect(0, RESULT_COLUMN_TYPE, cell));
    const wxPoint row = list->ClientToScreen(cell.GetPosition() + wxPoint(4, cell.height / 2));
    timer.Bind(wxEVT_TIMER, [&, list, row](wxTimerEvent&) {
      if (ended) return;
      const auto now = std::chrono::steady_clock::now();
      if (now - stepStarted > std::chrono::seconds(10)) {
        ADD_FAILURE() << "round " << round << " stuck at step " << static_cast<int>(step);
        ended = true;
        if (Window* shown = ActiveWxWindow()) shown->endDialog(-1);
        return;
      }
      switch (step) {
        case Step::Click: {
          // As a right click on the row asks for it. The menu then runs a loop of its own,
          // which must start from the event loop: inside this timer's callback (or inside a
          // simulated click, which yields) the timer would not fire again until it ended.
          wxContextMenuEvent menu(wxEVT_CONTEXT_MENU, list->GetId(), row);
          menu.SetEventObject(list);
          list->GetEventHandler()->AddPendingEvent(menu);
          step = Step::Menu;
          break;
        }
        case Step::Menu:
          // The menu has no way to say it shows; the editor appears once Rename is chosen.
          if (now - stepStarted < std::chrono::milliseconds(250)) return;
          wxUIActionSimulator().Char('r');
          step = Step::Editor;
          break;
        case Step::Editor: {
          if (!ShownEditor(list)) return;
          // (Made only here: making one yields, which would open the menu inside this
          // callback.)
          wxUIActionSimulator keys;
          if (round == 0) {
            expected = "Caf\xe9 menu";  // untouched: the same bytes
          } else {
            expected = Cat("R", round);
            keys.Text(expected.c_str());
          }
          keys.Char(WXK_RETURN);
          step = Step::Name;
          break;
        }
        case Step::Name:
          if (ShownEditor(list) || expected != entry->name) return;
          if (++round == kRounds) {
            ended = true;
            window.endDialog(7);
            return;
          }
          step = Step::Click;
          break;
      }
      stepStarted = now;
    });
    stepStarted = std::chrono::steady_clock::now();
    timer.Start(15);
  });
  const int result = RunDialogTemplate(nullptr, *FindDialogTemplate(IDD_RESULTS), scripted);
  timer.Stop();
  EXPECT_EQ(result, 7) << "the dialog ended in round " << round;
  EXPECT_EQ(round, kRounds);
  FreeTree(tree);
}

}  // namespace

QF_GUI_TEST_MAIN()
