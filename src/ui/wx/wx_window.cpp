#include "ui/wx/wx_window.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/clipbrd.h>
#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/gauge.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/thread.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "ui/wx/wx_icon.h"
#include "ui/wx/wx_list_view.h"
#include "ui/wx/wx_text.h"
#include "ui/wx/wx_ui.h"

namespace {

// Notification code of an edit whose text the user changed.
constexpr int kEditChanged = 0x0300;
// Longest stretch the UI thread spends on posted work before it lets the event loop paint
// and take input again.
constexpr auto kDrainSlice = std::chrono::milliseconds(10);

std::vector<WxWindow*>& LiveWindows() {
  static std::vector<WxWindow*> windows;
  return windows;
}

// Windows are never freed: a thread may still hold one after it has ended (a run that
// outlives a closed main window) and must find a closed queue there, not freed memory.
void Retire(WxWindow* window) {
  static auto* retired = new std::vector<WxWindow*>;
  retired->push_back(window);
}

// A progress bar as high as its template says. GTK draws the bar as a thin trough in the
// middle of its room unless its style asks for more.
class TemplateGauge : public wxGauge {
 public:
  TemplateGauge(wxWindow* parent, int id, const wxPoint& pos, const wxSize& size)
      : wxGauge(parent, id, 100, pos, size, wxGA_HORIZONTAL | wxGA_SMOOTH) {
#ifdef __WXGTK3__
    // The trough's frame takes a pixel above and below.
    const int inner = std::max(size.y - 2, 1);
    const wxString css = wxString::Format(
        "progressbar trough { min-height: %dpx; } progressbar progress { min-height: %dpx; }",
        inner, inner);
    GTKApplyCssStyle(css.utf8_str());
#endif
  }
};

void ScheduleDrain(const std::shared_ptr<WxPostQueue>& queue) {
  wxAppConsole* app = wxTheApp;
  if (!app) return;
  app->CallAfter([queue] { WxPostQueue::Drain(queue); });
}

}  // namespace

wxString FileDialogWildcard(const std::vector<std::pair<std::string, std::string>>& filters) {
  wxString wildcard;
  for (const auto& [description, patterns] : filters) {
    wxString list = ToWxText(patterns);
#ifndef __WXMSW__
    std::vector<wxString> lower, upper;
    for (wxString pattern : wxSplit(list, ';', '\0')) {
      pattern.Trim(true).Trim(false);
      if (pattern.empty()) continue;
      if (pattern == "*.*") pattern = "*";
      const wxString low = pattern.Lower(), up = pattern.Upper();
      if (std::find(lower.begin(), lower.end(), low) == lower.end()) lower.push_back(low);
      if (up != low && std::find(upper.begin(), upper.end(), up) == upper.end())
        upper.push_back(up);
    }
    list.clear();
    for (const auto* forms : {&lower, &upper}) {
      for (const wxString& pattern : *forms) {
        if (!list.empty()) list += ";";
        list += pattern;
      }
    }
#endif
    if (!wildcard.empty()) wildcard += "|";
    wildcard += ToWxText(description) + "|" + list;
  }
  return wildcard;
}

// ---------------------------------------------------------------------------------------
// The queue

bool WxPostQueue::push(Item item) {
  std::shared_ptr<WxPostQueue> me = self.lock();
  if (!me) return false;
  bool wake = false;
  {
    std::lock_guard<std::mutex> hold(mutex);
    if (!open) return false;
    items.push_back(std::move(item));
    if (!wakeScheduled) {
      wakeScheduled = true;
      wake = true;
    }
  }
  // One wake-up per batch: later items find it scheduled and only join the queue.
  if (wake) ScheduleDrain(me);
  return true;
}

void WxPostQueue::putBack(std::deque<Item>& rest) {
  std::lock_guard<std::mutex> hold(mutex);
  if (open) {
    items.insert(items.begin(), std::make_move_iterator(rest.begin()),
                 std::make_move_iterator(rest.end()));
  }
  rest.clear();
}

