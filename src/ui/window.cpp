#include "ui/window.h"

void DialogProc::onClose(Window& window) { window.endDialog(0); }
