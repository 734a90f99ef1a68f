#include "ui/wx/wx_ui.h"

#include <wx/app.h>
#include <wx/dcscreen.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/settings.h>

#include <cmath>
#include <cstdio>

#include "ui/wx/wx_window.h"

namespace {

void LogAssertion(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg) {
  std::fprintf(stderr, "wx assertion failed: %s:%d %s: %s %s\n", file.utf8_str().data(), line,
               func.utf8_str().data(), cond.utf8_str().data(), msg.utf8_str().data());
}

// Classic dialogs measure a dialog unit as a quarter of the font's average character width
// and an eighth of its height. GTK's controls carry more padding than those dialogs were laid
// out for, so the larger of the two is taken for both directions and given extra room.
constexpr double kGtkRoom = 1.2;

double Scale() {
  static double scale = [] {
    wxScreenDC dc;
    dc.SetFont(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT));
    const wxString sample = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    const double averageWidth = dc.GetTextExtent(sample).x / 52.0;
    const double height = dc.GetCharHeight();
    double unit = std::max(averageWidth / 4.0, height / 8.0) * kGtkRoom;
    return unit > 1.0 ? unit : 1.5;
  }();
  return scale;
}

}  // namespace

WxSession::WxSession(int& argc, char** argv) {
  if (!wxApp::GetInstance()) wxApp::SetInstance(new wxApp);
  ok_ = wxEntryStart(argc, argv);
  if (!ok_) return;
  wxSetAssertHandler(LogAssertion);
  // Failures are logged, never shown in a box of the toolkit's.
  delete wxLog::SetActiveTarget(new wxLogStderr);
}

WxSession::~WxSession() {
  if (!ok_) return;
  if (wxTheApp) wxTheApp->OnExit();
  wxEntryCleanup();
}

int WxUi::runDialog(int templateId, DialogProc& proc) {
  const DialogTemplate* found = FindDialogTemplate(templateId);
  if (!found) return -1;
  return RunDialogTemplate(nullptr, *found, proc);
}

int DialogUnitsToPixels(int units) { return static_cast<int>(std::lround(units * Scale())); }
