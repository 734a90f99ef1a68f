// A window for the link checker's tests: posted work runs at once on the posting thread,
// one closure at a time, against an in-memory model of the main window's controls that the
// test reads afterwards (logs, progress steps, thread counter, thread-status rows).
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ui/progress.h"
#include "ui/window.h"

class RecordingControls : public Controls {
 public:
  struct Row {
    ItemData data;
    std::map<int, std::string> cells;
  };
  std::map<int, std::string> texts;
  std::map<int, int> selectionStart, selectionEnd;
  int progressSteps = 0;
  std::vector<std::string> counterHistory;  // every text the thread counter showed
  std::vector<Row> rows;                    // the thread-status list
  std::vector<int> removedSlots;            // in the order rows went

  std::string getText(int id) override { return texts[id]; }
  void setText(int id, const char* text) override {
    texts[id] = text ? text : "";
    if (id == IDC_THREAD_COUNT) counterHistory.push_back(texts[id]);
  }
  int getTextLength(int id) override { return static_cast<int>(texts[id].size()); }
  void setSelection(int id, int start, int end) override {
    selectionStart[id] = start;
    selectionEnd[id] = end;
  }
  void getSelection(int id, int* start, int* end) override {
    *start = selectionStart[id];
    *end = selectionEnd[id];
  }
  void replaceSelection(int id, const char* text) override {
    std::string& t = texts[id];
    size_t start = std::min<size_t>(selectionStart[id], t.size());
    size_t end = std::min<size_t>(std::max<int>(selectionEnd[id], 0), t.size());
    if (end < start) end = start;
    t.replace(start, end - start, text);
  }
  void clearSelection(int id) override { replaceSelection(id, ""); }
  void setTextLimit(int, int) override {}
  bool isChecked(int) override { return false; }
  void setChecked(int, bool) override {}
  bool isEnabled(int) override { return true; }
  void setEnabled(int, bool) override {}
  void setFocus(int) override {}
  void setProgressRange(int, int, int) override {}
  void setProgressStep(int, int) override {}
  void setProgressPos(int, int) override {}
  void stepProgress(int id) override {
    if (id == IDC_PROGRESS) ++progressSteps;
  }
  int getProgressPos(int) override { return progressSteps; }
  void insertListColumn(int, int, const char*, int) override {}
  int getListColumnWidth(int, int) override { return 0; }
  void setListColumnWidth(int, int, int) override {}
  int measureText(int, const char*) override { return 0; }
  int insertListRow(int, int index, ItemData data, const char* text) override {
    Row row{data, {{0, text ? text : ""}}};
    if (index < 0 || index > static_cast<int>(rows.size())) index = static_cast<int>(rows.size());
    rows.insert(rows.begin() + index, row);
    return index;
  }
  int getListRowCount(int) override { return static_cast<int>(rows.size()); }
  ItemData getListRowData(int, int row) override { return rows[row].data; }
  int findListRow(int, ItemData data) override {
    for (size_t i = 0; i < rows.size(); ++i)
      if (rows[i].data == data) return static_cast<int>(i);
    return -1;
  }
  void setListCell(int, int row, int column, const char* text) override {
    rows[row].cells[column] = text ? text : "";
  }
  std::string getListCell(int, int row, int column) override { return rows[row].cells[column]; }
  void deleteListRow(int, int row) override {
    removedSlots.push_back(static_cast<int>(rows[row].data));
    rows.erase(rows.begin() + row);
  }
  void deleteAllListRows(int) override { rows.clear(); }
  void sortList(int, ListCompare, intptr_t) override {}
  void redrawListRows(int, int, int) override {}
  int getSelectedListRow(int) override { return -1; }
  void editListLabel(int, int) override {}
};

class RecordingWindow : public Window {
 public:
  void post(std::function<void(Controls&)> work) override {
    {
      std::lock_guard<std::mutex> hold(lock_);
      work(controls_);
    }
    changed_.notify_all();
  }
  void postMessage(int, intptr_t, intptr_t) override {}
  Controls& controls() override { return controls_; }
  void endDialog(int) override {}
  void sendCommand(int, int) override {}
  int trackPopupMenu(const std::vector<MenuItem>&, int, int) override { return 0; }
  bool setClipboardText(const char*) override { return false; }
  bool browseForFolder(const char*, std::string&) override { return false; }
  bool chooseOpenFile(const char*, const std::vector<std::pair<std::string, std::string>>&,
                      std::string&) override {
    return false;
  }
  int showModal(int, DialogProc&) override { return -1; }

  // Reads the model under the window's lock (workers may still be posting).
  template <typename F>
  auto inspect(F f) {
    std::lock_guard<std::mutex> hold(lock_);
    return f(controls_);
  }
  // Waits until the model satisfies the predicate; false after timeoutMs (a failing test).
  template <typename F>
  bool waitUntil(F predicate, int timeoutMs = 20000) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                             [&] { return predicate(controls_); });
  }
  std::string log() {
    return inspect([](RecordingControls& c) { return c.texts[IDC_LOG]; });
  }
  std::string problems() {
    return inspect([](RecordingControls& c) { return c.texts[IDC_PROBLEMS]; });
  }
  int progressSteps() {
    return inspect([](RecordingControls& c) { return c.progressSteps; });
  }
  void addThreadRows(int count) {
    inspect([count](RecordingControls& c) {
      for (int i = 0; i < count; ++i)
        c.insertListRow(IDC_THREAD_LIST, i, i, std::to_string(i + 1).c_str());
      return 0;
    });
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  RecordingControls controls_;
};
