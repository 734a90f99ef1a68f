// The results dialog: lists every problem link of a run so that the user can change its
// action, rename it, open or copy its address, and then confirm (1) or cancel (0) the saving.
// The dialog changes the tree directly (action and name of the listed entries).
//
// Threads: the dialog is shown with showModal() from the clean-run thread; every function
// here runs on the UI thread of that dialog, while the clean-run thread waits for it and no
// worker exists, so the tree needs no lock. GetResultText and CompareResults keep no state
// and may run on any thread that owns the tree at that moment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tree/link_tree.h"
#include "ui/window.h"

constexpr int IDD_RESULTS = 103;
constexpr int IDC_RESULTS_LIST = 1023;
constexpr int IDC_DELETE_ALL = 1030;
constexpr int IDC_SHIFT_ALL = 1031;
constexpr int IDC_LEAVE_ALL_BROKEN = 1032;
constexpr int IDC_UPDATE_ALL = 1033;
constexpr int IDC_LEAVE_ALL_MOVED = 1034;

// Columns of the list, in the order they are inserted.
constexpr int RESULT_COLUMN_NAME = 0;
constexpr int RESULT_COLUMN_TYPE = 1;
constexpr int RESULT_COLUMN_PROBLEM = 2;
constexpr int RESULT_COLUMN_ACTION = 3;
constexpr int RESULT_COLUMN_URL = 4;
constexpr int RESULT_COLUMN_NEW_URL = 5;
constexpr int RESULT_COLUMN_COUNT = 6;

// Size of the buffers CompareResults compares in; longer texts are cut to fit.
constexpr size_t RESULT_TEXT_SIZE = 260;

// Commands of the context menu besides the actions (which carry their own value).
constexpr int RESULTS_MENU_RENAME = 10;
constexpr int RESULTS_MENU_BROWSER = 11;
constexpr int RESULTS_MENU_COPY_URL = 12;
constexpr int RESULTS_MENU_COPY_NEW_URL = 13;

// Makes template 103 known to the dialog system. Idempotent; the dialog procedure's
// constructor calls it, so whoever shows the dialog need not.
void RegisterResultsDialogTemplate();

// What the menu's "open in browser" calls with a row's address. Starting a browser is the
// program's business, above this layer: the program sets it before any dialog is shown; left
// unset, the command does nothing.
using LinkOpener = void (*)(const char* address);
void SetLinkOpener(LinkOpener open);

class ResultsDialogProc : public DialogProc {
 public:
  explicit ResultsDialogProc(NodeList& tree);

  bool onInit(Window& window) override;
  void onCommand(Window& window, int id, int code) override;
  void onClose(Window& window) override;
  int onListNotify(Window& window, const ListNotify& notify) override;
  std::string listCellText(Window& window, int listId, ItemData data, int column) override;

 private:
  NodeList& tree_;
};

// Inserts the six columns, one row per problem link of the tree (depth first, in walk
// order), sorts them by name and sizes the columns.
void InitResultsDialog(Window& dialog, NodeList& tree);

// The text of one column for an entry: it points into the entry or to a constant text and
// stays valid until the entry changes. Never null.
const char* GetResultText(const LinkEntry& entry, int column);
// The same text copied into buffer (size bytes), cut to fit and always terminated.
void GetResultText(const LinkEntry& entry, int column, char* buffer, size_t size);

// ListCompare over two rows' entries for the column given as param: the column's texts
// compared ignoring case; equal texts of any column but the name fall back to the names.
int CompareResults(ItemData entry1, ItemData entry2, intptr_t column);

// A click, double click or focus change in the list. A click on the Action column steps the
// row's action once; a double click on the Name column opens the link in the browser. A
// change of focus steps nothing, since the click that caused it arrives as well.
void OnResultsClick(Window& dialog, const ListNotify& notify);

// The context menu of the row under the pointer, tracked at the given screen position, and
// what the chosen command does.
void ShowResultsMenu(Window& dialog, int row, int screenX, int screenY);

// Label editing of a row ended; text is null when it was cancelled. Returns 1 when the entry
// took the new name (the label keeps it), 0 otherwise.
int OnRenameDone(Window& dialog, int row, const char* text);
