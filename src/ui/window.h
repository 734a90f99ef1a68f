// The dialog system's toolkit-free interface: a window built from a template, its controls
// addressed by id, and a dialog procedure of ours that handles what happens in it.
//
// Threads: only the UI thread touches controls. Any thread may post() work to a window; the
// work runs on the UI thread with that window's Controls, in the order posted, and post()
// never waits. showModal() may be called from any thread: from another thread it blocks
// until the UI thread has run the modal dialog to its end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using ItemData = intptr_t;
// Comparison used to sort list rows: negative, zero or positive for (a, b) with the caller's
// parameter, as for an ordinary sort.
using ListCompare = int (*)(ItemData a, ItemData b, intptr_t param);

// The controls of one window, addressed by control id. UI thread only.
// An unknown id, or an operation that does not fit the control's kind, does nothing and
// returns 0, -1 or an empty string.
class Controls {
 public:
  virtual ~Controls() = default;

  // Text of an edit, button, static or group box; id 0 is the window's own caption.
  virtual std::string getText(int id) = 0;
  virtual void setText(int id, const char* text) = 0;
  virtual int getTextLength(int id) = 0;

  // Edit controls. Positions are byte offsets into the text.
  virtual void setSelection(int id, int start, int end) = 0;
  virtual void getSelection(int id, int* start, int* end) = 0;
  virtual void replaceSelection(int id, const char* text) = 0;  // not undoable
  virtual void clearSelection(int id) = 0;                      // deletes the selected text
  virtual void setTextLimit(int id, int limit) = 0;

  // Buttons (and every control for enabled/focus).
  virtual bool isChecked(int id) = 0;
  virtual void setChecked(int id, bool checked) = 0;
  virtual bool isEnabled(int id) = 0;
  virtual void setEnabled(int id, bool enabled) = 0;
  virtual void setFocus(int id) = 0;

  // Progress bars.
  virtual void setProgressRange(int id, int low, int high) = 0;
  virtual void setProgressStep(int id, int step) = 0;
  virtual void setProgressPos(int id, int pos) = 0;
  virtual void stepProgress(int id) = 0;  // wraps to the low end past the high end
  virtual int getProgressPos(int id) = 0;

  // List views in report view. A cell text given as null is supplied on demand by the
  // dialog procedure's listCellText() from the row's item data.
  virtual void insertListColumn(int id, int index, const char* heading, int width) = 0;
  virtual int getListColumnWidth(int id, int column) = 0;
  virtual void setListColumnWidth(int id, int column, int width) = 0;  // -1: fit contents
  virtual int measureText(int id, const char* text) = 0;  // pixels in the control's font
  virtual int insertListRow(int id, int index, ItemData data, const char* text) = 0;
  virtual int getListRowCount(int id) = 0;
  virtual ItemData getListRowData(int id, int row) = 0;
  virtual int findListRow(int id, ItemData data) = 0;  // first row with that data, or -1
  virtual void setListCell(int id, int row, int column, const char* text) = 0;
  virtual std::string getListCell(int id, int row, int column) = 0;
  virtual void deleteListRow(int id, int row) = 0;
  virtual void deleteAllListRows(int id) = 0;
  virtual void sortList(int id, ListCompare compare, intptr_t param) = 0;  // stable
  virtual void redrawListRows(int id, int first, int last) = 0;  // -1, -1: visible rows
  virtual int getSelectedListRow(int id) = 0;                     // -1 when none
  virtual void editListLabel(int id, int row) = 0;                // starts label editing
};

enum class ListEvent {
  Click,        // a left click on a row
  DoubleClick,  // the second click of a double click (the first arrived as Click)
  SetFocus,     // the list got the keyboard focus (row -1 unless a click caused it)
  ColumnClick,  // a click on a column heading
  EndLabelEdit, // label editing ended; text is null when it was cancelled
  ContextMenu,  // right click or the menu key
};

struct ListNotify {
  int listId;
  ListEvent event;
  int row;             // row under the pointer, -1 when none
  int column;          // column under the pointer (or the heading clicked), -1 when none
  int screenX, screenY;  // pointer position on the screen (context menu)
  const char* text;    // EndLabelEdit: the edited text, null when cancelled
};

struct MenuItem {
  int command;       // 0 for a separator
  const char* text;  // null for a separator
};

class Window;

// What a dialog does. All methods run on the UI thread of the window's dialog.
class DialogProc {
 public:
  virtual ~DialogProc() = default;
  virtual bool onInit(Window& window) = 0;
  // A button click (code 0) or another notification of a control.
  virtual void onCommand(Window& window, int id, int code) {
    (void)window;
    (void)id;
    (void)code;
  }
  virtual void onClose(Window& window);  // default: end with 0
  // Private messages posted with Window::postMessage (such as the end of a run).
  virtual void onMessage(Window& window, int message, intptr_t wParam, intptr_t lParam) {
    (void)window;
    (void)message;
    (void)wParam;
    (void)lParam;
  }
  virtual int onListNotify(Window& window, const ListNotify& notify) {
    (void)window;
    (void)notify;
    return 0;
  }
  virtual std::string listCellText(Window& window, int listId, ItemData data, int column) {
    (void)window;
    (void)listId;
    (void)data;
    (void)column;
    return {};
  }
};

// A window made from a template: the handle other threads use to reach it.
class Window {
 public:
  virtual ~Window() = default;

  // Any thread; never waits. Work posted after the window has ended is dropped.
  virtual void post(std::function<void(Controls&)> work) = 0;
  // Any thread; never waits. Delivered to the procedure's onMessage on the UI thread.
  virtual void postMessage(int message, intptr_t wParam, intptr_t lParam) = 0;

  // UI thread only.
  virtual Controls& controls() = 0;
  virtual void endDialog(int result) = 0;
  virtual void sendCommand(int id, int code) = 0;  // as a click: runs onCommand now
  virtual int trackPopupMenu(const std::vector<MenuItem>& items, int screenX, int screenY) = 0;
  virtual bool setClipboardText(const char* text) = 0;
  // Common dialogs. value holds the initial path and receives the chosen one.
  virtual bool browseForFolder(const char* title, std::string& value) = 0;
  // filters: pairs of description and pattern list ("Bookmark Files", "*.htm;*.html").
  virtual bool chooseOpenFile(const char* title,
                              const std::vector<std::pair<std::string, std::string>>& filters,
                              std::string& value) = 0;

  // Runs the dialog of that template modally, owned by this window. From the UI thread it
  // runs at once; from another thread it blocks until the UI thread has run it. Returns the
  // dialog's result (-1 when it could not be shown).
  virtual int showModal(int templateId, DialogProc& proc) = 0;
};

// The dialog system as a whole: runs the program's top-level dialog.
class UiBackend {
 public:
  virtual ~UiBackend() = default;
  // Runs the dialog of that template modally with no owner, on the calling (UI) thread,
  // until it ends; returns its result, -1 when it could not be shown.
  virtual int runDialog(int templateId, DialogProc& proc) = 0;
};

// Private messages.
constexpr int WM_APP = 0x8000;
