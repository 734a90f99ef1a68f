#include "ui/headless/headless_ui.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>

namespace {

constexpr int PIXELS_PER_BYTE = 6;
constexpr int MAX_TEXT_LIMIT = 0x7FFFFFFE;

std::string Cut(const char* text, size_t room) {
  std::string s = text ? text : "";
  if (s.size() > room) s.resize(room);
  return s;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// HeadlessWindow: Window

HeadlessWindow::HeadlessWindow(HeadlessUi& ui, const DialogTemplate& tmpl, DialogProc& proc,
                               HeadlessWindow* owner)
    : ui_(ui), template_(tmpl), proc_(proc), owner_(owner) {
  caption_ = tmpl.caption ? tmpl.caption : "";
  controls_.resize(static_cast<size_t>(std::max(tmpl.controlCount, 0)));
  for (int i = 0; i < tmpl.controlCount; ++i) {
    Control& c = controls_[static_cast<size_t>(i)];
    c.tmpl = &tmpl.controls[i];
    c.text = c.tmpl->caption ? c.tmpl->caption : "";
    c.enabled = (c.tmpl->style & STYLE_DISABLED) == 0;
  }
}

HeadlessWindow::~HeadlessWindow() = default;

void HeadlessWindow::post(std::function<void(Controls&)> work) {
  if (!work) return;
  ui_.enqueue([this, work = std::move(work)] {
    if (!ended_) work(*this);
  });
}

void HeadlessWindow::postMessage(int message, intptr_t wParam, intptr_t lParam) {
  ui_.enqueue([this, message, wParam, lParam] {
    if (!ended_) proc_.onMessage(*this, message, wParam, lParam);
  });
}

void HeadlessWindow::endDialog(int result) {
  if (ended_) return;
  result_ = result;
  ended_ = true;
  ui_.windowEnded();
}

void HeadlessWindow::sendCommand(int id, int code) {
  if (!ended_) proc_.onCommand(*this, id, code);
}

int HeadlessWindow::trackPopupMenu(const std::vector<MenuItem>& items, int screenX, int screenY) {
  HeadlessUi::MenuHandler handler;
  {
    std::lock_guard<std::mutex> hold(ui_.answersMutex_);
    ui_.lastMenu_.clear();
    for (const MenuItem& item : items)
      ui_.lastMenu_.emplace_back(item.command, item.text ? item.text : "");
    ++ui_.menuCount_;
    handler = ui_.menuHandler_;
  }
  if (!handler) return 0;
  int chosen = handler(items, screenX, screenY);
  // A menu can only return one of its own commands.
  for (const MenuItem& item : items)
    if (item.command != 0 && item.command == chosen) return chosen;
  return 0;
}

bool HeadlessWindow::setClipboardText(const char* text) {
  std::lock_guard<std::mutex> hold(ui_.answersMutex_);
  if (!ui_.clipboardAvailable_ || !text) return false;
  ui_.clipboard_ = text;
  return true;
}

bool HeadlessWindow::browseForFolder(const char* title, std::string& value) {
  HeadlessUi::PathHandler handler;
  {
    std::lock_guard<std::mutex> hold(ui_.answersMutex_);
    handler = ui_.browseHandler_;
  }
  return handler ? handler(title ? title : "", value) : false;
}

bool HeadlessWindow::chooseOpenFile(const char* title,
                                    const std::vector<std::pair<std::string, std::string>>&,
                                    std::string& value) {
  HeadlessUi::PathHandler handler;
  {
    std::lock_guard<std::mutex> hold(ui_.answersMutex_);
    handler = ui_.openFileHandler_;
  }
  return handler ? handler(title ? title : "", value) : false;
}

int HeadlessWindow::showModal(int templateId, DialogProc& proc) {
  if (ui_.isUiThread()) return ui_.runModal(templateId, proc, this);
  int result = -1;
  ui_.run([&] { result = ui_.runModal(templateId, proc, this); });
  return result;
}

// ---------------------------------------------------------------------------------------
// HeadlessWindow: Controls

HeadlessWindow::Control* HeadlessWindow::findAny(int id) {
  for (Control& c : controls_)
    if (c.tmpl->id == id) return &c;
  return nullptr;
}

HeadlessWindow::Control* HeadlessWindow::find(int id, ControlKind kind) {
  Control* c = findAny(id);
  return c && c->tmpl->kind == kind ? c : nullptr;
}

HeadlessWindow::Control* HeadlessWindow::findList(int id) {
  return find(id, ControlKind::ListView);
}
HeadlessWindow::Control* HeadlessWindow::findEdit(int id) { return find(id, ControlKind::Edit); }
HeadlessWindow::Control* HeadlessWindow::findProgress(int id) {
  return find(id, ControlKind::ProgressBar);
}

std::string HeadlessWindow::getText(int id) {
  if (id == 0) return caption_;
  Control* c = findAny(id);
  return c ? c->text : std::string();
}

void HeadlessWindow::setText(int id, const char* text) {
  if (id == 0) {
    caption_ = text ? text : "";
    return;
  }
  Control* c = findAny(id);
  if (!c || c->tmpl->kind == ControlKind::ListView || c->tmpl->kind == ControlKind::ProgressBar)
    return;
  c->text = text ? text : "";
  c->selStart = c->selEnd = 0;
}

int HeadlessWindow::getTextLength(int id) { return static_cast<int>(getText(id).size()); }

void HeadlessWindow::setSelection(int id, int start, int end) {
  Control* c = findEdit(id);
  if (!c) return;
  int length = static_cast<int>(c->text.size());
  if (start == -1) {  // deselects, leaving the caret where it was
    c->selStart = c->selEnd;
    return;
  }
  if (end == -1) end = length;
  start = std::clamp(start, 0, length);
  end = std::clamp(end, 0, length);
  if (start > end) std::swap(start, end);
  c->selStart = start;
  c->selEnd = end;
}

void HeadlessWindow::getSelection(int id, int* start, int* end) {
  Control* c = findEdit(id);
  if (start) *start = c ? c->selStart : 0;
  if (end) *end = c ? c->selEnd : 0;
}

void HeadlessWindow::replaceSelection(int id, const char* text) {
  Control* c = findEdit(id);
  if (!c) return;
  size_t s = static_cast<size_t>(c->selStart), e = static_cast<size_t>(c->selEnd);
  size_t kept = c->text.size() - (e - s);
  // As with a real edit control, the text limit cuts what is inserted.
  size_t room = static_cast<size_t>(c->limit) > kept ? static_cast<size_t>(c->limit) - kept : 0;
  std::string insert = Cut(text, room);
  c->text.replace(s, e - s, insert);
  c->selStart = c->selEnd = static_cast<int>(s + insert.size());
}

void HeadlessWindow::clearSelection(int id) {
  Control* c = findEdit(id);
  if (!c) return;
  c->text.erase(static_cast<size_t>(c->selStart), static_cast<size_t>(c->selEnd - c->selStart));
  c->selEnd = c->selStart;
}

void HeadlessWindow::setTextLimit(int id, int limit) {
  Control* c = findEdit(id);
  if (c) c->limit = limit <= 0 ? MAX_TEXT_LIMIT : limit;
}

bool HeadlessWindow::isChecked(int id) {
  Control* c = findAny(id);
  return c && c->checked;
}

void HeadlessWindow::setChecked(int id, bool checked) {
  Control* c = findAny(id);
  if (c && (c->tmpl->kind == ControlKind::CheckBox || c->tmpl->kind == ControlKind::RadioButton))
    c->checked = checked;
}

bool HeadlessWindow::isEnabled(int id) {
  Control* c = findAny(id);
  return c && c->enabled;
}

void HeadlessWindow::setEnabled(int id, bool enabled) {
  Control* c = findAny(id);
  if (c) c->enabled = enabled;
}

void HeadlessWindow::setFocus(int id) {
  if (findAny(id)) focus_ = id;
}

void HeadlessWindow::setProgressRange(int id, int low, int high) {
  Control* c = findProgress(id);
  if (!c) return;
  c->low = low;
  c->high = high;
  c->pos = std::clamp(c->pos, std::min(low, high), std::max(low, high));
}

void HeadlessWindow::setProgressStep(int id, int step) {
  Control* c = findProgress(id);
  if (c) c->step = step;
}

void HeadlessWindow::setProgressPos(int id, int pos) {
  Control* c = findProgress(id);
  if (c) c->pos = std::clamp(pos, std::min(c->low, c->high), std::max(c->low, c->high));
}

void HeadlessWindow::stepProgress(int id) {
  Control* c = findProgress(id);
  if (!c) return;
  long long next = static_cast<long long>(c->pos) + c->step;
  if (c->high > c->low && (next > c->high || next < c->low)) {
    long long span = static_cast<long long>(c->high) - c->low;
    next = c->low + ((next - c->low) % span + span) % span;
  }
  c->pos = static_cast<int>(next);
}

int HeadlessWindow::getProgressPos(int id) {
  Control* c = findProgress(id);
  return c ? c->pos : 0;
}

void HeadlessWindow::insertListColumn(int id, int index, const char* heading, int width) {
  Control* c = findList(id);
  if (!c) return;
  size_t at = static_cast<size_t>(std::clamp(index, 0, static_cast<int>(c->columns.size())));
  c->columns.insert(c->columns.begin() + static_cast<long>(at),
                    Column{heading ? heading : "", width});
  for (Row& row : c->rows)
    if (at <= row.cells.size())
      row.cells.insert(row.cells.begin() + static_cast<long>(at), std::string());
}

int HeadlessWindow::getListColumnWidth(int id, int column) {
  Control* c = findList(id);
  if (!c || column < 0 || column >= static_cast<int>(c->columns.size())) return 0;
  return c->columns[static_cast<size_t>(column)].width;
}

void HeadlessWindow::setListColumnWidth(int id, int column, int width) {
  Control* c = findList(id);
  if (!c || column < 0 || column >= static_cast<int>(c->columns.size())) return;
  if (width < 0) {  // fit the contents
    width = 0;
    for (int r = 0; r < static_cast<int>(c->rows.size()); ++r)
      width = std::max(width, measureText(id, cellText(*c, id, r, column).c_str()));
    width += 12;
  }
  c->columns[static_cast<size_t>(column)].width = width;
}

int HeadlessWindow::measureText(int, const char* text) {
  return text ? static_cast<int>(std::strlen(text)) * PIXELS_PER_BYTE : 0;
}

int HeadlessWindow::insertListRow(int id, int index, ItemData data, const char* text) {
  Control* c = findList(id);
  if (!c) return -1;
  int count = static_cast<int>(c->rows.size());
  int at = index < 0 || index > count ? count : index;
  Row row;
  row.data = data;
  size_t columns = std::max<size_t>(c->columns.size(), 1);
  if (text) {
    row.cells.assign(columns, std::string());
    row.cells[0] = std::string(text);
  } else {
    row.cells.assign(columns, std::nullopt);
  }
  c->rows.insert(c->rows.begin() + at, std::move(row));
  if (c->selectedRow >= at) ++c->selectedRow;
  if (c->editRow >= at) ++c->editRow;
  return at;
}

int HeadlessWindow::getListRowCount(int id) {
  Control* c = findList(id);
  return c ? static_cast<int>(c->rows.size()) : 0;
}

ItemData HeadlessWindow::getListRowData(int id, int row) {
  Control* c = findList(id);
  if (!c || row < 0 || row >= static_cast<int>(c->rows.size())) return 0;
  return c->rows[static_cast<size_t>(row)].data;
}

int HeadlessWindow::findListRow(int id, ItemData data) {
  Control* c = findList(id);
  if (!c) return -1;
  for (size_t i = 0; i < c->rows.size(); ++i)
    if (c->rows[i].data == data) return static_cast<int>(i);
  return -1;
}

void HeadlessWindow::setListCell(int id, int row, int column, const char* text) {
  Control* c = findList(id);
  if (!c || row < 0 || row >= static_cast<int>(c->rows.size()) || column < 0) return;
  Row& r = c->rows[static_cast<size_t>(row)];
  if (static_cast<size_t>(column) >= r.cells.size())
    r.cells.resize(static_cast<size_t>(column) + 1, std::string());
  if (text)
    r.cells[static_cast<size_t>(column)] = std::string(text);
  else
    r.cells[static_cast<size_t>(column)] = std::nullopt;
}

std::string HeadlessWindow::cellText(Control& list, int listId, int row, int column) {
  if (row < 0 || row >= static_cast<int>(list.rows.size()) || column < 0) return {};
  Row& r = list.rows[static_cast<size_t>(row)];
  if (static_cast<size_t>(column) < r.cells.size()) {
    const std::optional<std::string>& cell = r.cells[static_cast<size_t>(column)];
    if (cell) return *cell;
    return proc_.listCellText(*this, listId, r.data, column);
  }
  return {};
}

std::string HeadlessWindow::getListCell(int id, int row, int column) {
  Control* c = findList(id);
  return c ? cellText(*c, id, row, column) : std::string();
}

void HeadlessWindow::deleteListRow(int id, int row) {
  Control* c = findList(id);
  if (!c || row < 0 || row >= static_cast<int>(c->rows.size())) return;
  c->rows.erase(c->rows.begin() + row);
  if (c->selectedRow == row)
    c->selectedRow = -1;
  else if (c->selectedRow > row)
    --c->selectedRow;
  if (c->editRow == row)
    c->editRow = -1;
  else if (c->editRow > row)
    --c->editRow;
}

void HeadlessWindow::deleteAllListRows(int id) {
  Control* c = findList(id);
  if (!c) return;
  c->rows.clear();
  c->selectedRow = -1;
  c->editRow = -1;
}

void HeadlessWindow::sortList(int id, ListCompare compare, intptr_t param) {
  Control* c = findList(id);
  if (!c || !compare) return;
  // The selection stays with its row, found again by position in the sorted order.
  std::vector<std::pair<Row, bool>> tagged;
  tagged.reserve(c->rows.size());
  for (size_t i = 0; i < c->rows.size(); ++i)
    tagged.emplace_back(std::move(c->rows[i]), static_cast<int>(i) == c->selectedRow);
  std::stable_sort(tagged.begin(), tagged.end(), [&](const auto& a, const auto& b) {
    return compare(a.first.data, b.first.data, param) < 0;
  });
  c->rows.clear();
  c->selectedRow = -1;
  for (size_t i = 0; i < tagged.size(); ++i) {
    if (tagged[i].second) c->selectedRow = static_cast<int>(i);
    c->rows.push_back(std::move(tagged[i].first));
  }
  c->editRow = -1;
}

void HeadlessWindow::redrawListRows(int, int, int) {}

int HeadlessWindow::getSelectedListRow(int id) {
  Control* c = findList(id);
  return c ? c->selectedRow : -1;
}

void HeadlessWindow::editListLabel(int id, int row) {
  Control* c = findList(id);
  if (c && row >= 0 && row < static_cast<int>(c->rows.size())) c->editRow = row;
}

// ---------------------------------------------------------------------------------------
// HeadlessWindow: test side

void HeadlessWindow::run(const std::function<void(HeadlessWindow&)>& fn) {
  if (ui_.isUiThread()) {
    fn(*this);
    return;
  }
  ui_.run([&] { fn(*this); });
}

bool HeadlessWindow::clickNow(int id) {
  if (ended_) return false;
  Control* c = findAny(id);
  if (!c || !c->enabled) return false;
  if (c->tmpl->kind == ControlKind::CheckBox) {
    c->checked = !c->checked;
  } else if (c->tmpl->kind == ControlKind::RadioButton && (c->tmpl->style & STYLE_AUTORADIO)) {
    size_t at = static_cast<size_t>(c - controls_.data());
    size_t first = at;
    while (first > 0 && !(controls_[first].tmpl->style & STYLE_GROUP)) --first;
    for (size_t i = first; i < controls_.size(); ++i) {
      if (i > first && (controls_[i].tmpl->style & STYLE_GROUP)) break;
      if (controls_[i].tmpl->kind == ControlKind::RadioButton) controls_[i].checked = false;
    }
    c->checked = true;
  }
  focus_ = id;
  proc_.onCommand(*this, id, 0);
  return true;
}

bool HeadlessWindow::click(int id) {
  bool done = false;
  run([&](HeadlessWindow& w) { done = w.clickNow(id); });
  return done;
}

void HeadlessWindow::clickLater(int id) {
  ui_.enqueue([this, id] { clickNow(id); });
}

void HeadlessWindow::pressEnter() {
  run([](HeadlessWindow& w) {
    Control* focused = w.findAny(w.focus_);
    if (focused && (focused->tmpl->kind == ControlKind::PushButton ||
                    focused->tmpl->kind == ControlKind::DefPushButton)) {
      w.clickNow(w.focus_);
      return;
    }
    for (Control& c : w.controls_) {
      if (c.tmpl->kind == ControlKind::DefPushButton) {
        w.clickNow(c.tmpl->id);
        return;
      }
    }
  });
}

void HeadlessWindow::pressEscape() { command(ID_CANCEL, 0); }

void HeadlessWindow::command(int id, int code) {
  run([&](HeadlessWindow& w) { w.sendCommand(id, code); });
}

void HeadlessWindow::close() {
  run([](HeadlessWindow& w) {
    if (!w.ended_) w.proc_.onClose(w);
  });
}

void HeadlessWindow::type(int id, const char* text) {
  run([&](HeadlessWindow& w) {
    Control* c = w.findEdit(id);
    if (!c || !c->enabled || w.ended_) return;
    std::string typed;
    for (const char* p = text ? text : ""; *p; ++p)
      if (!(c->tmpl->style & STYLE_NUMBER) || (*p >= '0' && *p <= '9')) typed += *p;
    if (typed.size() > static_cast<size_t>(c->limit)) typed.resize(static_cast<size_t>(c->limit));
    c->text = typed;
    c->selStart = c->selEnd = static_cast<int>(typed.size());
    w.focus_ = id;
    w.proc_.onCommand(w, id, EDIT_CHANGE);
  });
}

int HeadlessWindow::notify(const ListNotify& n) {
  int result = 0;
  run([&](HeadlessWindow& w) {
    if (w.ended_) return;
    Control* c = w.findList(n.listId);
    if (c && n.row >= 0 && n.row < static_cast<int>(c->rows.size()) &&
        (n.event == ListEvent::Click || n.event == ListEvent::DoubleClick ||
         n.event == ListEvent::ContextMenu))
      c->selectedRow = n.row;
    result = w.proc_.onListNotify(w, n);
  });
  return result;
}

void HeadlessWindow::selectRow(int listId, int row) {
  run([&](HeadlessWindow& w) {
    Control* c = w.findList(listId);
    if (c) c->selectedRow = row >= 0 && row < static_cast<int>(c->rows.size()) ? row : -1;
  });
}

int HeadlessWindow::endLabelEdit(int listId, const char* text) {
  int result = 0;
  run([&](HeadlessWindow& w) {
    Control* c = w.findList(listId);
    if (!c || c->editRow < 0 || w.ended_) return;
    int row = c->editRow;
    c->editRow = -1;
    ListNotify n{listId, ListEvent::EndLabelEdit, row, 0, 0, 0, text};
    result = w.proc_.onListNotify(w, n);
    c = w.findList(listId);
    if (result && text && c && row < static_cast<int>(c->rows.size()))
      c->rows[static_cast<size_t>(row)].cells[0] = std::string(text);
  });
  return result;
}

void HeadlessWindow::message(int msg, intptr_t wParam, intptr_t lParam) {
  run([&](HeadlessWindow& w) {
    if (!w.ended_) w.proc_.onMessage(w, msg, wParam, lParam);
  });
}

std::string HeadlessWindow::text(int id) {
  std::string r;
  run([&](HeadlessWindow& w) { r = w.getText(id); });
  return r;
}

bool HeadlessWindow::checked(int id) {
  bool r = false;
  run([&](HeadlessWindow& w) { r = w.isChecked(id); });
  return r;
}

bool HeadlessWindow::enabled(int id) {
  bool r = false;
  run([&](HeadlessWindow& w) { r = w.isEnabled(id); });
  return r;
}

int HeadlessWindow::focus() {
  int r = 0;
  run([&](HeadlessWindow& w) { r = w.focus_; });
  return r;
}

int HeadlessWindow::textLimit(int id) {
  int r = 0;
  run([&](HeadlessWindow& w) {
    Control* c = w.findEdit(id);
    r = c ? c->limit : 0;
  });
  return r;
}

std::pair<int, int> HeadlessWindow::selection(int id) {
  std::pair<int, int> r;
  run([&](HeadlessWindow& w) { w.getSelection(id, &r.first, &r.second); });
  return r;
}

int HeadlessWindow::progressPos(int id) {
  int r = 0;
  run([&](HeadlessWindow& w) { r = w.getProgressPos(id); });
  return r;
}

std::pair<int, int> HeadlessWindow::progressRange(int id) {
  std::pair<int, int> r;
  run([&](HeadlessWindow& w) {
    Control* c = w.findProgress(id);
    if (c) r = {c->low, c->high};
  });
  return r;
}

int HeadlessWindow::progressStep(int id) {
  int r = 0;
  run([&](HeadlessWindow& w) {
    Control* c = w.findProgress(id);
    r = c ? c->step : 0;
  });
  return r;
}

int HeadlessWindow::rowCount(int listId) {
  int r = 0;
  run([&](HeadlessWindow& w) { r = w.getListRowCount(listId); });
  return r;
}

ItemData HeadlessWindow::rowData(int listId, int row) {
  ItemData r = 0;
  run([&](HeadlessWindow& w) { r = w.getListRowData(listId, row); });
  return r;
}

std::string HeadlessWindow::cell(int listId, int row, int column) {
  std::string r;
  run([&](HeadlessWindow& w) { r = w.getListCell(listId, row, column); });
  return r;
}

std::vector<std::vector<std::string>> HeadlessWindow::rows(int listId) {
  std::vector<std::vector<std::string>> r;
  run([&](HeadlessWindow& w) {
    Control* c = w.findList(listId);
    if (!c) return;
    size_t columns = std::max<size_t>(c->columns.size(), 1);
    for (int i = 0; i < static_cast<int>(c->rows.size()); ++i) {
      std::vector<std::string> texts;
      for (size_t k = 0; k < columns; ++k)
        texts.push_back(w.cellText(*c, listId, i, static_cast<int>(k)));
      r.push_back(std::move(texts));
    }
  });
  return r;
}

std::vector<std::pair<std::string, int>> HeadlessWindow::columns(int listId) {
  std::vector<std::pair<std::string, int>> r;
  run([&](HeadlessWindow& w) {
    Control* c = w.findList(listId);
    if (c)
      for (const Column& col : c->columns) r.emplace_back(col.heading, col.width);
  });
  return r;
}

int HeadlessWindow::labelEditRow(int listId) {
  int r = -1;
  run([&](HeadlessWindow& w) {
    Control* c = w.findList(listId);
    r = c ? c->editRow : -1;
  });
  return r;
}

bool HeadlessWindow::ended() { return ended_; }

int HeadlessWindow::result() {
  int r = 0;
  run([&](HeadlessWindow& w) { r = w.result_; });
  return r;
}

// ---------------------------------------------------------------------------------------
// HeadlessUi

HeadlessUi::HeadlessUi() {
  std::lock_guard<std::mutex> hold(mutex_);
  thread_ = std::thread([this] { loop(); });
  uiThreadId_ = thread_.get_id();
}

HeadlessUi::~HeadlessUi() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool HeadlessUi::isUiThread() const { return std::this_thread::get_id() == uiThreadId_; }

bool HeadlessUi::enqueue(std::function<void()> task) {
  // Notified under the lock: once the lock is free, a HeadlessUi being destroyed is no
  // longer touched by this thread.
  std::lock_guard<std::mutex> hold(mutex_);
  if (!accepting_) return false;
  queue_.push_back(std::move(task));
  wake_.notify_one();
  return true;
}

bool HeadlessUi::runNext() {
  std::function<void()> task;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [&] { return !queue_.empty() || stopping_; });
    if (queue_.empty()) {
      accepting_ = false;
      changed_.notify_all();
      return false;
    }
    task = std::move(queue_.front());
    queue_.pop_front();
  }
  task();
  return true;
}

