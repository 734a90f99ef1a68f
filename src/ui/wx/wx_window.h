// One window of ours on the toolkit: the dialog built from a template, its controls, and the
// queue through which other threads reach it. post(), postMessage() and showModal() are for
// any thread; everything else is for the UI thread.
#pragma once

#include <wx/dialog.h>
#include <wx/timer.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "ui/dialog_template.h"
#include "ui/window.h"

class WxListView;
class WxWindow;

// The file dialog's wildcard for filters of description and pattern list ("*.htm;*.html"). Where
// the system's file dialogs match names by case, each pattern is given in both cases (lower
// case first) and "*.*" becomes "*", which matches names without a dot too.
wxString FileDialogWildcard(const std::vector<std::pair<std::string, std::string>>& filters);

// Work for the UI thread, shared with the threads that post it. It outlives its window so
// that a thread posting late finds it closed rather than gone.
struct WxPostQueue {
  struct Message {
    int message;
    intptr_t wParam, lParam;
  };
  struct ModalRequest {
    int templateId;
    DialogProc* proc;
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int result = -1;
  };
  using Item = std::variant<std::function<void(Controls&)>, Message, ModalRequest*>;

  std::mutex mutex;
  std::deque<Item> items;
  bool wakeScheduled = false;
  bool open = true;
  WxWindow* window = nullptr;  // UI thread only

  // Any thread. False when the window has ended (the item was not queued).
  bool push(Item item);
  // UI thread: runs queued work for at most a short slice, then lets the event loop breathe.
  static void Drain(const std::shared_ptr<WxPostQueue>& queue);
  // UI thread, when the window ends: drops what is queued and releases waiting threads.
  void close();
  // Puts unfinished work back at the front, before what arrived meanwhile.
  void putBack(std::deque<Item>& rest);
  std::weak_ptr<WxPostQueue> self;
};

class WxWindow : public Window, public Controls {
 public:
  WxWindow(const DialogTemplate& dialogTemplate, DialogProc& proc);
  ~WxWindow() override;

  // UI thread: builds, initialises and runs the dialog; the result of the dialog.
  int run(wxWindow* parent);
  wxDialog* dialog() const { return dialog_; }
  wxWindow* control(int id) const;
  bool ended() const { return ended_; }

  // Window
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

  // Controls
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

  // UI thread: what the queue delivers.
  void deliverMessage(const WxPostQueue::Message& message);
  int runModalRequest(int templateId, DialogProc& proc);
  // Lets the event loop take a turn before the queue is drained further.
  void resumeLater();

 private:
  struct Edit {
    std::string text;  // the control's text as UTF-8, kept beside it so that byte offsets
                       // need no read-back of the whole text per append
    bool stale = false;
    bool changing = false;  // our own change is under way: not the user's
    int limit = 0;          // characters; 0: none
  };
  struct Progress {
    int low = 0, high = 100, step = 10, pos = 0;
  };
  struct Control {
    ControlKind kind;
    uint32_t style;
    wxWindow* widget;
    std::unique_ptr<Edit> edit;
    std::unique_ptr<Progress> progress;
    WxListView* list = nullptr;
    wxWindow* frame = nullptr;  // the panel that draws a static's border
  };

  void build(wxWindow* parent);
  void createControl(const ControlTemplate& item, bool previousWasRadio);
  Control* find(int id, ControlKind kind);
  Control* find(int id);
  Edit* editOf(int id, class wxTextCtrl** ctrl);
  void showProgress(Control& control);
  void finish();

  const DialogTemplate& template_;
  DialogProc& proc_;
  std::shared_ptr<WxPostQueue> queue_;
  wxDialog* dialog_ = nullptr;
  std::map<int, Control> controls_;
  wxTimer resumeTimer_;
  int defaultButton_ = ID_OK;  // the template's default push button
  bool modal_ = false;
  bool ended_ = false;
  bool endedEarly_ = false;
  int earlyResult_ = 0;
};
