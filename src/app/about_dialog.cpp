#include "app/about_dialog.h"

#include "app/browser.h"
#include "ui/dialog_template.h"

AboutDialogProc::AboutDialogProc() { RegisterAboutDialogTemplate(); }

bool AboutDialogProc::onInit(Window& window) {
  (void)window;
  return true;
}

void AboutDialogProc::onCommand(Window& window, int id, int code) {
  if (code != 0) return;
  if (id == ID_OK) {
    window.endDialog(1);
  } else if (id == IDC_HOME_PAGE) {
    OpenInBrowser(TARNWELL_HOME_PAGE, SW_SHOW);
  }
}

void AboutDialogProc::onClose(Window& window) { window.endDialog(0); }
