// The About box: the program's name and version, and a button that opens the maker's home
// page in the browser. Opened modally from the main window; UI thread only.
#pragma once

#include "ui/window.h"

constexpr int IDD_ABOUT = 104;
constexpr int IDC_HOME_PAGE = 1036;

inline constexpr char TARNWELL_HOME_PAGE[] = "https://tarnwell.example/quillfen";

// Makes the About box's template known; the dialog procedure's constructor calls it.
void RegisterAboutDialogTemplate();

class AboutDialogProc : public DialogProc {
 public:
  AboutDialogProc();
  bool onInit(Window& window) override;
  // OK ends the box with 1; the home page button opens the page and leaves it open. Only
  // clicks (code 0) count; Escape (control 2) is not handled, so the box stays.
  void onCommand(Window& window, int id, int code) override;
  void onClose(Window& window) override;  // the close box: ends with 0
};
