// The dialog system on real wxWidgets widgets. Only the GUI entry point and the GUI tests
// include this header.
//
// Threads: WxSession, WxUi::runDialog and RunDialogTemplate belong to the UI thread (the
// thread that started the session). Windows made here accept post(), postMessage() and
// showModal() from any thread, as window.h says.
#pragma once

#include <wx/window.h>

#include "ui/dialog_template.h"
#include "ui/window.h"

// Starts the toolkit for the calling thread (which becomes the UI thread) without a frame of
// its own, routes failed toolkit assertions and error logs to stderr (never a modal box), and
// shuts the toolkit down at the end of its scope.
class WxSession {
 public:
  WxSession(int& argc, char** argv);
  ~WxSession();
  WxSession(const WxSession&) = delete;
  WxSession& operator=(const WxSession&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

class WxUi : public UiBackend {
 public:
  int runDialog(int templateId, DialogProc& proc) override;
};

// Runs a dialog built from that template modally, owned by parent (null: none), on the UI
// thread; returns its result, -1 when it could not be shown.
int RunDialogTemplate(wxWindow* parent, const DialogTemplate& dialogTemplate, DialogProc& proc);

// Pixels for a length in dialog units: one factor for every window of the program, taken
// from the toolkit's default font with room for GTK's padding.
int DialogUnitsToPixels(int units);

// The toolkit window that shows this Window, and one of its controls by id (null when the
// window has ended or has no such control). For tests that click and type for real.
wxWindow* WxWindowOf(Window& window);
wxWindow* WxControlOf(Window& window, int controlId);
// The topmost dialog of ours that is showing (null when none), and its Window.
Window* ActiveWxWindow();
