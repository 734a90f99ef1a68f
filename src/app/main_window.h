// The program's start-up and its one main window (template 102): the log, the problems log,
// the thread-status list, the progress bar, the thread counter and the four buttons.
//
// Threads: RunQuillfen runs on the thread that becomes the UI thread; MainDialogProc and
// InitMainWindow run on that UI thread. Other threads reach the main window only through the
// progress output (check/progress.h) and the clean run's posted messages.
#pragma once

#include <cstdint>

#include "ui/window.h"

constexpr char WELCOME_TEXT[] = "Welcome to Quillfen!\r\n\r\n";

class MainDialogProc : public DialogProc {
 public:
  bool onInit(Window& window) override;
  // Acts on button clicks (code 0) only: Clean/Abort, Settings, About, Quit.
  void onCommand(Window& window, int id, int code) override;
  // Ends the window at once when no run is active. During a run the run is asked to stop
  // and the window ends when the run has given it back (WM_RUN_FINISHED): the run's threads
  // use the settings record and write to the stores until then.
  void onClose(Window& window) override;
  void onMessage(Window& window, int message, intptr_t wParam, intptr_t lParam) override;

  // True while a close waits for the run to end.
  bool closePending() const { return closePending_; }

 private:
  void requestClose(Window& window);
  bool closePending_ = false;
};

// What the main window's initialisation does to its controls: limits the logs, sets the
// counter to "0" and inserts the thread-status list's columns. UI thread.
void SetUpMainWindowControls(Controls& controls);

// The main window's initialisation: loads the settings (asking for them on the first start,
// before the window is shown), limits the logs, sets the counter to "0", inserts the
// thread-status list's columns and writes the welcome text.
void InitMainWindow(Window& window);

// The program from start to end on the calling thread: creates the settings record,
// publishes it as `settings`, runs the main window until it ends and destroys the record
// once no thread of a run can use it any more. Returns the program's exit code (0).
int RunQuillfen(UiBackend& ui);
