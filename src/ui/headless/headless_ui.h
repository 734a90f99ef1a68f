// The in-memory backend of the dialog system: every window is a model of its template's
// controls, and the "UI thread" is a thread of the HeadlessUi's own. Used by the tests and by
// any front end without a display.
//
// Threads: the Window and Controls methods keep the contract of ui/window.h (controls on the
// UI thread only; post() from any thread). The test-facing methods below (open, flush,
// click, text, ...) may be called from any thread: from another thread they run their work
// on the UI thread and wait for it; on the UI thread (inside a dialog handler) they run at
// once. Never call them while holding a lock that posted work may need.
//
// Usage:
//   HeadlessUi ui;
//   MyProc proc;
//   HeadlessWindow* main = ui.open(102, proc);       // created, onInit run, stays open
//   AppendLog(main, IDC_LOG, "hello\r\n");            // from any thread
//   ui.flush();                                       // everything posted so far has run
//   EXPECT_EQ(main->text(IDC_LOG), "hello\r\n");
//   main->click(IDC_CLEAN);                           // onCommand(1013, 0) on the UI thread
//   ui.setDialogHandler(103, [](HeadlessWindow& d) { d.click(ID_OK); });
//   // ... a showModal(103, ...) from any thread now runs onInit, then the handler.
//   ui.setMenuHandler([](const std::vector<MenuItem>& items, int, int) { return 5001; });
//   ui.clipboardText();                               // what the program put there
//   HeadlessWindow* d = ui.waitForDialog(103);        // or drive an open modal dialog
//   d->close();                                       // onClose, as the close box
//   main->clickLater(IDC_SETTINGS);                   // click() would wait for the modal
//   ui.waitForDialog(101)->click(ID_CANCEL);          // dialog it opens to end
// A list row inserted with a null text has every cell supplied on demand until a cell is set;
// measureText counts 6 pixels per byte.
// A modal dialog with no handler stays open until a test drives it (waitForDialog) or the
// HeadlessUi is destroyed (then it ends with -1). Windows live as long as the HeadlessUi;
// work posted to a window that has ended is dropped.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ui/dialog_template.h"
#include "ui/window.h"

class HeadlessUi;

// Notification code an edit control sends when the user changed its text.
constexpr int EDIT_CHANGE = 0x0300;

class HeadlessWindow : public Window, public Controls {
 public:
  HeadlessWindow(HeadlessUi& ui, const DialogTemplate& tmpl, DialogProc& proc,
                 HeadlessWindow* owner);
  ~HeadlessWindow() override;

  // Window.
  void post(std::function<void(Controls&)> work) override;
  void postMessage(int message, intptr_t wParam, intptr_t lParam) override;
  Controls& controls() override { return *this; }
  void endDialog(int result) override;
  void sendCommand(int id, int code) override;
  int trackPopupMenu(const std::vector<MenuItem>& items, int screenX, int screenY) override;
  bool setClipboardText(const char* text) override;
  bool browseForFolder(const char* title, std::string& value) override;
  bool chooseOpenFile(const char* title,
                      const std::vector<std::pair<std::string, std::string>>& filters,
                      std::string& value) override;
  int showModal(int templateId, DialogProc& proc) override;

  // Controls.
  std::string getText(int id) override;
  void setText(int id, const char* text) override;
  int getTextLength(int id) override;
  void setSelection(int id, int start, int end) override;
  void getSelection(int id, int* start, int* end) override;
  void replaceSelection(int id, const char* text) override;
  void clearSelection(int id) override;
  void setTextLimit(int id, int limit) override;
  bool isChecked(int id) override;
  void setChecked(int id, bool checked) override;
  bool isEnabled(int id) override;
  void setEnabled(int id, bool enabled) override;
  void setFocus(int id) override;
  void setProgressRange(int id, int low, int high) override;
  void setProgressStep(int id, int step) override;
  void setProgressPos(int id, int pos) override;
  void stepProgress(int id) override;
  int getProgressPos(int id) override;
  void insertListColumn(int id, int index, const char* heading, int width) override;
  int getListColumnWidth(int id, int column) override;
  void setListColumnWidth(int id, int column, int width) override;
  int measureText(int id, const char* text) override;
  int insertListRow(int id, int index, ItemData data, const char* text) override;
  int getListRowCount(int id) override;
  ItemData getListRowData(int id, int row) override;
  int findListRow(int id, ItemData data) override;
  void setListCell(int id, int row, int column, const char* text) override;
  std::string getListCell(int id, int row, int column) override;
  void deleteListRow(int id, int row) override;
  void deleteAllListRows(int id) override;
  void sortList(int id, ListCompare compare, intptr_t param) override;
  void redrawListRows(int id, int first, int last) override;
  int getSelectedListRow(int id) override;
  void editListLabel(int id, int row) override;

  // --- Test side: any thread (runs on the UI thread and waits). ---
  int templateId() const { return template_.id; }
  // What a user does. click() on a disabled control does nothing and returns false; a check
  // box toggles and an auto radio button checks itself (and clears its group) first.
  bool click(int id);
  // The same click posted without waiting: for a click that opens a modal dialog the test
  // then drives itself (waitForDialog), as click() would wait for that dialog to end.
  void clickLater(int id);
  void command(int id, int code);  // onCommand(id, code) as the control sent it
  // The keys a dialog handles itself: Enter clicks the focused push button, else the
  // default push button (nothing when it is disabled); Escape sends the command ID_CANCEL
  // whether or not such a control exists.
  void pressEnter();
  void pressEscape();
  void close();                          // the close box: onClose
  void type(int id, const char* text);   // replaces an edit's text, then EDIT_CHANGE
  int notify(const ListNotify& notify);  // onListNotify; a click selects the row first
  void selectRow(int listId, int row);
  // Ends the label editing begun by editListLabel: onListNotify(EndLabelEdit) with the text
  // (null: cancelled); when the procedure returns non-zero the new text becomes the label.
  int endLabelEdit(int listId, const char* text);
  void message(int message, intptr_t wParam, intptr_t lParam);  // onMessage, waiting

