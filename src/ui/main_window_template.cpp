#include "ui/dialog_template.h"

namespace {

constexpr uint32_t LOG_STYLE = STYLE_MULTILINE | STYLE_AUTOVSCROLL | STYLE_AUTOHSCROLL |
                               STYLE_VSCROLL | STYLE_BORDER | STYLE_LOG;

const ControlTemplate MAIN_WINDOW_CONTROLS[] = {
    {1013, ControlKind::DefPushButton, "&Clean!", 3, 3, 50, 14, STYLE_TABSTOP},
    {1014, ControlKind::PushButton, "&Settings", 3, 19, 50, 14, STYLE_TABSTOP},
    {1015, ControlKind::PushButton, "&About", 3, 35, 50, 14, STYLE_TABSTOP},
    {1019, ControlKind::PushButton, "&Quit", 3, 51, 50, 14, STYLE_TABSTOP},
    {1018, ControlKind::Edit, "", 57, 3, 251, 63, LOG_STYLE},
    {1041, ControlKind::ListView, "", 3, 68, 305, 66,
     STYLE_SINGLESEL | STYLE_NOSORTHEADER | STYLE_BORDER | STYLE_TABSTOP},
    {1017, ControlKind::Edit, "", 3, 137, 305, 44, LOG_STYLE},
    {1020, ControlKind::ProgressBar, "", 3, 184, 285, 11, 0},
    {1039, ControlKind::Static, "", 290, 184, 18, 11, STYLE_CENTER | STYLE_BORDER},
};

}  // namespace

const DialogTemplate MAIN_WINDOW_TEMPLATE = {
    IDD_MAIN_WINDOW,
    "Quillfen 1.1",
    311,
    198,
    MAIN_WINDOW_CONTROLS,
    static_cast<int>(sizeof MAIN_WINDOW_CONTROLS / sizeof MAIN_WINDOW_CONTROLS[0])};
