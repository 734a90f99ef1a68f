#include "app/main_window.h"

#include <new>
#include <string>

#include "app/about_dialog.h"
#include "app/browser.h"
#include "tree/settings.h"
#include "app/settings_dialog.h"
#include "app/settings_storage.h"
#include "results/results_dialog.h"
#include "run/clean_run.h"
#include "check/clean_run_state.h"
#include "ui/progress.h"
#include "ui/dialog_template.h"

namespace {

// The Settings dialog, modal and owned by the main window. A save that failed is told in the
// log: the settings chosen hold until the program ends, but the next start will not have them.
void RunSettingsDialog(Window& window) {
  SettingsDialogProc proc;
  window.showModal(IDD_SETTINGS, proc);
  if (proc.saveFailed()) {
    std::string line = "The settings were not saved: " + SettingsStoreName() + "\r\n";
    AppendLog(&window, IDC_LOG, line.c_str());
  }
}

void RunAboutBox(Window& window) {
  AboutDialogProc proc;
  window.showModal(IDD_ABOUT, proc);
}

}  // namespace

bool MainDialogProc::onInit(Window& window) {
  InitMainWindow(window);
  return true;
}

void MainDialogProc::onCommand(Window& window, int id, int code) {
  if (code != 0) return;
  switch (id) {
    case IDC_CLEAN:
      // Once the window is on its way out, a new run must not start.
      if (!closePending_) OnCleanButton(&window);
      break;
    case IDC_SETTINGS:
      // The button is disabled during a run; the record must not change under one.
      if (!CleanRunActive()) RunSettingsDialog(window);
      break;
    case IDC_ABOUT:
      if (!CleanRunActive()) RunAboutBox(window);
      break;
    case IDC_QUIT:
      requestClose(window);
      break;
    default:
      break;
  }
}

void MainDialogProc::onClose(Window& window) { requestClose(window); }

void MainDialogProc::requestClose(Window& window) {
  if (!CleanRunActive()) {
    window.endDialog(0);
    return;
  }
  // The workers already running finish their links; the run then ends without saving, or
  // finishes a save it has begun, and posts WM_RUN_FINISHED, which ends the window.
  closePending_ = true;
  OnCleanButton(&window);  // as the Abort button
}

void MainDialogProc::onMessage(Window& window, int message, intptr_t, intptr_t) {
  if (message != WM_RUN_FINISHED) return;
  OnRunFinished();
  if (closePending_) window.endDialog(0);
}

void SetUpMainWindowControls(Controls& controls) {
  controls.setTextLimit(IDC_PROBLEMS, LOG_TEXT_LIMIT);
  controls.setTextLimit(IDC_LOG, LOG_TEXT_LIMIT);
  controls.setText(IDC_THREAD_COUNT, "0");
  controls.insertListColumn(IDC_THREAD_LIST, 0, "#",
                            controls.measureText(IDC_THREAD_LIST, "#") + 16);
  controls.insertListColumn(IDC_THREAD_LIST, 1, "Status",
                            controls.measureText(IDC_THREAD_LIST, "Checking host name"));
  controls.insertListColumn(IDC_THREAD_LIST, 2, "Name", 140);
  controls.insertListColumn(IDC_THREAD_LIST, 3, "URL", 500);
}

void InitMainWindow(Window& window) {
  Controls& controls = window.controls();
  if (!LoadSettings()) {
    // First start: the settings are asked for before the main window is first shown.
    window.sendCommand(IDC_SETTINGS, 0);
  }
  SetUpMainWindowControls(controls);
  AppendLog(&window, IDC_LOG, WELCOME_TEXT);
}

int RunQuillfen(UiBackend& ui) {
  Settings* record = new (std::nothrow) Settings();
  if (!record) return 0;
  Settings* previous = settings;
  settings = record;
  SetLinkOpener([](const char* address) { OpenInBrowser(address, SW_SHOW); });

  MainDialogProc proc;
  ui.runDialog(IDD_MAIN_WINDOW, proc);

  // The window normally ends only after its run has been joined. Should the toolkit have
  // ended it anyway, the run is stopped and waited for here: its threads read the record,
  // and a save must not be cut off half-way.
  if (CleanRunActive()) {
    abortRequested.store(true);
    OnRunFinished();
  }
  settings = previous;
  delete record;
  return 0;
}