  std::string text(int id);  // id 0: the caption
  bool checked(int id);
  bool enabled(int id);
  int focus();  // id of the control that has the focus, 0 for none
  int textLimit(int id);
  std::pair<int, int> selection(int id);
  int progressPos(int id);
  std::pair<int, int> progressRange(int id);
  int progressStep(int id);
  int rowCount(int listId);
  ItemData rowData(int listId, int row);
  std::string cell(int listId, int row, int column);  // on-demand texts resolved
  std::vector<std::vector<std::string>> rows(int listId);
  std::vector<std::pair<std::string, int>> columns(int listId);  // heading and width
  int labelEditRow(int listId);                                  // -1 when no label is being edited
  bool ended();
  int result();

  // Runs fn on the UI thread with this window's controls and waits.
  void run(const std::function<void(HeadlessWindow&)>& fn);

 private:
  friend class HeadlessUi;
  struct Column {
    std::string heading;
    int width = 0;
  };
  struct Row {
    ItemData data = 0;
    std::vector<std::optional<std::string>> cells;  // nullopt: supplied on demand
  };
  struct Control {
    const ControlTemplate* tmpl = nullptr;
    std::string text;
    int selStart = 0, selEnd = 0;
    int limit = 32767;
    bool checked = false, enabled = true;
    int low = 0, high = 100, step = 10, pos = 0;
    std::vector<Column> columns;
    std::vector<Row> rows;
    int selectedRow = -1;
    int editRow = -1;
  };
  Control* find(int id, ControlKind kind);
  Control* findAny(int id);
  Control* findList(int id);
  Control* findEdit(int id);
  Control* findProgress(int id);
  std::string cellText(Control& list, int listId, int row, int column);
  bool clickNow(int id);

  HeadlessUi& ui_;
  const DialogTemplate& template_;
  DialogProc& proc_;
  HeadlessWindow* owner_;
  std::string caption_;
  std::vector<Control> controls_;
  int focus_ = 0;
  std::atomic<bool> ended_{false};  // written on the UI thread only
  int result_ = 0;
};

class HeadlessUi : public UiBackend {
 public:
  HeadlessUi();
  ~HeadlessUi() override;  // ends open dialogs with -1, runs what was posted, joins
  HeadlessUi(const HeadlessUi&) = delete;
  HeadlessUi& operator=(const HeadlessUi&) = delete;

  // From the UI thread: runs the dialog at once. From another thread: hands it to the UI
  // thread and waits until it has ended. The dialog's handler (setDialogHandler) runs after
  // onInit.
  int runDialog(int templateId, DialogProc& proc) override;

  // Creates the window of that template without waiting for it to end; onInit has run when
  // this returns. Null when there is no such template.
  HeadlessWindow* open(int templateId, DialogProc& proc, HeadlessWindow* owner = nullptr);

  // Waits until everything posted before the call has run (on the UI thread: returns at once).
  void flush();
  // Waits until the UI thread has nothing left to do, including work posted by that work.
  void settle();
  // Runs fn on the UI thread and waits.
  void run(const std::function<void()>& fn);
  bool isUiThread() const;

  // Scripted answers; any thread. A handler runs on the UI thread.
  using DialogHandler = std::function<void(HeadlessWindow& dialog)>;
  void setDialogHandler(int templateId, DialogHandler handler);  // empty handler: none
  using MenuHandler = std::function<int(const std::vector<MenuItem>& items, int x, int y)>;
  void setMenuHandler(MenuHandler handler);  // default: the menu is dismissed (0)
  std::vector<MenuItem> lastMenu();          // items of the latest popup menu (texts copied)
  std::vector<std::string> lastMenuTexts();
  int menuCount();
  using PathHandler = std::function<bool(const char* title, std::string& value)>;
  void setBrowseForFolderHandler(PathHandler handler);  // default: cancelled
  void setChooseOpenFileHandler(PathHandler handler);   // default: cancelled
  std::string clipboardText();
  void setClipboardText(const std::string& text);
  void setClipboardAvailable(bool available);  // false: setClipboardText fails

  // Waits (up to timeoutMs) until a window of that template is open and not ended, and
  // returns the newest such window; null on timeout.
  HeadlessWindow* waitForDialog(int templateId, int timeoutMs = 10000);
  // Every window created so far (ended ones included), oldest first.
  std::vector<HeadlessWindow*> windows();

 private:
  friend class HeadlessWindow;
  bool enqueue(std::function<void()> task);
  void loop();
  bool runNext();
  HeadlessWindow* create(int templateId, DialogProc& proc, HeadlessWindow* owner);
  int runModal(int templateId, DialogProc& proc, HeadlessWindow* owner);
  void windowEnded();

  std::thread thread_;
  std::thread::id uiThreadId_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> queue_;
  bool stopping_ = false;
  bool accepting_ = true;
  bool busy_ = false;
  std::vector<std::unique_ptr<HeadlessWindow>> windows_;  // guarded by mutex_

  std::mutex answersMutex_;
  std::vector<std::pair<int, DialogHandler>> dialogHandlers_;
  MenuHandler menuHandler_;
  std::vector<std::pair<int, std::string>> lastMenu_;
  int menuCount_ = 0;
  PathHandler browseHandler_;
  PathHandler openFileHandler_;
  std::string clipboard_;
  bool clipboardAvailable_ = true;
};
