// A headless UI with a main-window-like window (template 102) for tests that only need the
// logs and the thread-status list to land somewhere and be read back. The window's
// procedure does what the main window's initialisation does to its controls (log limits,
// counter, the four columns) and nothing else.
// The test thread owns the fixture; its readers flush first, so they see everything posted
// before the call.
#pragma once

#include <string>

#include "app/main_window.h"
#include "ui/progress.h"
#include "ui/dialog_template.h"
#include "ui/headless/headless_ui.h"

class TrivialMainProc : public DialogProc {
 public:
  bool onInit(Window& window) override {
    SetUpMainWindowControls(window.controls());
    return true;
  }
};

struct HeadlessMainWindow {
  HeadlessUi ui;
  TrivialMainProc proc;
  HeadlessWindow* window = ui.open(IDD_MAIN_WINDOW, proc);

  std::string log() {
    ui.flush();
    return window->text(IDC_LOG);
  }
  std::string problems() {
    ui.flush();
    return window->text(IDC_PROBLEMS);
  }
  // Adds a thread-status row for a worker slot, as the clean run does.
  void addThreadRow(int slot) {
    window->run([slot](HeadlessWindow& w) {
      std::string number = std::to_string(slot + 1);
      w.insertListRow(IDC_THREAD_LIST, w.getListRowCount(IDC_THREAD_LIST), slot, number.c_str());
    });
  }
  int threadRowCount() {
    ui.flush();
    return window->rowCount(IDC_THREAD_LIST);
  }
  std::string threadStatus(int slot) {
    ui.flush();
    std::string status;
    window->run([&](HeadlessWindow& w) {
      int row = w.findListRow(IDC_THREAD_LIST, slot);
      if (row >= 0) status = w.getListCell(IDC_THREAD_LIST, row, 1);
    });
    return status;
  }
};
