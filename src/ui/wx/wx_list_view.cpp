#include "ui/wx/wx_list_view.h"

#include <wx/dcclient.h>
#include <wx/utils.h>

#include <algorithm>

#include "ui/dialog_template.h"
#include "ui/wx/wx_text.h"

namespace {

long ListStyle(uint32_t style) {
  long flags = wxLC_REPORT | wxLC_VIRTUAL;
  if (style & STYLE_SINGLESEL) flags |= wxLC_SINGLE_SEL;
  flags |= (style & STYLE_BORDER) ? wxBORDER_SUNKEN : wxBORDER_NONE;
  return flags;
}

// Room the toolkit draws around a cell's text.
constexpr int kCellPadding = 16;
// What the list itself keeps free around a cell's text.
constexpr int kTextMargin = 10;

}  // namespace

WxListView::WxListView(wxWindow* parent, int id, const wxPoint& pos, const wxSize& size,
                       uint32_t style, std::function<std::string(ItemData, int)> cellText,
                       std::function<int(const ListNotify&)> notify)
    : wxListCtrl(parent, id, pos, size, ListStyle(style)),
      cellText_(std::move(cellText)),
      notify_(std::move(notify)),
      style_(style) {
  // Mouse events go to the list's inner window (the one below the header), not to the list.
  wxWindow* rowsWindow = nullptr;
  for (wxWindow* child : GetChildren()) {
    if (!rowsWindow || child->GetSize().y > rowsWindow->GetSize().y) rowsWindow = child;
  }
  if (!rowsWindow) rowsWindow = this;
  rowsWindow->Bind(wxEVT_LEFT_DOWN, [this](wxMouseEvent& event) {
    inDoubleClick_ = false;
    event.Skip();
    endEditingByClick();
  });
  rowsWindow->Bind(wxEVT_RIGHT_DOWN, [this](wxMouseEvent& event) {
    event.Skip();
    endEditingByClick();
  });
  rowsWindow->Bind(wxEVT_LEFT_UP, [this, rowsWindow](wxMouseEvent& event) {
    event.Skip();
    if (inDoubleClick_) {
      inDoubleClick_ = false;
      return;
    }
    emit(ListEvent::Click, rowsWindow->ClientToScreen(event.GetPosition()));
  });
  rowsWindow->Bind(wxEVT_LEFT_DCLICK, [this, rowsWindow](wxMouseEvent& event) {
    event.Skip();
    inDoubleClick_ = true;
    emit(ListEvent::DoubleClick, rowsWindow->ClientToScreen(event.GetPosition()));
  });
  rowsWindow->Bind(wxEVT_SET_FOCUS, [this](wxFocusEvent& event) {
    event.Skip();
    if (wxGetMouseState().LeftIsDown()) {
      emit(ListEvent::SetFocus, wxGetMousePosition());
    } else {
      emit(ListEvent::SetFocus, wxGetMousePosition(), -1, -1);
    }
  });
  Bind(wxEVT_CONTEXT_MENU, [this](wxContextMenuEvent& event) {
    wxPoint screen = event.GetPosition();
    if (screen == wxDefaultPosition) {
      // From the keyboard: at the selected row, or the list's corner.
      int row = selectedRow();
      wxRect rect;
      if (row >= 0 && GetItemRect(row, rect)) {
        screen = ClientToScreen(rect.GetPosition() + wxPoint(8, rect.height / 2));
      } else {
        screen = ClientToScreen(wxPoint(8, 8));
      }
    }
    emit(ListEvent::ContextMenu, screen);
  });
  Bind(wxEVT_LIST_COL_CLICK, [this](wxListEvent& event) {
    if (style_ & STYLE_NOSORTHEADER) return;
    emit(ListEvent::ColumnClick, wxGetMousePosition(), -1, event.GetColumn());
  });
  // No label editing of the toolkit's own: ours ends through the procedure.
  Bind(wxEVT_LIST_BEGIN_LABEL_EDIT, [](wxListEvent& event) { event.Veto(); });
}

void WxListView::detach() {
  attached_ = false;
  if (editor_) editor_->Hide();
  editRow_ = -1;
}

std::string WxListView::text(const Row& row, int column) const {
  if (column >= 0 && column < static_cast<int>(row.cells.size()) && row.cells[column]) {
    return *row.cells[column];
  }
  if (!attached_ || !cellText_) return {};
  return cellText_(row.data, column);
}

wxString WxListView::OnGetItemText(long item, long column) const {
  if (item < 0 || item >= static_cast<long>(rows_.size())) return {};
  return ToWxText(text(rows_[item], static_cast<int>(column)));
}

