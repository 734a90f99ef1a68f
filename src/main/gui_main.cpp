// The desktop program: starts the toolkit on this thread (which becomes the UI thread)
// without a window of its own and runs the program until its main window ends.
#include "app/main_window.h"
#include "ui/wx/wx_ui.h"

int main(int argc, char** argv) {
  WxSession session(argc, argv);
  if (!session.ok()) return 1;
  WxUi ui;
  return RunQuillfen(ui);
}