void WxPostQueue::Drain(const std::shared_ptr<WxPostQueue>& queue) {
  std::deque<Item> batch;
  {
    // The wake-up stays marked as scheduled while this runs: posts meanwhile only queue up.
    std::lock_guard<std::mutex> hold(queue->mutex);
    if (!queue->open) {
      queue->wakeScheduled = false;
      return;
    }
    batch.swap(queue->items);
  }
  WxWindow* window = queue->window;
  const auto start = std::chrono::steady_clock::now();
  while (!batch.empty()) {
    if (!window || window->ended()) return;
    Item item = std::move(batch.front());
    batch.pop_front();
    if (auto* work = std::get_if<std::function<void(Controls&)>>(&item)) {
      if (*work) (*work)(window->controls());
    } else if (auto* message = std::get_if<Message>(&item)) {
      window->deliverMessage(*message);
    } else if (auto* request = std::get_if<ModalRequest*>(&item)) {
      // The modal loop serves later work itself, so what is left goes back first, in order.
      queue->putBack(batch);
      ScheduleDrain(queue);
      int result = window->runModalRequest((*request)->templateId, *(*request)->proc);
      std::lock_guard<std::mutex> hold((*request)->mutex);
      (*request)->result = result;
      (*request)->finished = true;
      (*request)->done.notify_all();
      return;
    }
    if (std::chrono::steady_clock::now() - start > kDrainSlice) break;
  }
  if (!window || window->ended()) return;
  // What is left, and what arrived meanwhile, waits for the event loop's next turn, so that
  // painting and input come between slices even while workers keep posting.
  queue->putBack(batch);
  bool more;
  {
    std::lock_guard<std::mutex> hold(queue->mutex);
    more = !queue->items.empty();
    if (!more) queue->wakeScheduled = false;
  }
  if (more) window->resumeLater();
}

void WxPostQueue::close() {
  std::deque<Item> dropped;
  {
    std::lock_guard<std::mutex> hold(mutex);
    open = false;
    dropped.swap(items);
  }
  for (Item& item : dropped) {
    if (auto* request = std::get_if<ModalRequest*>(&item)) {
      std::lock_guard<std::mutex> hold((*request)->mutex);
      (*request)->result = -1;
      (*request)->finished = true;
      (*request)->done.notify_all();
    }
  }
}

// ---------------------------------------------------------------------------------------
// Building the dialog

WxWindow::WxWindow(const DialogTemplate& dialogTemplate, DialogProc& proc)
    : template_(dialogTemplate), proc_(proc), queue_(std::make_shared<WxPostQueue>()) {
  queue_->self = queue_;
  queue_->window = this;
  // The timer only paces the slices; the work itself runs as a pending event, which nested
  // modal loops serve too (a timer's callback is never entered twice).
  resumeTimer_.Bind(wxEVT_TIMER, [queue = queue_](wxTimerEvent&) { ScheduleDrain(queue); });
}

void WxWindow::resumeLater() {
  if (!ended_ && !resumeTimer_.IsRunning()) resumeTimer_.StartOnce(1);
}

WxWindow::~WxWindow() { queue_->close(); }

int RunDialogTemplate(wxWindow* parent, const DialogTemplate& dialogTemplate, DialogProc& proc) {
  if (!wxThread::IsMain()) return -1;
  auto* window = new WxWindow(dialogTemplate, proc);
  Retire(window);
  return window->run(parent);
}