void HeadlessUi::loop() {
  {
    std::lock_guard<std::mutex> hold(mutex_);  // waits until the constructor set the id
  }
  while (runNext()) {
  }
}

void HeadlessUi::run(const std::function<void()>& fn) {
  if (isUiThread()) {
    fn();
    return;
  }
  std::promise<void> done;
  std::future<void> finished = done.get_future();
  if (!enqueue([&] {
        fn();
        done.set_value();
      }))
    return;
  finished.wait();
}

void HeadlessUi::flush() {
  run([] {});
}

void HeadlessUi::settle() {
  if (isUiThread()) return;
  for (;;) {
    flush();
    std::lock_guard<std::mutex> hold(mutex_);
    if (queue_.empty() || !accepting_) return;
  }
}

HeadlessWindow* HeadlessUi::create(int templateId, DialogProc& proc, HeadlessWindow* owner) {
  const DialogTemplate* tmpl = FindDialogTemplate(templateId);
  if (!tmpl) return nullptr;
  auto window = std::make_unique<HeadlessWindow>(*this, *tmpl, proc, owner);
  HeadlessWindow* w = window.get();
  {
    std::lock_guard<std::mutex> hold(mutex_);
    windows_.push_back(std::move(window));
  }
  changed_.notify_all();
  return w;
}

