#include "app/about_dialog.h"
#include "ui/dialog_template.h"

namespace {

const ControlTemplate ABOUT_CONTROLS[] = {
    {ID_STATIC, ControlKind::Static, "Quillfen", 34, 8, 140, 8, 0},
    {ID_STATIC, ControlKind::Icon, "", 8, 8, 20, 20, 0},
    {ID_STATIC, ControlKind::Static, "Version 1.1", 34, 19, 140, 8, 0},
    {ID_STATIC, ControlKind::Static,
     "Checks the links of your Favorites and Bookmarks and repairs them.", 34, 30, 140, 16, 0},
    {IDC_HOME_PAGE, ControlKind::PushButton, "&Tarnwell Home Page", 8, 54, 90, 14, STYLE_TABSTOP},
    {ID_OK, ControlKind::DefPushButton, "OK", 124, 54, 50, 14, STYLE_TABSTOP},
};

const DialogTemplate ABOUT_TEMPLATE = {
    IDD_ABOUT,
    "About Quillfen",
    182,
    76,
    ABOUT_CONTROLS,
    static_cast<int>(sizeof ABOUT_CONTROLS / sizeof ABOUT_CONTROLS[0])};

}  // namespace

void RegisterAboutDialogTemplate() { RegisterDialogTemplate(&ABOUT_TEMPLATE); }
