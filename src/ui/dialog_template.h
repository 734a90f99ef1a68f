// Dialog templates: every window of the program is built from one of these numbered tables.
// Positions and sizes are in dialog units. Read-only data; any thread may read it.
#pragma once

#include <cstdint>

enum class ControlKind {
  Static,
  GroupBox,
  PushButton,
  DefPushButton,
  CheckBox,
  RadioButton,
  Edit,
  ListView,
  ProgressBar,
  Icon,
};

// Style bits; a backend honours the ones that make sense for the control's kind.
constexpr uint32_t STYLE_GROUP = 0x0001;  // starts a group (radio buttons, tab order)
constexpr uint32_t STYLE_TABSTOP = 0x0002;
constexpr uint32_t STYLE_BORDER = 0x0004;
constexpr uint32_t STYLE_DISABLED = 0x0008;
constexpr uint32_t STYLE_MULTILINE = 0x0010;  // edit
constexpr uint32_t STYLE_READONLY = 0x0020;   // edit
constexpr uint32_t STYLE_VSCROLL = 0x0040;
constexpr uint32_t STYLE_HSCROLL = 0x0080;
constexpr uint32_t STYLE_AUTOVSCROLL = 0x0100;
constexpr uint32_t STYLE_AUTOHSCROLL = 0x0200;
constexpr uint32_t STYLE_NUMBER = 0x0400;        // edit accepting digits only
constexpr uint32_t STYLE_CENTER = 0x0800;        // static text centred
constexpr uint32_t STYLE_RIGHT = 0x1000;         // static text right-aligned
constexpr uint32_t STYLE_SINGLESEL = 0x2000;     // list view
constexpr uint32_t STYLE_EDITLABELS = 0x4000;    // list view
constexpr uint32_t STYLE_NOSORTHEADER = 0x8000;  // list view
constexpr uint32_t STYLE_AUTORADIO = 0x10000;    // radio buttons checked by the click
constexpr uint32_t STYLE_LOG = 0x20000;          // edit the user can select in but not type

constexpr int ID_OK = 1;
constexpr int ID_CANCEL = 2;
constexpr int ID_STATIC = 65535;

struct ControlTemplate {
  int id;
  ControlKind kind;
  const char* caption;
  int x, y, width, height;
  uint32_t style;
};

struct DialogTemplate {
  int id;
  const char* caption;
  int width, height;
  const ControlTemplate* controls;
  int controlCount;
};

// The template with that number, or null. Any thread.
const DialogTemplate* FindDialogTemplate(int id);

// Makes a template known to FindDialogTemplate; any thread, any number of times (a template
// registered again, or another one with the same number, replaces the earlier one).
// How a module adds its dialog: it defines its table in a file of its own and registers it
// before the dialog can be shown, from a function of its own that the code showing the
// dialog calls (for example at the top of the function that runs the dialog, or in the
// dialog procedure's constructor). Registering from a static object's constructor is not
// reliable: the linker drops an unreferenced object file of a static library, and with it
// the registration. The main window's template (102) is always known.
void RegisterDialogTemplate(const DialogTemplate* tmpl);

// The main window.
extern const DialogTemplate MAIN_WINDOW_TEMPLATE;
constexpr int IDD_MAIN_WINDOW = 102;
