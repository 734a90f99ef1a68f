// A report-view list whose rows are item data of the program and whose texts are either
// stored or supplied on demand by the dialog procedure. UI thread only.
#pragma once

#include <wx/listctrl.h>
#include <wx/textctrl.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/window.h"

class WxListView : public wxListCtrl {
 public:
  // cellText supplies a text that is not stored; notify receives the list's notifications
  // (called later from the event loop, never inside the toolkit's own handlers).
  WxListView(wxWindow* parent, int id, const wxPoint& pos, const wxSize& size, uint32_t style,
             std::function<std::string(ItemData, int)> cellText,
             std::function<int(const ListNotify&)> notify);

  void insertColumn(int index, const char* heading, int width);
  int columnWidth(int column) const;
  void setColumnWidth(int column, int width);
  int measure(const char* text) const;
  int insertRow(int index, ItemData data, const char* text);
  int rowCount() const { return static_cast<int>(rows_.size()); }
  ItemData rowData(int row) const;
  int findRow(ItemData data) const;
  void setCell(int row, int column, const char* text);
  std::string cell(int row, int column) const;
  void deleteRow(int row);
  void deleteAllRows();
  void sortRows(ListCompare compare, intptr_t param);
  void redrawRows(int first, int last);
  int selectedRow() const;
  void editLabel(int row);
  // A row's label editor is open.
  bool editing() const { return editRow_ >= 0; }
  // Ends the open editing, taking the edited text or dropping it.
  void endEditing(bool accept) { finishEdit(accept); }

  // Row and column of the cell under a point on the screen (-1 where none). The toolkit's own
  // hit test on GTK neither gives the column nor allows for the header, so the cell is found
  // from the rectangles of the visible rows.
  void cellAt(const wxPoint& screen, int* row, int* column) const;
  // Ends every callback into the dialog procedure: the window is closing.
  void detach();

 protected:
  wxString OnGetItemText(long item, long column) const override;

 private:
  struct Row {
    ItemData data;
    std::vector<std::optional<std::string>> cells;  // unset: supplied on demand
  };
  std::string text(const Row& row, int column) const;
  void emit(ListEvent event, const wxPoint& screen, int row = -2, int column = -2);
  void finishEdit(bool accept);
  void endEditingByClick();

  std::function<std::string(ItemData, int)> cellText_;
  std::function<int(const ListNotify&)> notify_;
  std::vector<Row> rows_;
  uint32_t style_;
  bool attached_ = true;
  wxTextCtrl* editor_ = nullptr;
  int editRow_ = -1;
  bool inDoubleClick_ = false;
};