void HeadlessUi::windowEnded() {
  std::lock_guard<std::mutex> hold(mutex_);
  changed_.notify_all();
}

int HeadlessUi::runModal(int templateId, DialogProc& proc, HeadlessWindow* owner) {
  HeadlessWindow* w = create(templateId, proc, owner);
  if (!w) return -1;
  proc.onInit(*w);
  DialogHandler handler;
  {
    std::lock_guard<std::mutex> hold(answersMutex_);
    for (auto& entry : dialogHandlers_)
      if (entry.first == templateId) handler = entry.second;
  }
  if (handler && !w->ended_) handler(*w);
  // The dialog's own message loop: posted work of every window goes on running meanwhile.
  while (!w->ended_) {
    if (!runNext()) {
      w->endDialog(-1);
      break;
    }
  }
  return w->result_;
}

int HeadlessUi::runDialog(int templateId, DialogProc& proc) {
  if (isUiThread()) return runModal(templateId, proc, nullptr);
  int result = -1;
  run([&] { result = runModal(templateId, proc, nullptr); });
  return result;
}

HeadlessWindow* HeadlessUi::open(int templateId, DialogProc& proc, HeadlessWindow* owner) {
  HeadlessWindow* w = nullptr;
  run([&] {
    w = create(templateId, proc, owner);
    if (w) proc.onInit(*w);
  });
  return w;
}