void WxWindow::build(wxWindow* parent) {
  long style = wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX;
  if (!parent) style |= wxMINIMIZE_BOX;
  dialog_ = new wxDialog(parent, wxID_ANY, ToWxText(template_.caption), wxDefaultPosition,
                         wxDefaultSize, style);
  dialog_->SetIcons(ProgramIcons());
  dialog_->SetClientSize(DialogUnitsToPixels(template_.width),
                         DialogUnitsToPixels(template_.height));
  bool previousWasRadio = false;
  for (int i = 0; i < template_.controlCount; ++i) {
    const ControlTemplate& item = template_.controls[i];
    createControl(item, previousWasRadio);
    previousWasRadio = item.kind == ControlKind::RadioButton;
  }
  dialog_->Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
    if (ended_ || !event.CanVeto()) {
      if (!ended_) endDialog(0);
      return;
    }
    event.Veto();
    proc_.onClose(*this);
  });
  // Escape is the cancel command, which the procedure may ignore (the main window does).
  dialog_->Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
    const bool enter = event.GetKeyCode() == WXK_RETURN || event.GetKeyCode() == WXK_NUMPAD_ENTER;
    // While a row's label is being edited, Enter and Escape end the editing, wherever the
    // focus has wandered meanwhile: they never confirm or cancel the dialog.
    if ((enter || event.GetKeyCode() == WXK_ESCAPE) && !event.HasAnyModifiers()) {
      for (auto& [id, control] : controls_) {
        if (control.list && control.list->editing()) {
          control.list->endEditing(enter);
          return;
        }
      }
    }
    if (event.GetKeyCode() == WXK_ESCAPE && !event.HasAnyModifiers()) {
      if (!ended_) sendCommand(ID_CANCEL, 0);
      return;
    }
    // Enter clicks the focused push button (the toolkit does that), else the default one,
    // whatever else has the focus: GTK would toggle a focused check box instead.
    if (enter && !event.HasAnyModifiers() && !dynamic_cast<wxButton*>(wxWindow::FindFocus())) {
      if (ended_) return;
      Control* button = find(defaultButton_);
      if (!button) {
        sendCommand(ID_OK, 0);
      } else if (button->widget->IsEnabled()) {
        sendCommand(defaultButton_, 0);
      }
      return;
    }
    event.Skip();
  });
  if (parent) {
    dialog_->CentreOnParent();
  } else {
    dialog_->CentreOnScreen();
  }
}

