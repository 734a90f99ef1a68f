// What the GUI tests share: a main() that starts the toolkit under the virtual X server and
// turns a failed toolkit assertion into a failed test, and bounded waits that keep the event
// loop running. UI thread (the test's main thread) only.
#pragma once

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/timer.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include <chrono>
#include <functional>
#include <string>

#include "ui/dialog_template.h"
#include "ui/window.h"
#include "ui/wx/wx_ui.h"

inline void FailOnAssertion(const wxString& file, int line, const wxString& func,
                            const wxString& cond, const wxString& msg) {
  ADD_FAILURE() << "wx assertion failed at " << file.utf8_str().data() << ":" << line << " in "
                << func.utf8_str().data() << ": " << cond.utf8_str().data() << " "
                << msg.utf8_str().data();
}

// Keeps the event loop running until the condition holds; false when it never did within
// the bound (the bound only ends a hung test, it synchronises nothing).
inline bool WaitFor(const std::function<bool()>& condition, int boundSeconds = 20) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(boundSeconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    wxTheApp->Yield(true);
    wxMilliSleep(1);
  }
  return true;
}

// Lets the toolkit settle: every pending event and repaint is served.
inline void Settle() {
  for (int i = 0; i < 20; ++i) {
    wxTheApp->Yield(true);
    wxMilliSleep(2);
  }
}

// Runs a dialog from a template with a procedure and, once it shows, the body (which must
// end the dialog). Returns the dialog's result.
class ScriptedProc : public DialogProc {
 public:
  ScriptedProc(DialogProc& inner, std::function<void(Window&)> body)
      : inner_(inner), body_(std::move(body)) {}
  bool onInit(Window& window) override {
    bool result = inner_.onInit(window);
    wxTheApp->CallAfter([this, &window] {
      WaitFor([&window] {
        wxWindow* dialog = WxWindowOf(window);
        return dialog && dialog->IsShownOnScreen();
      });
      Settle();
      body_(window);
    });
    return result;
  }
  void onCommand(Window& window, int id, int code) override { inner_.onCommand(window, id, code); }
  void onClose(Window& window) override { inner_.onClose(window); }
  void onMessage(Window& window, int message, intptr_t w, intptr_t l) override {
    inner_.onMessage(window, message, w, l);
  }
  int onListNotify(Window& window, const ListNotify& notify) override {
    return inner_.onListNotify(window, notify);
  }
  std::string listCellText(Window& window, int listId, ItemData data, int column) override {
    return inner_.listCellText(window, listId, data, column);
  }

 private:
  DialogProc& inner_;
  std::function<void(Window&)> body_;
};

// Centre of a control on the screen, for the simulated mouse.
inline wxPoint ScreenCentre(wxWindow* control) {
  wxRect rect = control->GetScreenRect();
  return rect.GetPosition() + wxPoint(rect.width / 2, rect.height / 2);
}

inline void ClickAt(const wxPoint& screen, bool twice = false) {
  wxUIActionSimulator sim;
  sim.MouseMove(screen);
  Settle();
  if (twice) {
    sim.MouseDblClick();
  } else {
    sim.MouseClick();
  }
  Settle();
}

#define QF_GUI_TEST_MAIN()                  \
  int main(int argc, char** argv) {         \
    ::testing::InitGoogleTest(&argc, argv); \
    WxSession session(argc, argv);          \
    if (!session.ok()) return 1;            \
    wxSetAssertHandler(FailOnAssertion);    \
    return RUN_ALL_TESTS();                 \
  }