void HeadlessUi::setDialogHandler(int templateId, DialogHandler handler) {
  std::lock_guard<std::mutex> hold(answersMutex_);
  dialogHandlers_.erase(std::remove_if(dialogHandlers_.begin(), dialogHandlers_.end(),
                                       [&](const auto& e) { return e.first == templateId; }),
                        dialogHandlers_.end());
  if (handler) dialogHandlers_.emplace_back(templateId, std::move(handler));
}

void HeadlessUi::setMenuHandler(MenuHandler handler) {
  std::lock_guard<std::mutex> hold(answersMutex_);
  menuHandler_ = std::move(handler);
}

std::vector<MenuItem> HeadlessUi::lastMenu() {
  // Texts point into storage that the next menu replaces; lastMenuTexts() copies them.
  std::lock_guard<std::mutex> hold(answersMutex_);
  std::vector<MenuItem> items;
  for (const auto& item : lastMenu_)
    items.push_back(MenuItem{item.first, item.first ? item.second.c_str() : nullptr});
  return items;
}

std::vector<std::string> HeadlessUi::lastMenuTexts() {
  std::lock_guard<std::mutex> hold(answersMutex_);
  std::vector<std::string> texts;
  for (const auto& item : lastMenu_) texts.push_back(item.second);
  return texts;
}