void WxWindow::createControl(const ControlTemplate& item, bool previousWasRadio) {
  const wxPoint pos(DialogUnitsToPixels(item.x), DialogUnitsToPixels(item.y));
  const wxSize size(DialogUnitsToPixels(item.width), DialogUnitsToPixels(item.height));
  const int wxId = (item.id <= 0 || item.id == ID_STATIC) ? wxID_ANY : item.id;
  const wxString caption = ToWxText(item.caption);
  const uint32_t style = item.style;
  Control control{item.kind, style, nullptr, nullptr, nullptr, nullptr, nullptr};
  const int id = item.id;
  switch (item.kind) {
    case ControlKind::Static: {
      long flags = wxST_NO_AUTORESIZE;
      if (style & STYLE_CENTER) flags |= wxALIGN_CENTRE_HORIZONTAL;
      if (style & STYLE_RIGHT) flags |= wxALIGN_RIGHT;
      if (style & STYLE_BORDER) {
        // GTK draws no frame around a label of its own, so the frame is a panel around it.
        auto* frame = new wxPanel(dialog_, wxID_ANY, pos, size, wxBORDER_SIMPLE);
        auto* label =
            new wxStaticText(frame, wxId, caption, wxDefaultPosition, wxDefaultSize, flags);
        auto* sizer = new wxBoxSizer(wxVERTICAL);
        sizer->AddStretchSpacer();
        sizer->Add(label, 0, wxEXPAND | wxLEFT | wxRIGHT, 1);
        sizer->AddStretchSpacer();
        frame->SetSizer(sizer);
        frame->Layout();
        control.widget = label;
        control.frame = frame;
      } else {
        control.widget = new wxStaticText(dialog_, wxId, caption, pos, size, flags);
      }
      break;
    }
    case ControlKind::GroupBox:
      control.widget = new wxStaticBox(dialog_, wxId, caption, pos, size);
      break;
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
      auto* button = new wxButton(dialog_, wxId, caption, pos, size);
      if (item.kind == ControlKind::DefPushButton) {
        button->SetDefault();
        defaultButton_ = id;
      }
      button->Bind(wxEVT_BUTTON, [this, id](wxCommandEvent&) {
        if (!ended_) proc_.onCommand(*this, id, 0);
      });
      control.widget = button;
      break;
    }
    case ControlKind::CheckBox: {
      auto* box = new wxCheckBox(dialog_, wxId, caption, pos, size);
      box->Bind(wxEVT_CHECKBOX, [this, id](wxCommandEvent&) {
        if (!ended_) proc_.onCommand(*this, id, 0);
      });
      control.widget = box;
      break;
    }
    case ControlKind::RadioButton: {
      long flags = ((style & STYLE_GROUP) || !previousWasRadio) ? wxRB_GROUP : 0;
      auto* radio = new wxRadioButton(dialog_, wxId, caption, pos, size, flags);
      radio->Bind(wxEVT_RADIOBUTTON, [this, id](wxCommandEvent&) {
        if (!ended_) proc_.onCommand(*this, id, 0);
      });
      control.widget = radio;
      break;
    }
    case ControlKind::Edit: {
      long flags = 0;
      const bool multiLine = style & STYLE_MULTILINE;
      if (multiLine) {
        flags |= wxTE_MULTILINE;
        if (style & (STYLE_AUTOHSCROLL | STYLE_HSCROLL)) flags |= wxTE_DONTWRAP;
        if (style & STYLE_BORDER) flags |= wxBORDER_SUNKEN;
      }
      if (style & (STYLE_READONLY | STYLE_LOG)) flags |= wxTE_READONLY;
      auto* text = new wxTextCtrl(dialog_, wxId, wxString(), pos, size, flags);
      control.edit = std::make_unique<Edit>();
      Edit* edit = control.edit.get();
      text->Bind(wxEVT_TEXT, [this, id, edit](wxCommandEvent&) {
        if (edit->changing || ended_) return;
        edit->stale = true;
        proc_.onCommand(*this, id, kEditChanged);
      });
      if (style & STYLE_NUMBER) {
        text->Bind(wxEVT_CHAR, [](wxKeyEvent& event) {
          int key = event.GetKeyCode();
          if (key < WXK_SPACE || key == WXK_DELETE || key > 255 || (key >= '0' && key <= '9') ||
              event.ControlDown()) {
            event.Skip();
          }
        });
      }
      if (style & STYLE_LOG) {
        // Select, scroll and copy only: the program alone writes here.
        text->Bind(wxEVT_CONTEXT_MENU, [](wxContextMenuEvent&) {});
        text->Bind(wxEVT_KEY_DOWN, [](wxKeyEvent& event) {
          const int key = event.GetKeyCode();
          if (key == WXK_MENU || key == WXK_WINDOWS_MENU || (key == WXK_F10 && event.ShiftDown())) {
            return;
          }
          event.Skip();
        });
        text->Bind(wxEVT_CHAR, [](wxKeyEvent& event) {
          if (event.GetKeyCode() < WXK_SPACE || event.GetKeyCode() > 255) event.Skip();
        });
      }
      control.widget = text;
      break;
    }
    case ControlKind::ListView: {
      auto* list = new WxListView(
          dialog_, wxId, pos, size, style,
          [this, id](ItemData data, int column) {
            return ended_ ? std::string() : proc_.listCellText(*this, id, data, column);
          },
          [this](const ListNotify& notify) {
            return ended_ ? 0 : proc_.onListNotify(*this, notify);
          });
      control.list = list;
      control.widget = list;
      break;
    }
    case ControlKind::ProgressBar: {
      control.progress = std::make_unique<Progress>();
      auto* gauge = new TemplateGauge(dialog_, wxId, pos, size);
      control.widget = gauge;
      break;
    }
    case ControlKind::Icon: {
      int side = std::min(std::max(size.x, 16), 48);
      control.widget = new wxStaticBitmap(dialog_, wxId, ProgramBitmap(side), pos);
      break;
    }
  }
  if (!control.widget) return;
  // Tab reaches only the template's tab stops. Radio buttons are left to the toolkit, which
  // moves into a group at its checked button and within it by the arrow keys.
  if (!(style & STYLE_TABSTOP) && item.kind != ControlKind::RadioButton) {
    control.widget->DisableFocusFromKeyboard();
    if (control.frame) control.frame->DisableFocusFromKeyboard();
  }
  if (style & STYLE_DISABLED) control.widget->Disable();
  if (control.frame) control.frame->Enable(!(style & STYLE_DISABLED));
  if (controls_.find(id) == controls_.end()) {
    controls_.emplace(id, std::move(control));
  }
}