void WxListView::insertColumn(int index, const char* heading, int width) {
  int count = GetColumnCount();
  if (index < 0 || index > count) index = count;
  InsertColumn(index, ToWxText(heading), wxLIST_FORMAT_LEFT, width < 0 ? wxLIST_AUTOSIZE : width);
  for (Row& row : rows_) {
    if (static_cast<int>(row.cells.size()) > index) {
      row.cells.emplace(row.cells.begin() + index);
    }
  }
}

int WxListView::columnWidth(int column) const {
  if (column < 0 || column >= GetColumnCount()) return 0;
  return GetColumnWidth(column);
}

void WxListView::setColumnWidth(int column, int width) {
  if (column < 0 || column >= GetColumnCount()) return;
  if (width < 0) {
    // Fit to the widest text of the column; the toolkit's own fitting of a virtual list sees
    // only the rows on screen.
    int widest = 0;
    wxClientDC dc(this);
    dc.SetFont(GetFont());
    size_t limit = std::min<size_t>(rows_.size(), 5000);
    for (size_t i = 0; i < limit; ++i) {
      widest = std::max(widest, dc.GetTextExtent(ToWxText(text(rows_[i], column))).x);
    }
    width = widest + kCellPadding;
  }
  SetColumnWidth(column, width);
}

int WxListView::measure(const char* text) const {
  wxClientDC dc(const_cast<WxListView*>(this));
  dc.SetFont(GetFont());
  // The list draws a margin on both sides of a cell's text and shortens a text that does
  // not fit; the width asked for is the width that shows the text whole.
  return dc.GetTextExtent(ToWxText(text)).x + kTextMargin;
}

int WxListView::insertRow(int index, ItemData data, const char* text) {
  int count = rowCount();
  if (index < 0 || index > count) index = count;
  Row row{data, {}};
  if (text) row.cells.emplace_back(std::string(text));
  rows_.insert(rows_.begin() + index, std::move(row));
  SetItemCount(rows_.size());
  Refresh();
  return index;
}

ItemData WxListView::rowData(int row) const {
  if (row < 0 || row >= rowCount()) return 0;
  return rows_[row].data;
}

int WxListView::findRow(ItemData data) const {
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].data == data) return static_cast<int>(i);
  }
  return -1;
}

void WxListView::setCell(int row, int column, const char* text) {
  if (row < 0 || row >= rowCount() || column < 0 || column >= std::max(1, GetColumnCount())) {
    return;
  }
  auto& cells = rows_[row].cells;
  if (static_cast<int>(cells.size()) <= column) cells.resize(column + 1);
  if (text) {
    cells[column] = std::string(text);
  } else {
    cells[column].reset();
  }
  RefreshItem(row);
}

std::string WxListView::cell(int row, int column) const {
  if (row < 0 || row >= rowCount() || column < 0) return {};
  return text(rows_[row], column);
}