int HeadlessUi::menuCount() {
  std::lock_guard<std::mutex> hold(answersMutex_);
  return menuCount_;
}

void HeadlessUi::setBrowseForFolderHandler(PathHandler handler) {
  std::lock_guard<std::mutex> hold(answersMutex_);
  browseHandler_ = std::move(handler);
}

void HeadlessUi::setChooseOpenFileHandler(PathHandler handler) {
  std::lock_guard<std::mutex> hold(answersMutex_);
  openFileHandler_ = std::move(handler);
}

std::string HeadlessUi::clipboardText() {
  std::lock_guard<std::mutex> hold(answersMutex_);
  return clipboard_;
}

void HeadlessUi::setClipboardText(const std::string& text) {
  std::lock_guard<std::mutex> hold(answersMutex_);
  clipboard_ = text;
}

void HeadlessUi::setClipboardAvailable(bool available) {
  std::lock_guard<std::mutex> hold(answersMutex_);
  clipboardAvailable_ = available;
}

HeadlessWindow* HeadlessUi::waitForDialog(int templateId, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  HeadlessWindow* found = nullptr;
  changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it) {
      if ((*it)->templateId() == templateId && !(*it)->ended_) {
        found = it->get();
        return true;
      }
    }
    return false;
  });
  return found;
}

std::vector<HeadlessWindow*> HeadlessUi::windows() {
  std::lock_guard<std::mutex> hold(mutex_);
  std::vector<HeadlessWindow*> list;
  for (auto& w : windows_) list.push_back(w.get());
  return list;
}
