// What the GUI tests share: a main() that starts the toolkit under the virtual X server and
// turns a failed toolkit assertion into a failed test, and bounded waits that keep the event
// loop running. UI thread (the test's main thread) only.
#pragma once

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/timer.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

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

// Steps that drive the program's own modal loops from a timer: each step waits for its
// condition, then acts. A step never blocks, so a dialog it ends can return at once.
class Script {
 public:
  using Condition = std::function<bool()>;
  using Action = std::function<void()>;
  Script& then(const char* what, Condition condition, Action action) {
    steps_.push_back({what, std::move(condition), std::move(action)});
    return *this;
  }
  // Starts the steps; they run inside whatever event loop runs next.
  void start(int boundSeconds = 60) {
    deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(boundSeconds);
    timer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { tick(); });
    timer_.Start(20);
  }
  bool finished() const { return next_ >= steps_.size() && !postponed_; }
  // When the steps never completed: what they were waiting for.
  std::string waitingFor() const {
    if (finished()) return "";
    return next_ < steps_.size() ? steps_[next_].what : "a postponed step";
  }

 private:
  struct Step {
    const char* what;
    Condition condition;
    Action action;
  };
  void tick() {
    if (finished()) {
      timer_.Stop();
      return;
    }
    if (gaveUp_ || std::chrono::steady_clock::now() > deadline_) {
      if (!gaveUp_) ADD_FAILURE() << "gave up waiting for: " << waitingFor();
      gaveUp_ = true;
      // Ends whatever is showing, one window per tick, so that the test can return.
      if (Window* window = ActiveWxWindow()) window->endDialog(-1);
      return;
    }
    // Inside a yield (the simulated mouse yields, for one) a step's own waits could not
    // yield again and would see nothing happen: steps start from the plain event loop only.
    if (Yielding() || inFlight_) return;
    if (postponed_) {
      Action action = std::move(postponed_);
      postponed_ = nullptr;
      act(std::move(action));
      return;
    }
    if (!steps_[next_].condition()) return;
    act(steps_[next_++].action);
  }
  static bool Yielding() {
    wxEventLoopBase* loop = wxEventLoopBase::GetActive();
    return loop && loop->IsYielding();
  }
  // A step's action may itself run a modal loop (a click that opens a dialog) in which
  // the next steps must run: so it acts outside the timer's callback (which the event loop
  // never enters twice), and counts as taken before it acts.
  void act(Action action) {
    inFlight_ = true;
    wxTheApp->CallAfter([this, action] {
      inFlight_ = false;
      if (Yielding()) {
        postponed_ = action;
      } else {
        action();
      }
    });
  }
  std::vector<Step> steps_;
  size_t next_ = 0;
  Action postponed_;
  bool inFlight_ = false;  // an action is on its way to the event loop
  bool gaveUp_ = false;
  wxTimer timer_;
  std::chrono::steady_clock::time_point deadline_;
};

// The showing window whose caption is that text, or null.
inline Window* ShowingWindow(const char* caption) {
  Window* window = ActiveWxWindow();
  return window && window->controls().getText(0) == caption ? window : nullptr;
}

inline void ClickButton(Window& window, int id) {
  wxWindow* button = WxControlOf(window, id);
  if (!button) {
    ADD_FAILURE() << "no control " << id;
    return;
  }
  ClickAt(ScreenCentre(button));
}

// The desktop's libraries keep caches for the life of the process (fonts, the session bus,
// type registrations); the leak checker of sanitizer builds is told to pass over them.
#define QF_GUI_LEAK_SUPPRESSIONS()                                                     \
  extern "C" const char* __lsan_default_suppressions() {                               \
    return "leak:libfontconfig.so\nleak:libglib-2.0.so\nleak:libgobject-2.0.so\n"      \
           "leak:libdbus-1.so\nleak:libgtk-3.so\nleak:libgdk-3.so\nleak:libpango\n"    \
           "leak:libharfbuzz.so\nleak:libcairo.so\nleak:libatk\nleak:libgio-2.0.so\n"; \
  }

// Their own helper threads (font loading, the bus, the main context) are not instrumented
// for the thread checker; what they do among themselves is theirs.
#define QF_GUI_RACE_SUPPRESSIONS()                                                    \
  extern "C" const char* __tsan_default_suppressions() {                              \
    return "called_from_lib:libfontconfig.so\ncalled_from_lib:libglib-2.0.so\n"       \
           "called_from_lib:libgio-2.0.so\nrace:libglib-2.0.so\nrace:libgio-2.0.so\n" \
           "race:libfontconfig.so\nrace:libgobject-2.0.so\n"                          \
           "deadlock:libgobject-2.0.so\nrace:libdbus-1.so\nrace:libgtk-3.so\n"        \
           "race:libgdk-3.so\nrace:libpango\n";                                       \
  }

#define QF_GUI_TEST_MAIN()                  \
  QF_GUI_LEAK_SUPPRESSIONS()                \
  QF_GUI_RACE_SUPPRESSIONS()                \
  int main(int argc, char** argv) {         \
    ::testing::InitGoogleTest(&argc, argv); \
    WxSession session(argc, argv);          \
    if (!session.ok()) return 1;            \
    wxSetAssertHandler(FailOnAssertion);    \
    return RUN_ALL_TESTS();                 \
  }