void WxListView::deleteRow(int row) {
  if (row < 0 || row >= rowCount()) return;
  if (editRow_ >= 0) finishEdit(false);
  int selected = selectedRow();
  rows_.erase(rows_.begin() + row);
  if (selected >= 0) SetItemState(selected, 0, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
  SetItemCount(rows_.size());
  if (selected > row) SetItemState(selected - 1, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  Refresh();
}

void WxListView::deleteAllRows() {
  if (editRow_ >= 0) finishEdit(false);
  rows_.clear();
  SetItemCount(0);
  Refresh();
}

void WxListView::sortRows(ListCompare compare, intptr_t param) {
  if (!compare || rows_.empty()) return;
  if (editRow_ >= 0) finishEdit(false);
  int selected = selectedRow();
  ItemData selectedData = selected >= 0 ? rows_[selected].data : 0;
  std::stable_sort(rows_.begin(), rows_.end(), [compare, param](const Row& a, const Row& b) {
    return compare(a.data, b.data, param) < 0;
  });
  if (selected >= 0) {
    SetItemState(selected, 0, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    int now = findRow(selectedData);
    if (now >= 0) {
      SetItemState(now, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                   wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    }
  }
  Refresh();
}

void WxListView::redrawRows(int first, int last) {
  if (rows_.empty()) return;
  if (first < 0 || last < 0) {
    first = std::max(0L, GetTopItem());
    last = first + GetCountPerPage() + 1;
  }
  first = std::max(first, 0);
  last = std::min(last, rowCount() - 1);
  if (first > last) return;
  RefreshItems(first, last);
}

int WxListView::selectedRow() const {
  return static_cast<int>(GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED));
}

void WxListView::cellAt(const wxPoint& screen, int* row, int* column) const {
  *row = -1;
  *column = -1;
  wxPoint point = ScreenToClient(screen);
  long top = std::max(0L, GetTopItem());
  long end = std::min<long>(rowCount(), top + GetCountPerPage() + 2);
  for (long r = top; r < end; ++r) {
    wxRect rect;
    if (!GetItemRect(r, rect)) continue;
    if (point.y < rect.y || point.y >= rect.y + rect.height) continue;
    *row = static_cast<int>(r);
    for (int c = 0; c < GetColumnCount(); ++c) {
      wxRect cellRect;
      if (GetSubItemRect(r, c, cellRect) && point.x >= cellRect.x &&
          point.x < cellRect.x + cellRect.width) {
        *column = c;
        break;
      }
    }
    return;
  }
  // Outside every row: the column can still be told for a click below the last row.
  if (rowCount() > 0) {
    wxRect cellRect;
    for (int c = 0; c < GetColumnCount(); ++c) {
      if (GetSubItemRect(top, c, cellRect) && point.x >= cellRect.x &&
          point.x < cellRect.x + cellRect.width) {
        *column = c;
        break;
      }
    }
  }
}

void WxListView::emit(ListEvent event, const wxPoint& screen, int row, int column) {
  int hitRow, hitColumn;
  cellAt(screen, &hitRow, &hitColumn);
  if (row == -2) row = hitRow;
  if (column == -2) column = hitColumn;
  ListNotify notify{GetId(), event, row, column, screen.x, screen.y, nullptr};
  // Delivered from the event loop, after the toolkit has finished with the mouse event.
  CallAfter([this, notify] {
    if (attached_ && notify_) notify_(notify);
  });
}

void WxListView::endEditingByClick() {
  // A click in the list ends the editing as a click elsewhere does; after the toolkit has
  // handled the click.
  if (editRow_ < 0) return;
  CallAfter([this] {
    if (editRow_ >= 0) finishEdit(true);
  });
}

void WxListView::editLabel(int row) {
  if (!attached_ || row < 0 || row >= rowCount()) return;
  if (editRow_ >= 0) finishEdit(true);
  EnsureVisible(row);
  wxRect rect;
  if (!GetSubItemRect(row, 0, rect)) return;
  if (!editor_) {
    editor_ = new wxTextCtrl(this, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize,
                             wxTE_PROCESS_ENTER);
    editor_->Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
      if (event.GetKeyCode() == WXK_RETURN || event.GetKeyCode() == WXK_NUMPAD_ENTER) {
        finishEdit(true);
      } else if (event.GetKeyCode() == WXK_ESCAPE) {
        finishEdit(false);
      } else {
        event.Skip();
      }
    });
    // The editing ends when the user moves the focus to another control. Focus that goes
    // away by itself (the window losing it for a moment as a popup menu closes, or the
    // toolkit handing it back to the list) comes back to the editor, so that what the user
    // types next, Enter included, still reaches it.
    editor_->Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& event) {
      event.Skip();
      CallAfter([this] {
        if (editRow_ < 0 || !editor_) return;
        wxWindow* now = wxWindow::FindFocus();
        if (now == editor_) return;
        if (!now || now == this || now->GetParent() == this) {
          if (now) editor_->SetFocus();
          return;
        }
        finishEdit(true);
      });
    });
  }
  int height = std::max(rect.height, editor_->GetBestSize().y);
  editor_->SetSize(rect.x, rect.y + (rect.height - height) / 2, std::max(rect.width, 60), height);
  editor_->ChangeValue(ToWxText(cell(row, 0)));
  editRow_ = row;
  editor_->Show();
  editor_->Raise();
  editor_->SetFocus();
  editor_->SelectAll();
}

void WxListView::finishEdit(bool accept) {
  if (editRow_ < 0 || !editor_) return;
  int row = editRow_;
  editRow_ = -1;
  std::string edited = FromWxText(editor_->GetValue());
  editor_->Hide();
  SetFocus();
  if (!attached_ || row >= rowCount()) return;
  ListNotify notify{GetId(), ListEvent::EndLabelEdit,          row, 0, 0,
                    0,       accept ? edited.c_str() : nullptr};
  int result = notify_ ? notify_(notify) : 0;
  if (!attached_ || row >= rowCount()) return;
  Row& stored = rows_[row];
  if (accept && result != 0 && !stored.cells.empty() && stored.cells[0]) {
    stored.cells[0] = edited;
  }
  RefreshItem(row);
}