int WxWindow::run(wxWindow* parent) {
  build(parent);
  LiveWindows().push_back(this);
  const bool focusFirst = proc_.onInit(*this);
  int result = earlyResult_;
  if (!endedEarly_) {
    if (focusFirst) {
      for (int i = 0; i < template_.controlCount; ++i) {
        wxWindow* widget = control(template_.controls[i].id);
        if (widget && widget->IsEnabled() && widget->AcceptsFocus() &&
            template_.controls[i].kind != ControlKind::Static &&
            template_.controls[i].kind != ControlKind::GroupBox) {
          widget->SetFocus();
          break;
        }
      }
    }
    modal_ = true;
    result = dialog_->ShowModal();
    modal_ = false;
  }
  finish();
  return result;
}

void WxWindow::finish() {
  ended_ = true;
  resumeTimer_.Stop();
  queue_->close();
  auto& live = LiveWindows();
  live.erase(std::remove(live.begin(), live.end(), this), live.end());
  for (auto& [id, control] : controls_) {
    if (control.list) control.list->detach();
  }
  controls_.clear();
  if (dialog_) {
    dialog_->Hide();
    dialog_->Destroy();
    dialog_ = nullptr;
  }
}

wxWindow* WxWindow::control(int id) const {
  auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second.widget;
}

WxWindow::Control* WxWindow::find(int id) {
  auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : &found->second;
}

WxWindow::Control* WxWindow::find(int id, ControlKind kind) {
  Control* control = find(id);
  return control && control->kind == kind ? control : nullptr;
}

// ---------------------------------------------------------------------------------------
// Window

void WxWindow::post(std::function<void(Controls&)> work) { queue_->push(std::move(work)); }

void WxWindow::postMessage(int message, intptr_t wParam, intptr_t lParam) {
  queue_->push(WxPostQueue::Message{message, wParam, lParam});
}

void WxWindow::deliverMessage(const WxPostQueue::Message& message) {
  if (!ended_) proc_.onMessage(*this, message.message, message.wParam, message.lParam);
}

void WxWindow::endDialog(int result) {
  if (ended_ || endedEarly_) return;
  if (modal_) {
    if (dialog_->IsModal()) dialog_->EndModal(result);
  } else {
    endedEarly_ = true;
    earlyResult_ = result;
  }
}

void WxWindow::sendCommand(int id, int code) {
  if (!ended_) proc_.onCommand(*this, id, code);
}

int WxWindow::trackPopupMenu(const std::vector<MenuItem>& items, int screenX, int screenY) {
  if (ended_ || items.empty()) return 0;
  wxMenu menu;
  for (const MenuItem& item : items) {
    if (item.command == 0 || !item.text) {
      menu.AppendSeparator();
    } else {
      menu.Append(item.command, ToWxText(item.text));
    }
  }
  int chosen = dialog_->GetPopupMenuSelectionFromUser(
      menu, dialog_->ScreenToClient(wxPoint(screenX, screenY)));
  return chosen == wxID_NONE ? 0 : chosen;
}

bool WxWindow::setClipboardText(const char* text) {
  if (!text) return false;
  wxClipboardLocker locker(wxTheClipboard);
  if (!locker) return false;
  bool placed = wxTheClipboard->SetData(new wxTextDataObject(ToWxText(text)));
  // The text stays available after the program ends when a clipboard manager runs.
  if (placed) wxTheClipboard->Flush();
  return placed;
}

