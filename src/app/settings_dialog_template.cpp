#include "app/settings_dialog.h"
#include "ui/dialog_template.h"

namespace {

constexpr uint32_t TEXT_EDIT = STYLE_BORDER | STYLE_AUTOHSCROLL | STYLE_TABSTOP;
constexpr uint32_t NUMBER_EDIT = TEXT_EDIT | STYLE_NUMBER;
constexpr uint32_t BOX = STYLE_TABSTOP;
constexpr uint32_t FIRST_RADIO = STYLE_AUTORADIO | STYLE_GROUP | STYLE_TABSTOP;
constexpr uint32_t RADIO = STYLE_AUTORADIO;

const ControlTemplate SETTINGS_CONTROLS[] = {
    {IDC_CLEAN_BOOKMARKS, ControlKind::CheckBox, "Clean Navigator &Bookmarks", 4, 4, 104, 10, BOX},
    {ID_STATIC, ControlKind::Static, "&Location:", 20, 17, 30, 8, 0},
    {IDC_BOOKMARK_FILE, ControlKind::Edit, "", 53, 16, 170, 14, TEXT_EDIT},
    {IDC_BROWSE_BOOKMARKS, ControlKind::PushButton, "&Browse", 226, 16, 50, 14, BOX},
    {IDC_CLEAN_FAVORITES, ControlKind::CheckBox, "Clean Explorer &Favorites", 4, 33, 92, 10, BOX},
    {ID_STATIC, ControlKind::Static, "L&ocation:", 20, 46, 30, 8, 0},
    {IDC_FAVORITES_FOLDER, ControlKind::Edit, "", 53, 45, 170, 14, TEXT_EDIT},
    {IDC_BROWSE_FAVORITES, ControlKind::PushButton, "Bro&wse", 226, 45, 50, 14, BOX},
    {IDC_SYNCHRONISE, ControlKind::CheckBox, "&Synchronise Favorites and Bookmarks", 4, 64, 137, 10,
     BOX},
    {IDC_SORT_BOOKMARKS, ControlKind::CheckBox, "So&rt Bookmarks (Separators will be lost)", 4, 78,
     140, 10, BOX},
    {IDC_ONLY_OLDER, ControlKind::CheckBox, "Onl&y check links older than", 4, 91, 101, 10, BOX},
    {IDC_OLDER_DAYS, ControlKind::Edit, "", 106, 90, 32, 12, NUMBER_EDIT},
    {ID_STATIC, ControlKind::Static, "days", 142, 92, 16, 8, 0},
    {IDC_FORBIDDEN_AS_NOT_FOUND, ControlKind::CheckBox, "Treat &Forbidden (403) as Not Found", 4,
     105, 129, 10, BOX},
    {ID_STATIC, ControlKind::Static, "If a link no longer works,", 19, 123, 78, 8, 0},
    {IDC_BROKEN_ASK, ControlKind::RadioButton, "&Ask what to do with it", 39, 137, 83, 10,
     FIRST_RADIO},
    {IDC_BROKEN_DELETE, ControlKind::RadioButton, "&Delete it automatically", 39, 147, 85, 10,
     RADIO},
    {IDC_BROKEN_SHIFT, ControlKind::RadioButton, "S&hift it to the 'broken' folder", 39, 158, 101,
     10, RADIO},
    {ID_STATIC, ControlKind::Static, "If a page has been moved,", 139, 123, 86, 8, 0},
    {IDC_MOVED_ASK, ControlKind::RadioButton, "As&k what to do with it", 159, 137, 83, 10,
     FIRST_RADIO},
    {IDC_MOVED_UPDATE, ControlKind::RadioButton, "Automatically &update the link", 159, 147, 106,
     10, RADIO},
    {IDC_USE_PROXY, ControlKind::CheckBox, "Connect through &Proxy Server", 4, 175, 111, 10,
     BOX | STYLE_GROUP},
    {ID_STATIC, ControlKind::Static, "Addr&ess:", 20, 191, 28, 8, 0},
    {IDC_PROXY_HOST, ControlKind::Edit, "", 53, 189, 156, 12, TEXT_EDIT},
    {ID_STATIC, ControlKind::Static, "Po&rt:", 218, 191, 16, 8, 0},
    {IDC_PROXY_PORT, ControlKind::Edit, "", 236, 189, 40, 12, NUMBER_EDIT},
    {ID_STATIC, ControlKind::Static, "&Threads:", 192, 65, 29, 8, 0},
    {IDC_THREADS, ControlKind::Edit, "", 226, 63, 35, 12, NUMBER_EDIT},
    {ID_STATIC, ControlKind::Static, "T&imeout:", 193, 80, 28, 8, 0},
    {IDC_TIMEOUT, ControlKind::Edit, "", 226, 78, 35, 12, NUMBER_EDIT},
    {ID_STATIC, ControlKind::Static, "R&etries:", 196, 95, 25, 8, 0},
    {IDC_RETRIES, ControlKind::Edit, "", 226, 93, 35, 12, NUMBER_EDIT},
    {ID_OK, ControlKind::DefPushButton, "OK", 173, 204, 50, 14, BOX},
    {ID_CANCEL, ControlKind::PushButton, "Cancel", 226, 204, 50, 14, BOX},
};

const DialogTemplate SETTINGS_TEMPLATE = {
    IDD_SETTINGS,
    "Quillfen Settings",
    280,
    222,
    SETTINGS_CONTROLS,
    static_cast<int>(sizeof SETTINGS_CONTROLS / sizeof SETTINGS_CONTROLS[0])};

}  // namespace

void RegisterSettingsDialogTemplate() { RegisterDialogTemplate(&SETTINGS_TEMPLATE); }
