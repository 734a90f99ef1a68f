// The desktop program: starts the toolkit on this thread (the UI thread) without a window of
// its own and runs the program's main window until it ends.
#include "ui/dialog_template.h"
#include "ui/wx/wx_ui.h"

namespace {

// Shows the main window with its welcome line until the program's own start-up is wired in.
class PlainMainWindow : public DialogProc {
 public:
  bool onInit(Window& window) override {
    window.controls().replaceSelection(1018, "Welcome to Quillfen!\r\n\r\n");
    window.controls().setText(1039, "0");
    return true;
  }
  void onCommand(Window& window, int id, int code) override {
    if (code == 0 && id == 1019) window.endDialog(0);
  }
};

}  // namespace

int main(int argc, char** argv) {
  WxSession session(argc, argv);
  if (!session.ok()) return 1;
  WxUi ui;
  PlainMainWindow proc;
  ui.runDialog(102, proc);
  return 0;
}
