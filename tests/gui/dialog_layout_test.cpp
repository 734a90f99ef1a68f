// The program's dialogs on real widgets: nothing clipped, nothing overlapping, and (when
// QF_SCREENSHOT_DIR names a folder) a PNG of each for the README.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/textctrl.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/about_dialog.h"
#include "tree/settings.h"
#include "app/settings_dialog.h"
#include "ui/progress.h"
#include "gui/wx_test_support.h"
#include "results/results_dialog.h"
#include "tree/link_tree.h"

namespace {

// Saves what the virtual screen shows of the dialog.
void Screenshot(Window& window, const char* name) {
  const char* folder = std::getenv("QF_SCREENSHOT_DIR");
  if (!folder || !*folder) return;
  wxRect rect = WxWindowOf(window)->GetScreenRect();
  std::string command = "import -window root -crop " + std::to_string(rect.width) + "x" +
                        std::to_string(rect.height) + "+" + std::to_string(rect.x) + "+" +
                        std::to_string(rect.y) + " +repage '" + folder + "/" + name + ".png'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

// Every control lies inside the dialog, no two overlap (a group box may hold others), and
// every button, check box, radio button and one-line edit has the room its text and frame
// need.
void ExpectCleanLayout(Window& window, const DialogTemplate& tmpl) {
  wxWindow* dialog = WxWindowOf(window);
  ASSERT_NE(dialog, nullptr);
  const wxRect client(wxPoint(0, 0), dialog->GetClientSize());
  std::vector<std::pair<wxRect, bool>> placed;  // rectangle, is a group box
  for (const wxWindow* child : dialog->GetChildren()) {
    if (!child->IsShown()) continue;
    const wxRect rect = child->GetRect();
    EXPECT_TRUE(client.Contains(rect))
        << tmpl.caption << ": control " << child->GetId() << " leaves the dialog";
    const bool box = dynamic_cast<const wxStaticBox*>(child) != nullptr;
    if (dynamic_cast<const wxButton*>(child) || dynamic_cast<const wxCheckBox*>(child) ||
        dynamic_cast<const wxRadioButton*>(child)) {
      const wxSize best = child->GetBestSize();
      EXPECT_GE(rect.height, best.y)
          << tmpl.caption << ": control " << child->GetId() << " is clipped in height";
      EXPECT_GE(rect.width, best.x)
          << tmpl.caption << ": control " << child->GetId() << " \""
          << child->GetLabel().utf8_str().data() << "\" is clipped in width";
    }
    if (auto* edit = dynamic_cast<const wxTextCtrl*>(child); edit && !edit->IsMultiLine()) {
      // A one-line edit asks for more than it needs; its text needs a line and the frame.
      EXPECT_GE(rect.height, edit->GetCharHeight() + 8)
          << tmpl.caption << ": edit " << child->GetId() << " is clipped in height";
    }
    for (const auto& [other, otherBox] : placed) {
      if (box || otherBox) continue;
      EXPECT_FALSE(rect.Intersects(other))
          << tmpl.caption << ": control " << child->GetId() << " overlaps another";
    }
    placed.push_back({rect, box});
  }
}

// A main window as it looks during a run, without starting one.
class MainWindowLook : public DialogProc {
 public:
  bool onInit(Window& window) override {
    Controls& c = window.controls();
    c.setText(IDC_THREAD_COUNT, "3");
    c.insertListColumn(IDC_THREAD_LIST, 0, "#", c.measureText(IDC_THREAD_LIST, "#") + 16);
    c.insertListColumn(IDC_THREAD_LIST, 1, "Status",
                       c.measureText(IDC_THREAD_LIST, "Checking host name"));
    c.insertListColumn(IDC_THREAD_LIST, 2, "Name", 140);
    c.insertListColumn(IDC_THREAD_LIST, 3, "URL", 500);
    const char* rows[][3] = {
        {"Checking host name", "Tarnwell news", "http://news.tarnwell.example/"},
        {"Contacting host", "Recipes", "http://food.example.org/recipes/"},
        {"Waiting for reply", "Maps", "http://maps.example.net/"}};
    for (int i = 0; i < 3; ++i) {
      std::string number = std::to_string(i + 1);
      c.insertListRow(IDC_THREAD_LIST, i, i, number.c_str());
      for (int column = 0; column < 3; ++column) {
        c.setListCell(IDC_THREAD_LIST, i, column + 1, rows[i][column]);
      }
    }
    c.replaceSelection(IDC_LOG,
                       "Welcome to Quillfen!\r\n\r\nBuilding URL list...\r\n"
                       "Reading Navigator Bookmarks...\r\nReading Explorer Favorites...\r\n\r\n"
                       "Checking 214 URLs...\r\n\r\n"
                       "1: Connecting to news.tarnwell.example:80...\r\n"
                       "1: Retrieving information for /...\r\n1: HTTP/1.1 200 OK\r\n"
                       "2: Connecting to food.example.org:80...\r\n");
    c.replaceSelection(IDC_PROBLEMS, "Not found: http://example.com/gone.html\r\n");
    c.setProgressRange(IDC_PROGRESS, 0, 214);
    c.setProgressPos(IDC_PROGRESS, 80);
    return true;
  }
};

void ShowAndCheck(int templateId, DialogProc& proc, const char* name) {
  const DialogTemplate* tmpl = FindDialogTemplate(templateId);
  ASSERT_NE(tmpl, nullptr) << name;
  bool ran = false;
  ScriptedProc scripted(proc, [&](Window& window) {
    ran = true;
    ExpectCleanLayout(window, *tmpl);
    Screenshot(window, name);
    window.endDialog(0);
  });
  RunDialogTemplate(nullptr, *tmpl, scripted);
  EXPECT_TRUE(ran);
}

TEST(DialogLayout, MainWindow) {
  MainWindowLook proc;
  ShowAndCheck(IDD_MAIN_WINDOW, proc, "main_window");
}

TEST(DialogLayout, SettingsDialog) {
  Settings record;
  record.favoritesFolder.assignPath("/home/user/Favorites");
  record.bookmarkFile.assignPath("/home/user/.netscape/bookmarks.html");
  Settings* saved = settings;
  settings = &record;
  SettingsDialogProc proc;
  ShowAndCheck(IDD_SETTINGS, proc, "settings");
  settings = saved;
}

TEST(DialogLayout, AboutBox) {
  AboutDialogProc proc;
  ShowAndCheck(IDD_ABOUT, proc, "about");
}

LinkEntry* AddLink(NodeList& list, const char* name, const char* url, int result, int source,
                   int action, const char* newUrl = "") {
  auto* entry = new LinkEntry(name, url, 0);
  entry->checkResult = result;
  entry->source = source;
  entry->action = action;
  entry->newUrl.assign(newUrl);
  list.addTail(entry);
  return entry;
}

TEST(DialogLayout, ResultsDialog) {
  NodeList tree;
  AddLink(tree, "Old recipes", "http://food.example.org/old/", CHECK_NOT_FOUND, SOURCE_BOOKMARKS,
          ACTION_DELETE);
  AddLink(tree, "Tarnwell news", "http://news.tarnwell.example/", CHECK_MOVED, 3, ACTION_UPDATE,
          "https://news.tarnwell.example/");
  AddLink(tree, "Private wiki", "http://wiki.example.net/", CHECK_FORBIDDEN, SOURCE_FAVORITES,
          ACTION_SHIFT);
  AddLink(tree, "Vanished host", "http://no-such-host.example/", CHECK_INVALID_HOST,
          SOURCE_FAVORITES, ACTION_LEAVE);
  AddLink(tree, "Old gallery", "http://photos.example.org/2009/", CHECK_GONE, SOURCE_BOOKMARKS,
          ACTION_DELETE);
  AddLink(tree, "Home server", "https://nas.example.net/", CHECK_CERTIFICATE, SOURCE_BOOKMARKS,
          ACTION_LEAVE);
  ResultsDialogProc proc(tree);
  ShowAndCheck(IDD_RESULTS, proc, "results");
  FreeTree(tree);
}

}  // namespace

QF_GUI_TEST_MAIN()