bool WxWindow::browseForFolder(const char* title, std::string& value) {
  if (ended_) return false;
  wxDirDialog chooser(dialog_, ToWxText(title), ToWxText(value),
                      wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
  if (chooser.ShowModal() != wxID_OK) return false;
  value = FromWxText(chooser.GetPath());
  return true;
}

bool WxWindow::chooseOpenFile(const char* title,
                              const std::vector<std::pair<std::string, std::string>>& filters,
                              std::string& value) {
  if (ended_) return false;
  wxFileName initial(ToWxText(value));
  wxFileDialog chooser(dialog_, ToWxText(title), initial.GetPath(), initial.GetFullName(),
                       FileDialogWildcard(filters), wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  // Some toolkits open the box with no filter chosen, which shows every file.
  if (!filters.empty()) chooser.SetFilterIndex(0);
  if (chooser.ShowModal() != wxID_OK) return false;
  value = FromWxText(chooser.GetPath());
  return true;
}

int WxWindow::showModal(int templateId, DialogProc& proc) {
  if (wxThread::IsMain()) return runModalRequest(templateId, proc);
  WxPostQueue::ModalRequest request;
  request.templateId = templateId;
  request.proc = &proc;
  if (!queue_->push(&request)) return -1;
  std::unique_lock<std::mutex> hold(request.mutex);
  request.done.wait(hold, [&request] { return request.finished; });
  return request.result;
}

int WxWindow::runModalRequest(int templateId, DialogProc& proc) {
  const DialogTemplate* found = FindDialogTemplate(templateId);
  if (!found || ended_) return -1;
  return RunDialogTemplate(dialog_, *found, proc);
}

// ---------------------------------------------------------------------------------------
// Controls: text

WxWindow::Edit* WxWindow::editOf(int id, wxTextCtrl** ctrl) {
  Control* control = find(id, ControlKind::Edit);
  if (!control) return nullptr;
  *ctrl = static_cast<wxTextCtrl*>(control->widget);
  Edit* edit = control->edit.get();
  if (edit->stale) {
    edit->text = FromWxText((*ctrl)->GetValue());
    edit->stale = false;
  }
  return edit;
}

std::string WxWindow::getText(int id) {
  if (ended_) return {};
  if (id == 0) return FromWxText(dialog_->GetTitle());
  wxTextCtrl* ctrl;
  if (Edit* edit = editOf(id, &ctrl)) return edit->text;
  Control* control = find(id);
  if (!control) return {};
  switch (control->kind) {
    case ControlKind::Static:
    case ControlKind::GroupBox:
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
      return FromWxText(control->widget->GetLabel());
    default:
      return {};
  }
}

void WxWindow::setText(int id, const char* text) {
  if (ended_) return;
  if (!text) text = "";
  if (id == 0) {
    dialog_->SetTitle(ToWxText(text));
    return;
  }
  wxTextCtrl* ctrl;
  if (Edit* edit = editOf(id, &ctrl)) {
    wxString value = ToWxText(text);
    edit->changing = true;
    ctrl->ChangeValue(value);
    edit->changing = false;
    edit->text = FromWxText(value);
    return;
  }
  Control* control = find(id);
  if (!control) return;
  switch (control->kind) {
    case ControlKind::Static:
    case ControlKind::GroupBox:
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
      control->widget->SetLabel(ToWxText(text));
      break;
    default:
      break;
  }
}

int WxWindow::getTextLength(int id) {
  if (ended_) return 0;
  wxTextCtrl* ctrl;
  if (Edit* edit = editOf(id, &ctrl)) return static_cast<int>(edit->text.size());
  return static_cast<int>(getText(id).size());
}

void WxWindow::setSelection(int id, int start, int end) {
  wxTextCtrl* ctrl;
  Edit* edit = ended_ ? nullptr : editOf(id, &ctrl);
  if (!edit) return;
  const int length = static_cast<int>(edit->text.size());
  if (start < 0) {
    // As the system's edit does: a negative start removes the selection.
    long point = ctrl->GetInsertionPoint();
    ctrl->SetSelection(point, point);
    return;
  }
  if (end < 0 || end > length) end = length;
  if (start > length) start = length;
  long from = Utf8CharCount(edit->text, static_cast<size_t>(std::min(start, end)));
  long to = Utf8CharCount(edit->text, static_cast<size_t>(std::max(start, end)));
  ctrl->SetSelection(from, to);
}

void WxWindow::getSelection(int id, int* start, int* end) {
  int s = 0, e = 0;
  wxTextCtrl* ctrl;
  if (Edit* edit = ended_ ? nullptr : editOf(id, &ctrl)) {
    long from, to;
    ctrl->GetSelection(&from, &to);
    s = static_cast<int>(Utf8ByteOffset(edit->text, from));
    e = static_cast<int>(Utf8ByteOffset(edit->text, to));
  }
  if (start) *start = s;
  if (end) *end = e;
}

void WxWindow::replaceSelection(int id, const char* text) {
  wxTextCtrl* ctrl;
  Edit* edit = ended_ ? nullptr : editOf(id, &ctrl);
  if (!edit) return;
  wxString insert = ToWxText(text ? text : "");
  long from, to;
  ctrl->GetSelection(&from, &to);
  if (edit->limit > 0) {
    const long total = ctrl->GetLastPosition();
    const long room = edit->limit - (total - (to - from));
    if (room <= 0) {
      insert.clear();
    } else if (static_cast<long>(insert.length()) > room) {
      insert.Truncate(room);
    }
  }
  const size_t fromByte = Utf8ByteOffset(edit->text, from);
  const size_t toByte = from == to ? fromByte : Utf8ByteOffset(edit->text, to);
  edit->changing = true;
  ctrl->Replace(from, to, insert);
  edit->changing = false;
  edit->text.replace(fromByte, toByte - fromByte, FromWxText(insert));
}

void WxWindow::clearSelection(int id) { replaceSelection(id, ""); }

void WxWindow::setTextLimit(int id, int limit) {
  wxTextCtrl* ctrl;
  Edit* edit = ended_ ? nullptr : editOf(id, &ctrl);
  if (!edit) return;
  edit->limit = limit > 0 ? limit : 0;
  if (!ctrl->IsMultiLine()) ctrl->SetMaxLength(edit->limit);
}

// ---------------------------------------------------------------------------------------
// Controls: buttons and every control

bool WxWindow::isChecked(int id) {
  if (ended_) return false;
  if (Control* box = find(id, ControlKind::CheckBox)) {
    return static_cast<wxCheckBox*>(box->widget)->GetValue();
  }
  if (Control* radio = find(id, ControlKind::RadioButton)) {
    return static_cast<wxRadioButton*>(radio->widget)->GetValue();
  }
  return false;
}

void WxWindow::setChecked(int id, bool checked) {
  if (ended_) return;
  if (Control* box = find(id, ControlKind::CheckBox)) {
    static_cast<wxCheckBox*>(box->widget)->SetValue(checked);
  } else if (Control* radio = find(id, ControlKind::RadioButton)) {
    // The toolkit keeps one button of a group checked; checking one clears the others.
    static_cast<wxRadioButton*>(radio->widget)->SetValue(checked);
  }
}

bool WxWindow::isEnabled(int id) {
  if (ended_) return false;
  if (id == 0) return dialog_->IsEnabled();
  Control* control = find(id);
  return control && control->widget->IsEnabled();
}

void WxWindow::setEnabled(int id, bool enabled) {
  if (ended_) return;
  if (Control* control = find(id)) control->widget->Enable(enabled);
}

void WxWindow::setFocus(int id) {
  if (ended_) return;
  if (Control* control = find(id)) control->widget->SetFocus();
}

// ---------------------------------------------------------------------------------------
// Controls: progress bars

void WxWindow::showProgress(Control& control) {
  Progress& p = *control.progress;
  auto* gauge = static_cast<wxGauge*>(control.widget);
  int range = std::max(1, p.high - p.low);
  if (gauge->GetRange() != range) gauge->SetRange(range);
  gauge->SetValue(std::clamp(p.pos - p.low, 0, range));
}

void WxWindow::setProgressRange(int id, int low, int high) {
  Control* control = ended_ ? nullptr : find(id, ControlKind::ProgressBar);
  if (!control) return;
  Progress& p = *control->progress;
  p.low = low;
  p.high = std::max(low, high);
  p.pos = std::clamp(p.pos, p.low, p.high);
  showProgress(*control);
}

void WxWindow::setProgressStep(int id, int step) {
  Control* control = ended_ ? nullptr : find(id, ControlKind::ProgressBar);
  if (control) control->progress->step = step;
}

void WxWindow::setProgressPos(int id, int pos) {
  Control* control = ended_ ? nullptr : find(id, ControlKind::ProgressBar);
  if (!control) return;
  Progress& p = *control->progress;
  p.pos = std::clamp(pos, p.low, p.high);
  showProgress(*control);
}

void WxWindow::stepProgress(int id) {
  Control* control = ended_ ? nullptr : find(id, ControlKind::ProgressBar);
  if (!control) return;
  Progress& p = *control->progress;
  p.pos += p.step;
  if (p.pos > p.high) p.pos = p.low;
  if (p.pos < p.low) p.pos = p.low;
  showProgress(*control);
}

int WxWindow::getProgressPos(int id) {
  Control* control = ended_ ? nullptr : find(id, ControlKind::ProgressBar);
  return control ? control->progress->pos : 0;
}

// ---------------------------------------------------------------------------------------
// Controls: list views

#define QF_LIST_OR(id, fallback)                                         \
  Control* control = ended_ ? nullptr : find(id, ControlKind::ListView); \
  if (!control) return fallback;                                         \
  WxListView& list = *control->list

void WxWindow::insertListColumn(int id, int index, const char* heading, int width) {
  QF_LIST_OR(id, );
  list.insertColumn(index, heading, width);
}

int WxWindow::getListColumnWidth(int id, int column) {
  QF_LIST_OR(id, 0);
  return list.columnWidth(column);
}

void WxWindow::setListColumnWidth(int id, int column, int width) {
  QF_LIST_OR(id, );
  list.setColumnWidth(column, width);
}

int WxWindow::measureText(int id, const char* text) {
  QF_LIST_OR(id, 0);
  return list.measure(text);
}

int WxWindow::insertListRow(int id, int index, ItemData data, const char* text) {
  QF_LIST_OR(id, -1);
  return list.insertRow(index, data, text);
}

int WxWindow::getListRowCount(int id) {
  QF_LIST_OR(id, 0);
  return list.rowCount();
}

ItemData WxWindow::getListRowData(int id, int row) {
  QF_LIST_OR(id, 0);
  return list.rowData(row);
}

int WxWindow::findListRow(int id, ItemData data) {
  QF_LIST_OR(id, -1);
  return list.findRow(data);
}

void WxWindow::setListCell(int id, int row, int column, const char* text) {
  QF_LIST_OR(id, );
  list.setCell(row, column, text);
}

std::string WxWindow::getListCell(int id, int row, int column) {
  QF_LIST_OR(id, {});
  return list.cell(row, column);
}

void WxWindow::deleteListRow(int id, int row) {
  QF_LIST_OR(id, );
  list.deleteRow(row);
}

void WxWindow::deleteAllListRows(int id) {
  QF_LIST_OR(id, );
  list.deleteAllRows();
}

void WxWindow::sortList(int id, ListCompare compare, intptr_t param) {
  QF_LIST_OR(id, );
  list.sortRows(compare, param);
}

void WxWindow::redrawListRows(int id, int first, int last) {
  QF_LIST_OR(id, );
  list.redrawRows(first, last);
}

int WxWindow::getSelectedListRow(int id) {
  QF_LIST_OR(id, -1);
  return list.selectedRow();
}

void WxWindow::editListLabel(int id, int row) {
  QF_LIST_OR(id, );
  list.editLabel(row);
}

#undef QF_LIST_OR

// ---------------------------------------------------------------------------------------
// Reaching windows from outside

wxWindow* WxWindowOf(Window& window) {
  auto* ours = dynamic_cast<WxWindow*>(&window);
  return ours && !ours->ended() ? ours->dialog() : nullptr;
}

wxWindow* WxControlOf(Window& window, int controlId) {
  auto* ours = dynamic_cast<WxWindow*>(&window);
  return ours && !ours->ended() ? ours->control(controlId) : nullptr;
}

Window* ActiveWxWindow() {
  auto& live = LiveWindows();
  for (auto it = live.rbegin(); it != live.rend(); ++it) {
    if (!(*it)->ended() && (*it)->dialog() && (*it)->dialog()->IsShown()) return *it;
  }
  return nullptr;
}
