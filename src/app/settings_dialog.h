// The Settings dialog: shows the Settings record, and on OK copies the controls back into it
// and saves it. Opened modally from the main window (and on the first start); UI thread only,
// never while a clean run is active.
#pragma once

#include "ui/window.h"

constexpr int IDD_SETTINGS = 101;

constexpr int IDC_CLEAN_FAVORITES = 1000;
constexpr int IDC_FAVORITES_FOLDER = 1001;
constexpr int IDC_BROWSE_FAVORITES = 1002;
constexpr int IDC_CLEAN_BOOKMARKS = 1003;
constexpr int IDC_BOOKMARK_FILE = 1004;
constexpr int IDC_BROWSE_BOOKMARKS = 1005;
constexpr int IDC_SYNCHRONISE = 1006;
constexpr int IDC_BROKEN_ASK = 1007;
constexpr int IDC_BROKEN_DELETE = 1008;
constexpr int IDC_BROKEN_SHIFT = 1009;
constexpr int IDC_USE_PROXY = 1010;
constexpr int IDC_PROXY_HOST = 1011;
constexpr int IDC_PROXY_PORT = 1012;
constexpr int IDC_MOVED_ASK = 1013;
constexpr int IDC_MOVED_UPDATE = 1014;
constexpr int IDC_SORT_BOOKMARKS = 1015;
constexpr int IDC_TIMEOUT = 1016;
constexpr int IDC_RETRIES = 1017;
constexpr int IDC_OLDER_DAYS = 1021;
constexpr int IDC_ONLY_OLDER = 1022;
constexpr int IDC_FORBIDDEN_AS_NOT_FOUND = 1040;
constexpr int IDC_THREADS = 1041;

// Room the location edits and the proxy edit let the user type.
constexpr int SETTINGS_PATH_LIMIT = 260;
constexpr int SETTINGS_PROXY_LIMIT = 80;

// Makes the dialog's template known; the dialog procedure's constructor calls it.
void RegisterSettingsDialogTemplate();

// Fills the controls from *settings and enables them by their check boxes.
void InitSettingsDialog(Window& window);
// Copies the controls into *settings (every bit without a control cleared, numbers that are
// empty or no number read as 0, the thread count clamped to 1..64) and saves it. False when
// the save failed.
bool ApplySettingsDialog(Window& window);
// Enables each location, the proxy address and port, and the age limit with its check box.
void UpdateSettingsControls(Controls& controls);
// Lets the user pick a folder for the edit; a cancelled choice leaves the edit as it was.
void BrowseFavoritesFolder(Window& window, int editId);
// Lets the user pick the bookmark file, starting from the edit's text.
void BrowseBookmarkFile(Window& window, int editId);

// The number an edit shows, read as an unsigned decimal: blanks around it are allowed, and
// anything else (an empty field, other characters, a value past 32 bits) gives 0.
unsigned ReadUnsignedField(const char* text);

class SettingsDialogProc : public DialogProc {
 public:
  SettingsDialogProc();
  bool onInit(Window& window) override;
  // OK applies and ends with 1, Cancel ends with 0; the four check boxes that govern other
  // controls update them; the Browse buttons fill their edits. Only clicks (code 0) count.
  void onCommand(Window& window, int id, int code) override;
  void onClose(Window& window) override;           // ends with 0, changing nothing
  bool saveFailed() const { return saveFailed_; }  // OK was chosen and the save failed

 private:
  bool saveFailed_ = false;
};
