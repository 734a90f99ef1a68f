#include "results/results_dialog.h"
#include "ui/dialog_template.h"

namespace {

const ControlTemplate RESULTS_CONTROLS[] = {
    {ID_STATIC, ControlKind::Static,
     "Click the Action column to change the action for a link individually, or use the "
     "buttons below.",
     4, 4, 290, 8, 0},
    {IDC_RESULTS_LIST, ControlKind::ListView, "", 4, 16, 323, 116,
     STYLE_SINGLESEL | STYLE_EDITLABELS | STYLE_BORDER | STYLE_TABSTOP},
    {ID_STATIC, ControlKind::Static, "If page was not found:", 12, 139, 72, 8, 0},
    {IDC_DELETE_ALL, ControlKind::PushButton, "&Delete All", 89, 136, 50, 14, STYLE_TABSTOP},
    {IDC_SHIFT_ALL, ControlKind::PushButton, "&Shift All", 141, 136, 50, 14, STYLE_TABSTOP},
    {IDC_LEAVE_ALL_BROKEN, ControlKind::PushButton, "&Leave All", 193, 136, 50, 14, STYLE_TABSTOP},
    {ID_STATIC, ControlKind::Static, "If page has been moved:", 4, 154, 80, 8, 0},
    {IDC_UPDATE_ALL, ControlKind::PushButton, "&Update All", 89, 152, 50, 14, STYLE_TABSTOP},
    {IDC_LEAVE_ALL_MOVED, ControlKind::PushButton, "L&eave All", 141, 152, 50, 14, STYLE_TABSTOP},
    {ID_OK, ControlKind::DefPushButton, "OK", 224, 168, 50, 14, STYLE_TABSTOP},
    {ID_CANCEL, ControlKind::PushButton, "Cancel", 277, 168, 50, 14, STYLE_TABSTOP},
};

const DialogTemplate RESULTS_TEMPLATE = {
    IDD_RESULTS,
    "Quillfen Results",
    331,
    186,
    RESULTS_CONTROLS,
    static_cast<int>(sizeof RESULTS_CONTROLS / sizeof RESULTS_CONTROLS[0])};

}  // namespace

void RegisterResultsDialogTemplate() { RegisterDialogTemplate(&RESULTS_TEMPLATE); }
